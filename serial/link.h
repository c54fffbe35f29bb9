#pragma once
// The line the Modbus requests talk over: writing, the count of received
// bytes waiting, reading them and waiting for a received character
// (TComLink). The serial port component implements it over one of its
// backends (TLineBackend): a local serial device, a network line to a device
// server, the tests' in-process simulated adapter. Failures of every
// operation raise EComPort with the component's texts, so a caller handles a
// lost device the same way whatever carries the line.

#include "os/line_types.h"
#include "os/stop_event.h"

#include <stdexcept>
#include <string>
#include <vector>

// The component's error codes.
enum TComErrorCode {
  ceOpenFailed = 1,
  ceWriteFailed = 2,
  ceReadFailed = 3,
  cePurgeFailed = 5,
  ceSetStateFailed = 7,
  ceSetTimeoutsFailed = 8,
  ceSetupFailed = 9,
  ceClearErrorFailed = 10,
  ceStoreFailed = 16,
  ceWaitFailed = 21,
  ceRegistryError = 23,
};

// Message: the fixed text of the code, followed by " (win error code: N)"
// when the system's error number N is known (errno on Linux; a name lookup's
// own code, negative there, for a network line), and by ": " and the reason
// where the number alone would mislead (a network server's own words).
class EComPort : public std::runtime_error {
 public:
  explicit EComPort(int code, int winCode = -1, const std::string& reason = {});
  int Code() const { return code_; }
  int WinCode() const { return winCode_; }  // -1 when there is none
  const std::string& Reason() const { return reason_; }

 private:
  int code_;
  int winCode_;
  std::string reason_;
};

// How the frames travel on a line: as Modbus RTU frames with their CRC (a
// serial line, a device server that passes its bytes through), or each in an
// MBAP header without its CRC, as Modbus TCP to a gateway in front of the
// RS-485 line (see modbus/mbap.h).
enum class TLineFraming { Rtu, Mbap };

class TComLink {
 public:
  virtual ~TComLink() = default;

  // Returns the number of bytes written; fewer when the write timeouts run out.
  virtual int WriteBytes(const void* buffer, int count) = 0;
  // Received bytes waiting to be read.
  virtual int PendingInputCount() = 0;
  // Up to `count` bytes, ended early by the read timeouts; nothing, without
  // a failure, for a count of 0 or less.
  virtual std::string ReadBytes(int count) = 0;
  // Waits for one of `events`, the stop event or the timeout (ms; negative:
  // no limit); leaves in `events` what occurred, empty on timeout or stop. A
  // failure leaves `events` untouched.
  virtual void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) = 0;
  // False once the line is gone (closed, hung up, a USB converter pulled out).
  virtual bool Connected() const = 0;
  // Milliseconds the line itself adds to the way to the adapter and back (a
  // network path to a serial device server); every wait for an answer is
  // that much longer. 0 for a local port.
  virtual int LatencyAllowanceMs() const { return 0; }
  // Whether the allowance is learnt from the exchanges (a network line
  // without one given by hand): the requests then tell the line how late
  // each answer came (LearnLatency).
  virtual bool LearnsLatency() const { return false; }
  // An answer came `delayMs` after its request beyond its time on the serial
  // line; `late`: only after the wait for it had ended.
  virtual void LearnLatency(int delayMs, bool late) {
    static_cast<void>(delayMs);
    static_cast<void>(late);
  }
  // The most the path may add to an answer that has not come yet, for the
  // wait until a late answer can no longer come: the allowance, or more while
  // a learnt one has not measured any answer.
  virtual int LateAnswerAllowanceMs() const { return LatencyAllowanceMs(); }
  // What the line's latest settings could not make sure of, one note each
  // (an RFC 2217 server that did not confirm DTR and RTS): the line works
  // without them. Empty for a local port.
  virtual std::vector<std::string> SettingsNotes() const { return {}; }
  // How the requests' frames travel on this line.
  virtual TLineFraming Framing() const { return TLineFraming::Rtu; }
};

// One kind of line behind the port component, which talks to every kind the
// same way: it opens one from the table of kinds (serial/line_kinds.h),
// pushes the settings to it, writes, waits for input with a stop event,
// reads, asks the pending count, and closes it. Each operation's failure
// raises EComPort with the operation's code; a backend whose line is gone
// answers Connected() false from then on, and the port component drops it.
class TLineBackend : public TComLink {
 public:
  // The driver's queue sizes (a device server keeps queues of its own).
  // Throws EComPort(ceSetupFailed).
  virtual void SetBuffers(int inputSize, int outputSize) = 0;
  // The line's speed, framing and handshake; a network line may wait for its
  // server to take them, until `stop`. Throws EComPort(ceSetStateFailed).
  virtual void SetLine(const comdev::LineSettings& line, const TComStopEvent* stop) = 0;
  // Throws EComPort(ceSetTimeoutsFailed).
  virtual void SetTimeouts(const comdev::TimeoutSettings& timeouts) = 0;
  // The event that ends the line's own waits at once (a network line's sends
  // and receives); may be null. Not owned; replaced before it goes.
  virtual void SetStopEvent(const TComStopEvent*) {}
  // Aborts what is pending and closes the line. Throws EComPort(cePurgeFailed)
  // when it cannot; the line then stays open.
  virtual void Close() = 0;
};
