// Linux side of the network socket: a non-blocking TCP socket, waited on with
// poll beside the stop event's eventfd.

#include "os/platform.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace comdev {

struct Socket {
  int fd;
};

const int kNetTimedOut = ETIMEDOUT;
const int kNetStopped = EINTR;
const int kNetBadName = EINVAL;
const int kNetClosed = ECONNRESET;
const int kNetRefused = EPROTO;
const int kNetOverrun = ENOBUFS;

}  // namespace comdev

namespace {

// A dead server is noticed after about 10 s of silence plus 3 unanswered
// probes 5 s apart, not after the system's two hours.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;

void KeepAliveAndNoDelay(int fd) {
  const int on = 1;
  // Best effort: a connection without them still works.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
}

// poll() on the socket and the stop event until one is ready or the time is
// up, resuming after signals.
int PollSocket(int fd, short events, const TComStopEvent* stop, int timeoutMs,
               comdev::SocketWake& wake) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd fds[2] = {{fd, events, 0}, {stop ? static_cast<int>(stop->Handle()) : -1, POLLIN, 0}};
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      wait = static_cast<int>(std::max<long long>(left.count(), 0));
    }
    const int count = ::poll(fds, 2, wait);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return errno;
    wake = fds[0].revents   ? comdev::SocketWake::Ready
           : fds[1].revents ? comdev::SocketWake::Stopped
                            : comdev::SocketWake::TimedOut;
    return 0;
  }
}

}  // namespace

namespace comdev {

void SocketCloser::operator()(Socket* socket) const noexcept {
  ::close(socket->fd);
  delete socket;
}

int ResolveHost(const std::string& host, const std::string& service,
                std::vector<std::string>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  // getaddrinfo's own codes (negative in glibc) stay as they are: they and
  // their texts say what the name service found.
  if (const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found))
    return error == EAI_SYSTEM ? errno : error;
  addresses.clear();
  for (const addrinfo* a = found; a; a = a->ai_next)
    addresses.emplace_back(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen);
  ::freeaddrinfo(found);
  return addresses.empty() ? EAI_NONAME : 0;
}

bool IsLookupFailure(int code) { return code < 0; }

std::string LookupFailureText(int code) {
  return IsLookupFailure(code) ? ::gai_strerror(code) : "";
}

bool IsConnectionRefused(int code) { return code == ECONNREFUSED; }

int ConnectSocket(const std::string& address, const TComStopEvent* stop, int timeoutMs,
                  SocketPtr& socket) {
  const auto* target = reinterpret_cast<const sockaddr*>(address.data());
  const int fd = ::socket(target->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  SocketPtr opened(new Socket{fd});
  KeepAliveAndNoDelay(fd);
  if (::connect(fd, target, static_cast<socklen_t>(address.size())) != 0) {
    if (errno != EINPROGRESS) return errno;
    SocketWake wake = SocketWake::TimedOut;
    if (int error = PollSocket(fd, POLLOUT, stop, timeoutMs, wake)) return error;
    if (wake == SocketWake::Stopped) return kNetStopped;
    if (wake == SocketWake::TimedOut) return kNetTimedOut;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    if (error != 0) return error;
  }
  socket = std::move(opened);
  return 0;
}

int SendSome(Socket& socket, const char* bytes, int count, int& sent) {
  sent = 0;
  // No SIGPIPE for a connection the server has closed: the error says it.
  const ssize_t done = ::send(socket.fd, bytes, static_cast<size_t>(count), MSG_NOSIGNAL);
  if (done >= 0) {
    sent = static_cast<int>(done);
    return 0;
  }
  if (errno == EAGAIN || errno == EINTR) return 0;
  // A send after the server's reset: the connection is closed, as one reset
  // says it (and the server's last words may still be there to read).
  return errno == EPIPE ? kNetClosed : errno;
}

int ReceiveSome(Socket& socket, std::string& into, int limit, bool& closed) {
  closed = false;
  const size_t before = into.size();
  into.resize(before + static_cast<size_t>(std::max(limit, 0)));
  size_t taken = 0;
  int error = 0;
  // A server that sends without pause never lets recv say EAGAIN: the limit
  // ends the call.
  while (before + taken < into.size()) {
    const ssize_t got =
        ::recv(socket.fd, into.data() + before + taken, into.size() - before - taken, 0);
    if (got > 0) {
      taken += static_cast<size_t>(got);
    } else if (got == 0) {
      closed = true;
      break;
    } else if (errno != EINTR) {
      error = errno == EAGAIN ? 0 : errno;
      break;
    }
  }
  into.resize(before + taken);
  return error;
}

bool SocketGone(const Socket& socket) {
  char byte = 0;
  const ssize_t got = ::recv(socket.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
}

int WaitSocket(Socket& socket, SocketWait what, const TComStopEvent* stop, int timeoutMs,
               SocketWake& wake) {
  return PollSocket(socket.fd, what == SocketWait::Readable ? POLLIN : POLLOUT, stop, timeoutMs,
                    wake);
}

}  // namespace comdev
