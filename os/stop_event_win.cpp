// Windows side of the stop event: a manual-reset event object, which the
// port's event wait takes as its second handle.

#include "os/platform.h"

#include <windows.h>

#include <system_error>

TComStopEvent::TComStopEvent()
    : handle_(reinterpret_cast<std::intptr_t>(::CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
  if (handle_ == 0)
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "CreateEventA");
}

TComStopEvent::~TComStopEvent() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

void TComStopEvent::Signal() noexcept { ::SetEvent(reinterpret_cast<HANDLE>(handle_)); }

void TComStopEvent::Reset() { ::ResetEvent(reinterpret_cast<HANDLE>(handle_)); }

bool TComStopEvent::IsSignalled() const {
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0) == WAIT_OBJECT_0;
}
