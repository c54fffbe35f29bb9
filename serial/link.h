#pragma once
// The line the Modbus requests talk over: writing, the count of received
// bytes waiting, reading them and waiting for a received character. The
// serial port component implements it on a device; the tests also run the
// requests over an in-process simulated adapter. Failures of every operation
// raise EComPort with the component's texts, so a caller handles a lost
// device the same way whatever carries the line.

#include "os/line_types.h"
#include "os/stop_event.h"

#include <stdexcept>
#include <string>

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
// when the system's error number N is known (errno on Linux), and by ": " and
// the reason where the number alone would mislead.
class EComPort : public std::runtime_error {
 public:
  explicit EComPort(int code, int winCode = -1, const std::string& reason = {});
  int Code() const { return code_; }
  int WinCode() const { return winCode_; }  // -1 when there is none

 private:
  int code_;
  int winCode_;
};

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
};
