#include "tests/support/pty_pair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <chrono>

PtyPair::PtyPair() {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed";
    return;
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slavePath_ = name;
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (slave_ >= 0) close(slave_);
}

void PtyPair::Write(const std::string& bytes) const {
  ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::string PtyPair::Read(int timeoutMs, size_t atLeast) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string bytes;
  while (bytes.size() < atLeast) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd pfd{master_, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(left)) <= 0) break;
    char chunk[256];
    const ssize_t got = read(master_, chunk, sizeof chunk);
    if (got <= 0) break;
    bytes.append(chunk, static_cast<size_t>(got));
  }
  return bytes;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}
