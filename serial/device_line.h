#pragma once
// A local serial device as a line of the port component: the platform's
// port device (os/platform.h) with the component's error codes. A device
// whose line is gone (hung up, a USB converter pulled out) is closed at the
// failure that meets the loss, so the line reads as gone from then on.

#include "os/platform.h"
#include "serial/link.h"

#include <memory>
#include <string>

class TDeviceLine final : public TLineBackend {
 public:
  // Opens the device a port name means (exclusively, with its lock files).
  // Throws EComPort(ceOpenFailed, the system's code).
  explicit TDeviceLine(const std::string& port);

  void SetBuffers(int inputSize, int outputSize) override;
  void SetLine(const comdev::LineSettings& line, const TComStopEvent* stop) override;
  void SetTimeouts(const comdev::TimeoutSettings& timeouts) override;
  void Close() override;
  int WriteBytes(const void* buffer, int count) override;
  int PendingInputCount() override;
  std::string ReadBytes(int count) override;
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override;
  bool Connected() const override;

 private:
  comdev::Device& Require(int errorCode) const;
  // A device whose line is gone is closed before the failure goes on.
  [[noreturn]] void Fail(int errorCode, int systemError);

  comdev::DevicePtr device_;
};

// The table's entry for a local device.
std::unique_ptr<TLineBackend> OpenDeviceLine(const std::string& port, const TComStopEvent* stop);
