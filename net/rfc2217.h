#pragma once
// The client side of a Telnet connection with the COM-PORT-OPTION (RFC 2217),
// as a serial device server speaks it: the options negotiated (binary in both
// directions, suppressed go-ahead, the COM port option), the line settings
// sent as SET commands, the server's answers to them checked off, and the
// data bytes told from the Telnet commands around them. It only turns bytes
// into bytes: the network line sends and receives them.

#include "os/platform.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TRfc2217Client {
 public:
  // Data bytes as they go into the Telnet stream: every 255 (IAC) doubled.
  static std::string Escape(std::string_view data);

  // The option requests, to go out first on a new connection.
  std::string Greeting();
  // The SET commands that give the server's port these settings (rate,
  // data bits, parity, stop bits, flow control, DTR and RTS); the server's
  // answers to them are awaited from now on (see Settled).
  std::string LineCommands(const comdev::LineSettings& line);

  // Takes bytes the server sent: appends the data bytes among them to `data`
  // and returns what must go back (answers to the server's option requests).
  // A command cut at the end of `bytes` is completed by the next call.
  std::string Receive(std::string_view bytes, std::string& data);

  // The server agreed to the COM port option and answered every SET command
  // sent with the value asked for.
  bool Settled() const;
  // The server refused the COM port option, or answered a SET command with
  // another value than the one asked for (a setting its port cannot take).
  bool Refused() const;

 private:
  // One side of an option (RFC 1143 without the queue): off, asked for, on.
  enum class OptionState : std::uint8_t { No, WantYes, Yes };
  struct Answer {
    std::uint8_t command;  // the server's code: the SET command's plus 100
    std::string value;
  };

  std::string Ask(std::uint8_t request, std::uint8_t option);
  std::string Negotiate(std::uint8_t verb, std::uint8_t option);
  void Subnegotiation(const std::string& body);
  std::string Command(std::uint8_t byte);

  std::array<OptionState, 256> ours_{};    // what we do (WILL / WONT)
  std::array<OptionState, 256> theirs_{};  // what the server does (DO / DONT)
  std::vector<Answer> awaited_;
  bool refused_ = false;

  // The receiver's place in the Telnet stream.
  enum class Parse : std::uint8_t { Data, Iac, Verb, Sub, SubIac };
  Parse parse_ = Parse::Data;
  std::uint8_t verb_ = 0;
  std::string sub_;
};
