#include "tests/modbus/pty_peer.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

namespace {

constexpr int kFrameGapMs = 5;

std::string ReadFrame(int fd) {
  std::string frame;
  char buffer[256];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, kFrameGapMs) > 0 && (p.revents & POLLIN)) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    frame.append(buffer, n);
  }
  return frame;
}

}  // namespace

PtyPeer::PtyPeer(Responder responder)
    : responder_(std::move(responder)), thread_([this] { Run(); }) {}

PtyPeer::~PtyPeer() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  thread_.join();
}

void PtyPeer::SetResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

std::vector<std::string> PtyPeer::Frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

void PtyPeer::Run() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
    }
    pollfd p{line_.Master(), POLLIN, 0};
    if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
    const std::string frame = ReadFrame(line_.Master());
    if (!frame.empty()) Answer(frame);
  }
}

void PtyPeer::Answer(const std::string& frame) {
  Responder responder;
  {
    std::lock_guard lock(mutex_);
    frames_.push_back(frame);
    responder = responder_;
  }
  if (!responder) return;
  for (const Burst& burst : responder(frame)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(burst.delayMs));
    Write(burst.bytes);
  }
}

std::string Bytes(const std::string& hex) {
  std::istringstream in(hex);
  std::string bytes;
  for (unsigned value; in >> std::hex >> value;) bytes += static_cast<char>(value);
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}
