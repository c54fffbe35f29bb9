#include "tests/support/raw_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <chrono>
#include <stdexcept>

namespace tl8test {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

RawLine::RawLine(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  if (fd_ < 0) throw std::runtime_error("cannot open " + path);
  termios settings{};
  tcgetattr(fd_, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd_, TCSANOW, &settings);
  tcflush(fd_, TCIFLUSH);
}

RawLine::~RawLine() { close(fd_); }

void RawLine::send(const Bytes& bytes) {
  if (write(fd_, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
    throw std::runtime_error("cannot write to the line");
}

Bytes RawLine::receive(std::size_t count, int limitMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  Bytes bytes;
  while (bytes.size() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd pfd{fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, int(left.count())) <= 0) break;
    std::uint8_t buffer[512];
    const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (got <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

Bytes RawLine::pending() {
  Bytes bytes;
  for (pollfd pfd{fd_, POLLIN, 0}; poll(&pfd, 1, 0) > 0; pfd.revents = 0) {
    std::uint8_t buffer[512];
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

}  // namespace tl8test
