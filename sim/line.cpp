#include "line.h"

#include "timing.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace sim {
namespace {

constexpr auto kRetryAfterError = std::chrono::milliseconds(10);

[[noreturn]] void systemFailure(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

int stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) systemFailure("cannot block signals");
  const int fd = signalfd(-1, &set, SFD_CLOEXEC);
  if (fd < 0) systemFailure("cannot watch signals");
  return fd;
}

// Raw 9600 8N1, so that nothing on the other side echoes or translates bytes
// before its user sets the line up.
void makeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) systemFailure("cannot read the terminal settings");
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  if (tcsetattr(fd, TCSANOW, &settings) != 0) systemFailure("cannot set the terminal up");
}

timespec timespecOf(Clock::duration duration) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
  return {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
}

}  // namespace

Line::Line() {
  signals_ = stopSignals();
  openTerminal();
}

void Line::openTerminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) systemFailure("cannot open a pseudo-terminal");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0)
    systemFailure("cannot unlock the pseudo-terminal");
  path_ = ptsname(master_);
  slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) systemFailure("cannot open " + path_);
  makeRaw(slave_);
}

Line::~Line() {
  unplug();
  close(signals_);
}

void Line::unplug() {
  for (int* fd : {&slave_, &master_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void Line::plugIn() {
  unplug();
  openTerminal();
}

Line::Wake Line::waitUntil(Clock::time_point deadline, bool forData) {
  pollfd fds[2] = {{signals_, POLLIN, 0}, {master_, POLLIN, 0}};
  while (true) {
    const auto left = deadline - Clock::now();
    const timespec timeout = timespecOf(std::max(left, Clock::duration::zero()));
    const bool forever = deadline == Clock::time_point::max();
    const int ready = ppoll(fds, forData ? 2 : 1, forever ? nullptr : &timeout, nullptr);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) systemFailure("cannot wait on the line");
    if (fds[0].revents) return Wake::Stop;
    if (ready == 0) return Wake::Timeout;
    return Wake::Data;
  }
}

void Line::readAvailable(Bytes& into) {
  std::uint8_t buffer[256];
  const ssize_t count = read(master_, buffer, sizeof buffer);
  if (count > 0) {
    into.insert(into.end(), buffer, buffer + count);
  } else if (count < 0 && errno != EAGAIN) {
    // A failing read would fail again at once: wait a little, don't spin.
    pause(std::chrono::duration<double, std::milli>(kRetryAfterError).count());
  }
}

std::optional<Bytes> Line::receiveBytes() {
  Bytes bytes;
  while (bytes.empty()) {
    if (waitUntil(Clock::time_point::max(), true) == Wake::Stop) return std::nullopt;
    readAvailable(bytes);
  }
  return bytes;
}

std::optional<Bytes> Line::receiveFrame() {
  std::optional<Bytes> frame = receiveBytes();
  while (frame) {
    switch (waitUntil(Clock::now() + kFrameGap, true)) {
      case Wake::Stop:
        return std::nullopt;
      case Wake::Timeout:
        return frame;
      case Wake::Data:
        readAvailable(*frame);
        break;
    }
  }
  return frame;
}

bool Line::pause(double ms) {
  const auto wait = std::chrono::duration<double, std::milli>(ms);
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(wait);
  return waitUntil(deadline, false) != Wake::Stop;
}

bool Line::send(const Bytes& bytes) {
  auto due = Clock::now();
  for (std::uint8_t byte : bytes) {
    due += kCharacterTime;  // a byte is there once its stop bit has gone out
    if (waitUntil(due, false) == Wake::Stop) return false;
    // A full input queue on the other side drops the byte, as a line would.
    [[maybe_unused]] const ssize_t written = write(master_, &byte, 1);
  }
  return true;
}

}  // namespace sim
