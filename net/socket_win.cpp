// Windows side of the network socket: a Winsock TCP socket whose network
// events (WSAEventSelect) signal an event object, waited on with
// WaitForMultipleObjects beside the stop event.

#include "os/platform.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After Winsock: windows.h alone would bring the old socket interface.
#include <mstcpip.h>
#include <windows.h>

#include <algorithm>

namespace comdev {

struct Socket {
  SOCKET handle;
  WSAEVENT event;  // signalled by the socket's network events
};

const int kNetTimedOut = WSAETIMEDOUT;
const int kNetStopped = WSAEINTR;
const int kNetBadName = WSAEINVAL;
const int kNetClosed = WSAECONNRESET;
const int kNetRefused = WSAEPROTONOSUPPORT;
const int kNetOverrun = WSAENOBUFS;

}  // namespace comdev

namespace {

constexpr long kNetworkEvents = FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE;
// A dead server is noticed after about 10 s of silence plus unanswered
// probes 5 s apart, not after the system's two hours.
constexpr ULONG kKeepIdleMs = 10000;
constexpr ULONG kKeepIntervalMs = 5000;

int LastError() { return ::WSAGetLastError(); }

// Winsock is started once for the process and left running until it ends.
int StartWinsock() {
  static const int started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return started;
}

void KeepAliveAndNoDelay(SOCKET handle) {
  // Best effort: a connection without them still works.
  const BOOL on = TRUE;
  ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  tcp_keepalive keepAlive{1, kKeepIdleMs, kKeepIntervalMs};
  DWORD returned = 0;
  ::WSAIoctl(handle, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned,
             nullptr, nullptr);
}

// Waits for the socket's event or the stop event; when the socket's came
// (Ready), its network events are in `occurred`.
int WaitNetworkEvents(comdev::Socket& socket, const TComStopEvent* stop, int timeoutMs,
                      comdev::SocketWake& wake, WSANETWORKEVENTS& occurred) {
  const HANDLE handles[2] = {socket.event,
                             stop ? reinterpret_cast<HANDLE>(stop->Handle()) : nullptr};
  const DWORD waited = ::WaitForMultipleObjects(
      stop ? 2 : 1, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  if (waited == WAIT_FAILED) return static_cast<int>(::GetLastError());
  wake = waited == WAIT_OBJECT_0       ? comdev::SocketWake::Ready
         : waited == WAIT_OBJECT_0 + 1 ? comdev::SocketWake::Stopped
                                       : comdev::SocketWake::TimedOut;
  occurred = {};
  // Reading the events resets the socket's event.
  if (wake == comdev::SocketWake::Ready &&
      ::WSAEnumNetworkEvents(socket.handle, socket.event, &occurred) != 0)
    return LastError();
  return 0;
}

// Whether the socket can be read now: data waits, or the connection is over.
bool Readable(const comdev::Socket& socket) {
  u_long waiting = 0;
  if (::ioctlsocket(socket.handle, FIONREAD, &waiting) == 0 && waiting > 0) return true;
  return comdev::SocketGone(socket);
}

}  // namespace

namespace comdev {

void SocketCloser::operator()(Socket* socket) const noexcept {
  ::closesocket(socket->handle);
  ::WSACloseEvent(socket->event);
  delete socket;
}

int ResolveHost(const std::string& host, const std::string& service,
                std::vector<std::string>& addresses) {
  if (int error = StartWinsock()) return error;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  // The error is a Winsock code, as WSAGetLastError gives it.
  if (const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found)) return error;
  addresses.clear();
  for (const addrinfo* a = found; a; a = a->ai_next)
    addresses.emplace_back(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen);
  ::freeaddrinfo(found);
  return addresses.empty() ? WSAHOST_NOT_FOUND : 0;
}

bool IsLookupFailure(int code) {
  return code == WSAHOST_NOT_FOUND || code == WSATRY_AGAIN || code == WSANO_RECOVERY ||
         code == WSANO_DATA;
}

// Winsock's code names the lookup's failure as every Windows code does.
std::string LookupFailureText(int) { return {}; }

bool IsConnectionRefused(int code) { return code == WSAECONNREFUSED; }

int ConnectSocket(const std::string& address, const TComStopEvent* stop, int timeoutMs,
                  SocketPtr& socket) {
  if (int error = StartWinsock()) return error;
  const auto* target = reinterpret_cast<const sockaddr*>(address.data());
  const SOCKET handle = ::WSASocketW(target->sa_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (handle == INVALID_SOCKET) return LastError();
  const WSAEVENT event = ::WSACreateEvent();
  if (event == WSA_INVALID_EVENT) {
    const int error = LastError();
    ::closesocket(handle);
    return error;
  }
  SocketPtr opened(new Socket{handle, event});
  KeepAliveAndNoDelay(handle);
  // The events make the socket non-blocking.
  if (::WSAEventSelect(handle, event, kNetworkEvents) != 0) return LastError();
  if (::connect(handle, target, static_cast<int>(address.size())) != 0) {
    if (LastError() != WSAEWOULDBLOCK) return LastError();
    const ULONGLONG started = ::GetTickCount64();
    for (;;) {
      const ULONGLONG elapsed = ::GetTickCount64() - started;
      if (elapsed >= static_cast<ULONGLONG>(timeoutMs)) return kNetTimedOut;
      SocketWake wake = SocketWake::TimedOut;
      WSANETWORKEVENTS occurred{};
      if (int error = WaitNetworkEvents(*opened, stop, static_cast<int>(timeoutMs - elapsed), wake,
                                        occurred))
        return error;
      if (wake == SocketWake::Stopped) return kNetStopped;
      if (wake == SocketWake::TimedOut) return kNetTimedOut;
      if (occurred.lNetworkEvents & FD_CONNECT) {
        if (int error = occurred.iErrorCode[FD_CONNECT_BIT]) return error;
        break;
      }
    }
  }
  socket = std::move(opened);
  return 0;
}

int SendSome(Socket& socket, const char* bytes, int count, int& sent) {
  sent = 0;
  const int done = ::send(socket.handle, bytes, count, 0);
  if (done != SOCKET_ERROR) {
    sent = done;
    return 0;
  }
  return LastError() == WSAEWOULDBLOCK ? 0 : LastError();
}

int ReceiveSome(Socket& socket, std::string& into, int limit, bool& closed) {
  closed = false;
  const size_t before = into.size();
  into.resize(before + static_cast<size_t>(std::max(limit, 0)));
  size_t taken = 0;
  int error = 0;
  // A server that sends without pause never lets recv say WSAEWOULDBLOCK:
  // the limit ends the call.
  while (before + taken < into.size()) {
    const int got = ::recv(socket.handle, into.data() + before + taken,
                           static_cast<int>(into.size() - before - taken), 0);
    if (got > 0) {
      taken += static_cast<size_t>(got);
    } else if (got == 0) {
      closed = true;
      break;
    } else {
      error = LastError() == WSAEWOULDBLOCK ? 0 : LastError();
      break;
    }
  }
  into.resize(before + taken);
  return error;
}

bool SocketGone(const Socket& socket) {
  char byte = 0;
  const int got = ::recv(socket.handle, &byte, 1, MSG_PEEK);
  return got == 0 || (got == SOCKET_ERROR && LastError() != WSAEWOULDBLOCK);
}

int WaitSocket(Socket& socket, SocketWait what, const TComStopEvent* stop, int timeoutMs,
               SocketWake& wake) {
  // A network event is recorded once until the call that re-enables it, and
  // may have been taken by an earlier wait: what is there already counts.
  if (what == SocketWait::Readable && Readable(socket)) {
    wake = SocketWake::Ready;
    return 0;
  }
  const long wanted = what == SocketWait::Readable ? FD_READ | FD_CLOSE : FD_WRITE | FD_CLOSE;
  const ULONGLONG started = ::GetTickCount64();
  for (;;) {
    int left = -1;
    if (timeoutMs >= 0) {
      const ULONGLONG elapsed = ::GetTickCount64() - started;
      left = static_cast<int>(timeoutMs - std::min<ULONGLONG>(elapsed, timeoutMs));
    }
    WSANETWORKEVENTS occurred{};
    if (int error = WaitNetworkEvents(socket, stop, left, wake, occurred)) return error;
    if (wake != SocketWake::Ready || (occurred.lNetworkEvents & wanted) != 0) return 0;
    if (left == 0) {  // the socket's other events took the last of the time
      wake = SocketWake::TimedOut;
      return 0;
    }
  }
}

}  // namespace comdev
