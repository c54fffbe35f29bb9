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
// either followed by "?allow=MS", the latency allowance in milliseconds;
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

enum class TNetMode { Raw, Rfc2217 };

struct TNetPortName {
  TNetMode mode = TNetMode::Raw;
  std::string host;  // without the brackets of an IPv6 address
  std::string port;  // 1..65535, in decimal
  std::optional<int> allowanceMs;
};

// Whether a port name means a network line: it starts with "tcp://" or
// "rfc2217://", in any letter case.
bool IsNetPortName(const std::string& name);
// The parts of a network port name; nothing for a malformed one (no host, a
// port outside 1..65535, an allowance outside 0..kMaxAllowanceMs, anything
// else after the port).
std::optional<TNetPortName> ParseNetPortName(const std::string& name);

inline constexpr int kMaxAllowanceMs = 10000;
// The longest an opening may take to connect, and an RFC 2217 server to
// answer the line settings.
inline constexpr int kNetOpenTimeoutMs = 3000;

// The table's entry for tcp:// and rfc2217:// names: a malformed one does not
// open (EComPort(ceOpenFailed, comdev::kNetBadName)).
std::unique_ptr<TLineBackend> OpenNetLine(const std::string& name, const TComStopEvent* stop);

class TNetLine final : public TLineBackend {
 public:
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
  // kNetOpenTimeoutMs and until `stop`, for the server to take every one of
  // them; the time that takes is a round trip measured too. Raw: nothing.
  // Throws EComPort(ceSetStateFailed, the system's code).
  void SetLine(const comdev::LineSettings& line, const TComStopEvent* stop) override;
  // The write timeouts bound a write, the read ones a read, as on a port.
  void SetTimeouts(const comdev::TimeoutSettings& timeouts) override { timeouts_ = timeouts; }
  // Closes the connection; nothing to abort.
  void Close() override;
  // The longest round trip the opening measured (the connection, the
  // settings' answer): the learnt allowance's first guess.
  int RoundTripMs() const { return roundTripMs_; }

  int WriteBytes(const void* buffer, int count) override;
  int PendingInputCount() override;
  std::string ReadBytes(int count) override;
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override;
  bool Connected() const override;
  // The user's allowance when the name gives one, else the one learnt from
  // the answers, starting from the opening's round trip.
  int LatencyAllowanceMs() const override;
  bool LearnsLatency() const override { return allowance_.Learns(); }
  void LearnLatency(int delayMs, bool late) override;
  int LateAnswerAllowanceMs() const override;

 private:
  using Clock = std::chrono::steady_clock;

  void Connect(const TNetPortName& name, const TComStopEvent* stop);
  void Measured(Clock::duration roundTrip);
  // Takes what has arrived: data into received_, Telnet commands answered.
  // Returns 0 or the system's code; a closed connection is kNetClosed.
  int Drain();
  // Sends every byte within the write timeouts.
  int SendAll(const std::string& bytes);
  // Waits for the socket to have something to read, until the deadline (none:
  // no limit) or `stop`.
  int AwaitInput(std::optional<Clock::time_point> deadline, const TComStopEvent* stop,
                 comdev::SocketWake& wake);
  // The line is given up: every later operation fails, Connected is false.
  [[noreturn]] void Fail(int errorCode, int systemError);

  TNetMode mode_;
  comdev::SocketPtr socket_;
  TRfc2217Client telnet_;
  comdev::TimeoutSettings timeouts_;
  std::string received_;  // data bytes not yet read
  int roundTripMs_ = 0;
  TLatencyAllowance allowance_;
  bool gone_ = false;
};
