// Windows side of the port device: the serial-communications interface on
// \\.\COMn, opened for overlapped I/O so that every wait has a bound and the
// event wait can end on the stop event.

#include "os/platform.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace comdev {

struct Device {
  HANDLE handle;
  TimeoutSettings timeouts;
};

}  // namespace comdev

namespace {

// The slack beyond the driver's own timeouts before a transfer is taken back:
// the driver ends it first unless it is broken.
constexpr DWORD kDriverSlackMs = 1000;
// How long a device event wait ended by an empty mask may take to finish.
constexpr DWORD kMaskEndMs = 1000;
// How often the receive queue is looked at where the driver has no event wait.
constexpr DWORD kQueuePollMs = 2;

int LastError() { return static_cast<int>(::GetLastError()); }

// The private event of one overlapped transfer: manual reset, not signalled.
class OverlappedEvent {
 public:
  OverlappedEvent() : handle_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~OverlappedEvent() {
    if (handle_) ::CloseHandle(handle_);
  }
  OverlappedEvent(const OverlappedEvent&) = delete;
  OverlappedEvent& operator=(const OverlappedEvent&) = delete;
  HANDLE Handle() const { return handle_; }

 private:
  HANDLE handle_;
};

// The bound of a transfer the driver limits with a multiplier and constant;
// INFINITE when the timeouts set no total limit, as the driver then sets none.
DWORD TransferBound(std::uint32_t multiplier, std::uint32_t constant, int count) {
  if (multiplier == 0 && constant == 0) return INFINITE;
  const std::uint64_t ms =
      std::uint64_t{multiplier} * static_cast<std::uint64_t>(count) + constant + kDriverSlackMs;
  return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

// Waits for a started transfer within `bound`; one the driver has not ended
// by then is cancelled and counts as ended by its timeouts, with what went
// through so far. Returns 0 or the system's error.
int FinishTransfer(HANDLE device, OVERLAPPED& overlapped, DWORD bound, DWORD& transferred) {
  const DWORD waited = ::WaitForSingleObject(overlapped.hEvent, bound);
  if (waited == WAIT_FAILED) {
    const int error = LastError();
    ::CancelIo(device);
    ::GetOverlappedResult(device, &overlapped, &transferred, TRUE);
    return error;
  }
  if (waited == WAIT_TIMEOUT) ::CancelIo(device);
  if (::GetOverlappedResult(device, &overlapped, &transferred, TRUE)) return 0;
  const int error = LastError();
  return waited == WAIT_TIMEOUT && error == ERROR_OPERATION_ABORTED ? 0 : error;
}

// --- Events -----------------------------------------------------------------

constexpr std::pair<TComEvent, DWORD> kEventBits[] = {
    {evRxChar, EV_RXCHAR}, {evTxEmpty, EV_TXEMPTY},  {evRxFlag, EV_RXFLAG}, {evRing, EV_RING},
    {evBreak, EV_BREAK},   {evCTS, EV_CTS},          {evDSR, EV_DSR},       {evError, EV_ERR},
    {evRLSD, EV_RLSD},     {evRx80Full, EV_RX80FULL}};

DWORD MaskOf(const TComEvents& events) {
  DWORD mask = 0;
  for (const auto& [event, bit] : kEventBits) {
    if (events.contains(event)) mask |= bit;
  }
  return mask;
}

TComEvents EventsOf(DWORD mask) {
  TComEvents events;
  for (const auto& [event, bit] : kEventBits) {
    if (mask & bit) events.insert(event);
  }
  return events;
}

// Some drivers signal a finished device wait without saying which event it
// was; received characters waiting in the queue tell that one.
TComEvents OccurredEvents(HANDLE device, DWORD mask, const TComEvents& wanted) {
  if (mask != 0 || !wanted.contains(evRxChar)) return EventsOf(mask);
  DWORD errors = 0;
  COMSTAT status{};
  TComEvents events;
  if (::ClearCommError(device, &errors, &status) && status.cbInQue > 0) events.insert(evRxChar);
  return events;
}

// Ends a device wait still pending after its handles' wait: an empty mask
// finishes it with no events.
void EndDeviceWait(HANDLE device, OVERLAPPED& overlapped) {
  ::SetCommMask(device, 0);
  DWORD ignored = 0;
  if (::WaitForSingleObject(overlapped.hEvent, kMaskEndMs) != WAIT_OBJECT_0) ::CancelIo(device);
  ::GetOverlappedResult(device, &overlapped, &ignored, TRUE);
}

// A driver whose event wait cannot run (Wine's, on a device without modem
// lines, ends every wait at once as aborted) is waited on by watching its
// receive queue, the stop event and the clock instead. Only received
// characters can be seen that way.
int PollForInput(HANDLE device, TComEvents& events, const TComStopEvent* stop, int timeoutMs,
                 ULONGLONG started) {
  const HANDLE stopHandle = stop ? reinterpret_cast<HANDLE>(stop->Handle()) : nullptr;
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(device, &errors, &status)) return LastError();
    if (status.cbInQue > 0 && events.contains(evRxChar)) {
      events = {evRxChar};
      return 0;
    }
    const ULONGLONG elapsed = ::GetTickCount64() - started;
    if (timeoutMs >= 0 && elapsed >= static_cast<ULONGLONG>(timeoutMs)) break;
    const DWORD step =
        timeoutMs < 0 ? kQueuePollMs
                      : static_cast<DWORD>(std::min<ULONGLONG>(kQueuePollMs, timeoutMs - elapsed));
    if (stopHandle ? ::WaitForSingleObject(stopHandle, step) == WAIT_OBJECT_0
                   : (::Sleep(step), false))
      break;
  }
  events = {};
  return 0;
}

}  // namespace

