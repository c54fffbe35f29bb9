// Linux side of the stop event: an eventfd, which poll waits on beside the
// device and which a signal handler may write.

#include "os/platform.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

TComStopEvent::TComStopEvent() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (handle_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TComStopEvent::~TComStopEvent() { ::close(static_cast<int>(handle_)); }

void TComStopEvent::Signal() noexcept {
  // Runs in signal handlers: only write(2), and the interrupted code's errno survives.
  const int savedErrno = errno;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(static_cast<int>(handle_), &one, sizeof one);
  errno = savedErrno;
}

void TComStopEvent::Reset() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(static_cast<int>(handle_), &count, sizeof count);
}

bool TComStopEvent::IsSignalled() const {
  pollfd pfd{static_cast<int>(handle_), POLLIN, 0};
  return ::poll(&pfd, 1, 0) > 0;
}
