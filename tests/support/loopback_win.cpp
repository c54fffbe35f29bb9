// Windows side of the tests' loopback sockets (Winsock).

#include "tests/support/loopback_system.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace tl8test::loopsys {
namespace {

// Winsock is started once for the test program.
bool Started() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

std::intptr_t Handle(SOCKET socket) {
  return socket == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(socket);
}

SOCKET Socket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

std::intptr_t Bound() {
  if (!Started()) return -1;
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const sockaddr_in address = Loopback(0);
  if (socket == INVALID_SOCKET ||
      ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (socket != INVALID_SOCKET) ::closesocket(socket);
    return -1;
  }
  return Handle(socket);
}

std::intptr_t Listen(int backlog) {
  const std::intptr_t socket = Bound();
  if (socket != -1 && ::listen(Socket(socket), backlog) != 0) {
    ::closesocket(Socket(socket));
    return -1;
  }
  return socket;
}

std::intptr_t Accept(std::intptr_t listener) {
  return Handle(::accept(Socket(listener), nullptr, nullptr));
}

std::intptr_t Connect(int port, bool wait) {
  if (!Started()) return -1;
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) return -1;
  u_long nonBlocking = wait ? 0 : 1;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  const sockaddr_in address = Loopback(port);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      (wait || ::WSAGetLastError() != WSAEWOULDBLOCK)) {
    ::closesocket(socket);
    return -1;
  }
  nonBlocking = 0;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  return Handle(socket);
}

int LocalPort(std::intptr_t socket) {
  sockaddr_in address{};
  int length = sizeof address;
  ::getsockname(Socket(socket), reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

void LimitReceiveBuffer(std::intptr_t socket, int bytes) {
  ::setsockopt(Socket(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
               sizeof bytes);
}

bool SendAll(std::intptr_t socket, const char* bytes, size_t count) {
  while (count > 0) {
    const int sent = ::send(Socket(socket), bytes, static_cast<int>(count), 0);
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<size_t>(sent);
  }
  return true;
}

long ReceiveSome(std::intptr_t socket, char* buffer, size_t size) {
  return ::recv(Socket(socket), buffer, static_cast<int>(size), 0);
}

int PollReadable(const std::vector<std::intptr_t>& sockets, int timeoutMs) {
  std::vector<WSAPOLLFD> fds;
  for (std::intptr_t socket : sockets) fds.push_back({Socket(socket), POLLRDNORM, 0});
  const int ready = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
  for (size_t i = 0; ready > 0 && i < fds.size(); ++i)
    if (fds[i].revents != 0) return static_cast<int>(i);
  return -1;
}

void Close(std::intptr_t socket) { ::closesocket(Socket(socket)); }

}  // namespace tl8test::loopsys