namespace comdev {

const int kInvalidDevice = ERROR_INVALID_HANDLE;
const int kLockNameTooLong = -2;  // Windows ports have no lock files

void DeviceCloser::operator()(Device* device) const noexcept {
  ::CloseHandle(device->handle);
  delete device;
}

int OpenDevice(const std::string& port, DevicePtr& device) {
  const std::string path = "\\\\.\\" + port;
  // No sharing: a second opener, of this program or another, is refused.
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  device.reset(new Device{handle, {}});
  return 0;
}

bool LineLost(const Device& device, int error) {
  // What drivers answer once their hardware (a USB converter) is unplugged;
  // each driver picks its own code.
  constexpr int kGone[] = {
      ERROR_ACCESS_DENIED, ERROR_NOT_READY,   ERROR_BAD_COMMAND,       ERROR_GEN_FAILURE,
      ERROR_DEV_NOT_EXIST, ERROR_BROKEN_PIPE, ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED,
      ERROR_DEVICE_REMOVED};
  if (std::find(std::begin(kGone), std::end(kGone), error) != std::end(kGone)) return true;
  // Whatever a driver answered: a device that can no longer tell its line
  // settings or its queues is gone, and only opening the name again can
  // bring the line back (Wine answers 21 for both once the pty is gone).
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  DWORD errors = 0;
  COMSTAT status{};
  return !::GetCommState(device.handle, &dcb) || !::ClearCommError(device.handle, &errors, &status);
}

int CloseDevice(DevicePtr& device) {
  // Aborts transfers without clearing the driver's buffers.
  if (!::PurgeComm(device->handle, PURGE_TXABORT | PURGE_RXABORT)) return LastError();
  device.reset();
  return 0;
}

int SetBuffers(Device& device, int inputSize, int outputSize) {
  if (!::SetupComm(device.handle, static_cast<DWORD>(inputSize), static_cast<DWORD>(outputSize)))
    return LastError();
  return 0;
}

int SetLine(Device& device, const LineSettings& line) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = static_cast<DWORD>(line.baudRate);
  dcb.fBinary = TRUE;
  dcb.fParity = line.parityCheck;
  dcb.fOutxCtsFlow = line.outCTSFlow;
  dcb.fOutxDsrFlow = line.outDSRFlow;
  dcb.fDtrControl = static_cast<DWORD>(line.dtr);  // off, on, handshake: the system's codes 0..2
  dcb.fDsrSensitivity = line.dsrSensitivity;
  dcb.fTXContinueOnXoff = line.txContinueOnXoff;
  dcb.fOutX = line.xonXoffOut;
  dcb.fInX = line.xonXoffIn;
  dcb.fErrorChar = line.parityReplace;
  dcb.fNull = line.discardNull;
  dcb.fRtsControl = static_cast<DWORD>(line.rts);  // off, on, handshake, toggle: codes 0..3
  dcb.XonLim = static_cast<WORD>(line.xonLimit);
  dcb.XoffLim = static_cast<WORD>(line.xoffLimit);
  dcb.ByteSize = static_cast<BYTE>(line.dataBits);
  dcb.Parity = static_cast<BYTE>(line.parity);      // none, odd, even, mark, space: codes 0..4
  dcb.StopBits = static_cast<BYTE>(line.stopBits);  // 1, 1.5, 2: codes 0..2
  dcb.XonChar = static_cast<char>(line.xonChar);
  dcb.XoffChar = static_cast<char>(line.xoffChar);
  dcb.ErrorChar = static_cast<char>(line.parityReplaceChar);
  dcb.EvtChar = static_cast<char>(line.eventChar);
  if (!::SetCommState(device.handle, &dcb)) return LastError();
  return 0;
}

