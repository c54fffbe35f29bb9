#include "serial/device_line.h"

#include <algorithm>

TDeviceLine::TDeviceLine(const std::string& port) {
  if (int error = comdev::OpenDevice(port, device_))
    throw EComPort(ceOpenFailed, error,
                   error == comdev::kLockNameTooLong ? "lock name too long" : std::string());
}

std::unique_ptr<TLineBackend> OpenDeviceLine(const std::string& port, const TComStopEvent*) {
  return std::make_unique<TDeviceLine>(port);
}

comdev::Device& TDeviceLine::Require(int errorCode) const {
  if (!device_) throw EComPort(errorCode, comdev::kInvalidDevice);
  return *device_;
}

void TDeviceLine::Fail(int errorCode, int systemError) {
  if (device_ && comdev::LineLost(*device_, systemError)) device_.reset();
  throw EComPort(errorCode, systemError);
}

bool TDeviceLine::Connected() const { return device_ && !comdev::LineLost(*device_, 0); }

void TDeviceLine::SetBuffers(int inputSize, int outputSize) {
  if (int error = comdev::SetBuffers(Require(ceSetupFailed), inputSize, outputSize))
    Fail(ceSetupFailed, error);
}

void TDeviceLine::SetLine(const comdev::LineSettings& line, const TComStopEvent*) {
  if (int error = comdev::SetLine(Require(ceSetStateFailed), line)) Fail(ceSetStateFailed, error);
}

void TDeviceLine::SetTimeouts(const comdev::TimeoutSettings& timeouts) {
  if (int error = comdev::SetTimeouts(Require(ceSetTimeoutsFailed), timeouts))
    Fail(ceSetTimeoutsFailed, error);
}

void TDeviceLine::Close() {
  if (!device_) return;  // a device whose line is gone is closed already
  if (int error = comdev::CloseDevice(device_)) throw EComPort(cePurgeFailed, error);
}

int TDeviceLine::WriteBytes(const void* buffer, int count) {
  int written = 0;
  if (int error = comdev::Write(Require(ceWriteFailed), buffer, std::max(count, 0), written))
    Fail(ceWriteFailed, error);
  return written;
}

int TDeviceLine::PendingInputCount() {
  int count = 0;
  if (int error = comdev::PendingInput(Require(ceClearErrorFailed), count))
    Fail(ceClearErrorFailed, error);
  return count;
}

std::string TDeviceLine::ReadBytes(int count) {
  std::string received;
  if (int error = comdev::Read(Require(ceReadFailed), count, received)) Fail(ceReadFailed, error);
  return received;
}

void TDeviceLine::WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) {
  if (int error = comdev::WaitForEvent(Require(ceWaitFailed), events, stopEvent, timeoutMs))
    Fail(ceWaitFailed, error);
}
