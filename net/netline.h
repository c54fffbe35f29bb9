#pragma once
// A line to the adapter through a serial device server on the network: the
// server's serial port carries the RS-485 line, and the tool talks to it over
// TCP. Two kinds of server, named by the port name:
//
//   tcp://HOST:PORT       the line's bytes unchanged in both directions ("raw",
//                         "TCP server" mode); the server's port is set up on
//                         the server
//   rfc2217://HOST:PORT   Telnet with the COM port option (RFC 2217): the tool
//                         sets the server's port as it sets a local one
//
// and a Modbus TCP to RTU gateway, modbus-tcp://HOST[:PORT] (port 502 unless
// given; the line is net/modbus_tcp.h's, which carries MBAP on a raw
// connection), each followed by "?allow=MS", the latency allowance in milliseconds;
// without it the line learns the allowance from its answers (net/latency.h). HOST is a name, an
// IPv4 address or an IPv6 address in brackets. The port component owns such a line in place of a
// device when its Port() is a network name; failures raise EComPort with the component's codes and
// the system's error numbers, as a device's do.

#include "net/latency.h"
#include "net/rfc2217.h"
#include "os/platform.h"
#include "serial/link.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

inline constexpr int kMaxAllowanceMs = 10000;
// The longest an opening may take to connect, and an RFC 2217 server to
// answer the line settings.
inline constexpr int kNetOpenTimeoutMs = 3000;

// ModbusTcp: a gateway's; its connection carries its bytes unchanged, as Raw.
enum class TNetMode { Raw, Rfc2217, ModbusTcp };

struct TNetPortName {
  TNetMode mode = TNetMode::Raw;
  std::string host;  // without the brackets of an IPv6 address
  std::string port;  // 1..65535, in decimal
  std::optional<int> allowanceMs;
  // The longest an opening may take to connect, and an RFC 2217 server to
  // answer the settings (kNetOpenTimeoutMs; tests make it shorter).
  int openTimeoutMs = kNetOpenTimeoutMs;
};

// Whether a port name means a network line: it starts with "tcp://",
// "rfc2217://" or "modbus-tcp://", in any letter case.
bool IsNetPortName(const std::string& name);

// What is wrong with a network port name, and the part of it at fault.
enum class TNetNameFault {
  NoPort,           // nothing, or nothing after ":", where the port goes (a port is needed)
  PortNotNumber,    // "50x"
  PortOutOfRange,   // 0, or above 65535
  EmptyHost,        // "tcp://:502"
  UnclosedBracket,  // "tcp://[fe80::1:502"
  BareIpv6Address,  // "tcp://fe80::1:502": brackets needed
  BadAllowance,     // "?allow=" without a number of milliseconds 0..kMaxAllowanceMs
  UnknownOption,    // anything else after "?"
};
struct TNetNameProblem {
  TNetNameFault fault;
  std::string part;  // the port, the allowance, the option or the address at fault

  bool operator==(const TNetNameProblem&) const = default;
};
// What is wrong with a network port name; nothing for a sound one.
std::optional<TNetNameProblem> NetPortNameProblem(const std::string& name);
// The problem in a few English words: "port 0 is out of range 1..65535".
std::string NetNameProblemText(const TNetNameProblem& problem);
// The parts of a network port name; nothing for a malformed one.
std::optional<TNetPortName> ParseNetPortName(const std::string& name);

// What kept a network line from opening, told from the failure its opening
// raised (see TNetOpenFailure); nothing for a name that is not a network one.
std::optional<TNetOpenFailure> NetOpenFailureOf(const std::string& name, const EComPort& failure);

// The table's entry for tcp:// and rfc2217:// names: a malformed one does not
// open (EComPort(ceOpenFailed, comdev::kNetBadName, what is wrong)).
std::unique_ptr<TLineBackend> OpenNetLine(const std::string& name, const TComStopEvent* stop);

class TNetLine final : public TLineBackend {
 public:
  // Data bytes kept until read: an answer and the echo of its request with
  // room to spare. What arrives beyond it is dropped, as a driver's full
  // queue drops it.
  static constexpr size_t kMaxPendingBytes = 1024;
  // The most the server may send: a burst of this many bytes, and then no
  // faster than kMaxIntakeBytesPerSecond, which no serial line reaches. A
  // server that sends more is no device server, and the line fails.
  static constexpr double kIntakeBurstBytes = 65536;
  static constexpr double kMaxIntakeBytesPerSecond = 100000;