int SetTimeouts(Device& device, const TimeoutSettings& timeouts) {
  COMMTIMEOUTS system{timeouts.readInterval, timeouts.readTotalMultiplier,
                      timeouts.readTotalConstant, timeouts.writeTotalMultiplier,
                      timeouts.writeTotalConstant};
  if (!::SetCommTimeouts(device.handle, &system)) return LastError();
  device.timeouts = timeouts;  // what bounds the waits for transfers
  return 0;
}

int Write(Device& device, const void* buffer, int count, int& written) {
  written = 0;
  OverlappedEvent event;
  if (!event.Handle()) return LastError();
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Handle();
  if (!::WriteFile(device.handle, buffer, static_cast<DWORD>(count), nullptr, &overlapped) &&
      ::GetLastError() != ERROR_IO_PENDING)
    return LastError();
  const TimeoutSettings& t = device.timeouts;
  DWORD transferred = 0;
  const int error = FinishTransfer(
      device.handle, overlapped, TransferBound(t.writeTotalMultiplier, t.writeTotalConstant, count),
      transferred);
  written = static_cast<int>(transferred);
  return error;
}

int Read(Device& device, int count, std::string& received) {
  received.assign(static_cast<size_t>(count), '\0');
  OverlappedEvent event;
  if (!event.Handle()) return LastError();
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Handle();
  if (!::ReadFile(device.handle, received.data(), static_cast<DWORD>(count), nullptr,
                  &overlapped) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    const int error = LastError();
    received.clear();
    return error;
  }
  const TimeoutSettings& t = device.timeouts;
  DWORD transferred = 0;
  const int error =
      FinishTransfer(device.handle, overlapped,
                     TransferBound(t.readTotalMultiplier, t.readTotalConstant, count), transferred);
  received.resize(error == 0 ? transferred : 0);
  return error;
}

int PendingInput(Device& device, int& count) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(device.handle, &errors, &status)) return LastError();
  count = static_cast<int>(status.cbInQue);
  return 0;
}

int WaitForEvent(Device& device, TComEvents& events, const TComStopEvent* stop, int timeoutMs) {
  const ULONGLONG started = ::GetTickCount64();
  OverlappedEvent event;
  if (!event.Handle()) return LastError();
  const HANDLE handles[2] = {event.Handle(),
                             stop ? reinterpret_cast<HANDLE>(stop->Handle()) : nullptr};
  const DWORD handleCount = stop ? 2 : 1;
  if (!::SetCommMask(device.handle, MaskOf(events))) return LastError();
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Handle();
  DWORD mask = 0;  // written by the driver until the wait is over
  if (::WaitCommEvent(device.handle, &mask, &overlapped)) {
    events = OccurredEvents(device.handle, mask, events);
    ::SetCommMask(device.handle, 0);
    return 0;
  }
  if (::GetLastError() != ERROR_IO_PENDING) return LastError();
  const DWORD waited = ::WaitForMultipleObjects(
      handleCount, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  const int waitError = waited == WAIT_FAILED ? LastError() : 0;
  if (waited == WAIT_OBJECT_0) {
    DWORD ignored = 0;
    if (!::GetOverlappedResult(device.handle, &overlapped, &ignored, TRUE)) {
      const int error = LastError();
      if (error != ERROR_OPERATION_ABORTED) return error;
      return PollForInput(device.handle, events, stop, timeoutMs, started);
    }
    events = OccurredEvents(device.handle, mask, events);
    ::SetCommMask(device.handle, 0);
    return 0;
  }
  EndDeviceWait(device.handle, overlapped);
  if (waitError != 0) return waitError;
  events = {};  // the timeout or the stop event
  return 0;
}

}  // namespace comdev
