#include "tests/sim/raw_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <stdexcept>

namespace tl8test {

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

Bytes RawLine::receive(int firstMs, std::size_t upTo) {
  Bytes bytes;
  for (int wait = firstMs; bytes.size() < upTo; wait = 50) {
    pollfd pfd{fd_, POLLIN, 0};
    if (poll(&pfd, 1, wait) <= 0) return bytes;
    std::uint8_t buffer[512];
    const ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count <= 0) return bytes;
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
  return bytes;
}

}  // namespace tl8test
