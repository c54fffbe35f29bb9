#include "line.h"

#include "timing.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
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

// A listening TCP socket at host:port; the port the system gave when 0.
int listenAt(const std::string& host, int& port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int error = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found))
    throw std::runtime_error("cannot listen at " + host + ": " + gai_strerror(error));
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1;
  // A restarted simulator takes its port again at once.
  const bool listening = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                         bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, 4) == 0;
  freeaddrinfo(found);
  if (!listening) systemFailure("cannot listen at " + host + ":" + std::to_string(port));
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                           : reinterpret_cast<sockaddr_in&>(bound).sin_port);
  return fd;
}

// "127.0.0.1:40002" or "[::1]:40002".
std::string peerName(const sockaddr_storage& address) {
  char host[NI_MAXHOST] = "?";
  char port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host, port,
              sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
  const std::string name = host;
  return (name.find(':') == std::string::npos ? name : "[" + name + "]") + ":" + port;
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
  peer_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (peer_ < 0) systemFailure("cannot open a pseudo-terminal");
  if (grantpt(peer_) != 0 || unlockpt(peer_) != 0)
    systemFailure("cannot unlock the pseudo-terminal");
  path_ = ptsname(peer_);
  slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) systemFailure("cannot open " + path_);
  makeRaw(slave_);
}

Line::Line(const std::string& host, int port, EventLog events, const std::string& scheme)
    : events_(std::move(events)) {
  signals_ = stopSignals();
  listener_ = listenAt(host, port);
  const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
  path_ = scheme + "://" + shown + ":" + std::to_string(port);
}

Line::~Line() {
  unplug();
  for (int fd : {listener_, signals_})
    if (fd >= 0) close(fd);
}

void Line::unplug() {
  for (int* fd : {&slave_, &peer_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void Line::plugIn() {
  unplug();
  openTerminal();
}

void Line::acceptClient() {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&address), &length,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;  // the client gave up before it was taken
  if (peer_ >= 0) {
    events_("client " + peerName(address) + " turned away: one client at a time");
    close(fd);
    return;
  }
  // Each byte goes out when the line has it, not when the system's delayed
  // acknowledgement lets it.
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  peer_ = fd;
  ++clientsTaken_;
  events_("client " + peerName(address) + " connected");
}

void Line::dropClient() {
  close(peer_);
  peer_ = -1;
  events_("client gone");
}

Line::Wake Line::waitUntil(Clock::time_point deadline, bool forData) {
  while (true) {
    // poll skips a negative descriptor: no client, or no listening port.
    pollfd fds[3] = {
        {signals_, POLLIN, 0}, {forData ? peer_ : -1, POLLIN, 0}, {listener_, POLLIN, 0}};
    const auto left = deadline - Clock::now();
    const timespec timeout = timespecOf(std::max(left, Clock::duration::zero()));
    const bool forever = deadline == Clock::time_point::max();
    const int ready = ppoll(fds, 3, forever ? nullptr : &timeout, nullptr);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) systemFailure("cannot wait on the line");
    if (fds[0].revents) return Wake::Stop;
    if (fds[2].revents) {
      acceptClient();
      continue;
    }
    if (ready == 0) return Wake::Timeout;
    return Wake::Data;
  }
}

void Line::readAvailable(Bytes& into) {
  std::uint8_t buffer[256];
  const ssize_t count = read(peer_, buffer, sizeof buffer);
  if (count > 0) {
    into.insert(into.end(), buffer, buffer + count);
  } else if (listener_ >= 0 && (count == 0 || errno != EAGAIN)) {
    dropClient();
    into.clear();
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
  for (;;) {
    std::optional<Bytes> frame = receiveBytes();
    while (frame && !frame->empty()) {
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
    if (!frame) return frame;
    // Emptied: its client left before the request ended.
  }
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
    if (peer_ < 0) continue;  // nobody listens: the line's bytes go nowhere
    // A full input queue on the other side drops the byte, as a line would.
    const ssize_t written =
        listener_ >= 0 ? ::send(peer_, &byte, 1, MSG_NOSIGNAL) : write(peer_, &byte, 1);
    if (written < 0 && listener_ >= 0 && errno != EAGAIN) dropClient();
  }
  return true;
}

void Line::sendWhole(const Bytes& bytes) {
  if (peer_ < 0 || bytes.empty()) return;  // nobody listens: the reply goes nowhere
  if (::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN) dropClient();
}

}  // namespace sim
