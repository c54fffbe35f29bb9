// Linux side of the tests' loopback sockets.

#include "tests/support/loopback_system.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tl8test::loopsys {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

std::intptr_t Bound() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

std::intptr_t Listen(int backlog) {
  const std::intptr_t fd = Bound();
  if (fd >= 0 && ::listen(static_cast<int>(fd), backlog) != 0) {
    ::close(static_cast<int>(fd));
    return -1;
  }
  return fd;
}

std::intptr_t Accept(std::intptr_t listener) {
  return ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
}

std::intptr_t Connect(int port, bool wait) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
  const sockaddr_in address = Loopback(port);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      (wait || errno != EINPROGRESS)) {
    ::close(fd);
    return -1;
  }
  if (!wait) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int LocalPort(std::intptr_t socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

void LimitReceiveBuffer(std::intptr_t socket, int bytes) {
  ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool SendAll(std::intptr_t socket, const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t sent = ::send(static_cast<int>(socket), bytes, count, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<size_t>(sent);
  }
  return true;
}

long ReceiveSome(std::intptr_t socket, char* buffer, size_t size) {
  for (;;) {
    const ssize_t got = ::recv(static_cast<int>(socket), buffer, size, 0);
    if (got < 0 && errno == EINTR) continue;
    return static_cast<long>(got);
  }
}

int PollReadable(const std::vector<std::intptr_t>& sockets, int timeoutMs) {
  std::vector<pollfd> fds;
  for (std::intptr_t socket : sockets) fds.push_back({static_cast<int>(socket), POLLIN, 0});
  int ready = 0;
  do {
    ready = ::poll(fds.data(), fds.size(), timeoutMs);
  } while (ready < 0 && errno == EINTR);
  for (size_t i = 0; ready > 0 && i < fds.size(); ++i)
    if (fds[i].revents != 0) return static_cast<int>(i);
  return -1;
}

void Close(std::intptr_t socket) { ::close(static_cast<int>(socket)); }

}  // namespace tl8test::loopsys