  // Resolves the host and connects to the first of its addresses that takes
  // the connection, within kNetOpenTimeoutMs and until `stop`; for RFC 2217
  // starts the Telnet negotiation. The connection's time is the first round
  // trip measured. Throws EComPort(ceOpenFailed, the system's code).
  TNetLine(const TNetPortName& name, const TComStopEvent* stop);
  TNetLine(const TNetLine&) = delete;
  TNetLine& operator=(const TNetLine&) = delete;

  // The server keeps queues of its own.
  void SetBuffers(int, int) override {}
  // RFC 2217: sends the settings to the server's port and waits, within
  // kNetOpenTimeoutMs and until `stop`, for the server to take the speed and
  // the framing; the time that takes is a round trip measured too. Flow
  // control, DTR and RTS not confirmed by then become SettingsNotes. Raw:
  // nothing. Throws EComPort(ceSetStateFailed, the system's code, why).
  void SetLine(const comdev::LineSettings& line, const TComStopEvent* stop) override;
  // The write timeouts bound a write, the read ones a read, as on a port.
  void SetTimeouts(const comdev::TimeoutSettings& timeouts) override { timeouts_ = timeouts; }
  // Ends every send and receive of the line at once; null: none.
  void SetStopEvent(const TComStopEvent* stop) override { stop_ = stop; }
  // Closes the connection; nothing to abort.
  void Close() override;
  // The longest round trip the opening measured (the connection, the
  // settings' answer): the learnt allowance's first guess.
  int RoundTripMs() const { return roundTripMs_; }

  // A write that the server does not take within the write timeouts (or,
  // without them, kNetOpenTimeoutMs), or that the stop event ends, gives the
  // line up: a half-sent Telnet stream could not be continued.
  int WriteBytes(const void* buffer, int count) override;
  int PendingInputCount() override;
  // Ended early by the read timeouts or the stop event.
  std::string ReadBytes(int count) override;
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override;
  bool Connected() const override;
  // The user's allowance when the name gives one, else the one learnt from
  // the answers, starting from the opening's round trip.
  int LatencyAllowanceMs() const override;
  bool LearnsLatency() const override { return allowance_.Learns(); }
  void LearnLatency(int delayMs, bool late) override;
  int LateAnswerAllowanceMs() const override;
  std::vector<std::string> SettingsNotes() const override { return notes_; }

 private:
  using Clock = std::chrono::steady_clock;

  void Connect(const TNetPortName& name, const TComStopEvent* stop);
  void Measured(Clock::duration roundTrip);
  // Takes one bounded chunk of what has arrived: data into received_ up to
  // kMaxPendingBytes, Telnet commands answered by `replyBy`. Returns 0 or the
  // system's code; a closed connection is kNetClosed, a server that sends
  // too much kNetOverrun.
  int Drain(Clock::time_point replyBy);
  // Sends every byte by `deadline`, unless the stop event comes first.
  int SendAll(const std::string& bytes, Clock::time_point deadline);
  // When a write of `count` bytes must be done: the write timeouts, or
  // kNetOpenTimeoutMs where they set no limit.
  Clock::time_point WriteDeadline(size_t count) const;
  // Counts bytes that arrived against the intake's bound; false once over.
  bool WithinIntake(size_t count);
  // Waits for the socket to have something to read, until the deadline (none:
  // no limit) or `stop`.
  int AwaitInput(std::optional<Clock::time_point> deadline, const TComStopEvent* stop,
                 comdev::SocketWake& wake);
  // What a failure with the system's code `error` has to say beyond the code.
  std::string ReasonFor(int error) const;
  // The line is given up: every later operation fails, Connected is false.
  [[noreturn]] void Fail(int errorCode, int systemError);
  // What the server sent before it reset the connection, taken in without
  // waiting.
  void KeepLastWords();
  // The data bytes of what arrived go to the received ones, within their
  // bound; returns the Telnet answers the rest asks for (RFC 2217).
  std::string TakeIn(std::string arrived);

  TNetMode mode_;
  int openTimeoutMs_;
  comdev::SocketPtr socket_;
  TRfc2217Client telnet_;
  comdev::TimeoutSettings timeouts_;
  const TComStopEvent* stop_ = nullptr;
  std::string received_;  // data bytes not yet read
  double intakeLeft_ = kIntakeBurstBytes;
  Clock::time_point intakeAt_ = Clock::now();
  std::vector<std::string> notes_;
  int roundTripMs_ = 0;
  TLatencyAllowance allowance_;
  bool gone_ = false;
};
