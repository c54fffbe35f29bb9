#pragma once
// The client side of a Telnet connection with the COM-PORT-OPTION (RFC 2217),
// as a serial device server speaks it: the options negotiated (binary in both
// directions, suppressed go-ahead, the COM port option), the line settings
// sent as SET commands, the server's answers to them checked off, and the
// data bytes told from the Telnet commands around them. It only turns bytes
// into bytes: the network line sends and receives them.
//
// The speed and the framing (data bits, parity, stop bits) must come back as
// asked: the line is useless otherwise. Flow control, DTR and RTS are asked
// for too, but a server whose port has no modem-control lines (a
// pseudo-terminal, a UART whose driver refuses them) never answers those, so
// their answers are taken when they come and only noted when they do not.

#include "os/platform.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TRfc2217Client {
 public:
  // The longest Telnet subnegotiation taken: the COM port option's longest
  // (a signature text) is far shorter.
  static constexpr size_t kMaxSubnegotiation = 512;

  // Data bytes as they go into the Telnet stream: every 255 (IAC) doubled.
  static std::string Escape(std::string_view data);

  // The option requests, to go out first on a new connection.
  std::string Greeting();
  // The SET commands that give the server's port these settings: rate, data
  // bits, parity, stop bits, flow control, DTR and RTS, and then a request
  // for the current rate, so that a server that answers in order has
  // answered the controls by the time the last answer comes. The answers are
  // awaited from now on (see Settled); those of an earlier call are no
  // longer.
  std::string LineCommands(const comdev::LineSettings& line);

  // Takes bytes the server sent: appends the data bytes among them to `data`
  // and returns what must go back (answers to the server's option requests).
  // A command cut at the end of `bytes` is completed by the next call.
  std::string Receive(std::string_view bytes, std::string& data);

  // The server agreed to binary transmission both ways and to the COM port
  // option, and answered each of the framing commands sent (the rate request
  // too) with the value asked for.
  bool Settled() const;
  // Why the settings cannot be had, or empty: the server refused binary
  // transmission or the COM port option, or answered a framing command with
  // another value than the one asked for (a setting its port cannot take).
  const std::string& Refusal() const { return refusal_; }
  // The server sent a subnegotiation longer than kMaxSubnegotiation: the
  // stream is not a device server's.
  bool Overrun() const { return overrun_; }
  // The flow-control, DTR and RTS commands not answered with the value asked
  // for so far, each as "DTR on (no answer)" or "flow control none (answered
  // hardware)".
  std::vector<std::string> Unconfirmed() const;

 private:
  // One side of an option (RFC 1143 without the queue): off, asked for, on.
  enum class OptionState : std::uint8_t { No, WantYes, Yes };
  struct Answer {
    std::uint8_t command;  // the server's code: the SET command's plus 100
    std::string value;
    bool required;      // framing: another value is a refusal
    std::string other;  // a best-effort command's answer with another value
  };

  std::string Ask(std::uint8_t request, std::uint8_t option);
  std::string Negotiate(std::uint8_t verb, std::uint8_t option);
  void Refuse(const std::string& why);
  void Subnegotiation(const std::string& body);
  std::string Command(std::uint8_t byte);
  bool Agreed(std::uint8_t option, bool bothWays) const;

  std::array<OptionState, 256> ours_{};    // what we do (WILL / WONT)
  std::array<OptionState, 256> theirs_{};  // what the server does (DO / DONT)
  std::vector<Answer> awaited_;            // the latest LineCommands'
  std::string refusal_;
  bool overrun_ = false;

  // The receiver's place in the Telnet stream.
  enum class Parse : std::uint8_t { Data, Iac, Verb, Sub, SubIac };
  Parse parse_ = Parse::Data;
  std::uint8_t verb_ = 0;
  std::string sub_;
};
