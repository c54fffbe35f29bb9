#include "tests/support/loopback.h"

#include "tests/support/loopback_system.h"

#include <algorithm>
#include <deque>
#include <utility>

namespace tl8test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

}  // namespace

LoopSocket::LoopSocket(LoopSocket&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

LoopSocket& LoopSocket::operator=(LoopSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

LoopSocket LoopSocket::Listen(int backlog) { return LoopSocket(loopsys::Listen(backlog)); }

LoopSocket LoopSocket::Bound() { return LoopSocket(loopsys::Bound()); }

LoopSocket LoopSocket::Connect(int port, bool wait) {
  return LoopSocket(loopsys::Connect(port, wait));
}

int LoopSocket::Port() const { return loopsys::LocalPort(handle_); }

void LoopSocket::LimitReceiveBuffer(int bytes) const {
  loopsys::LimitReceiveBuffer(handle_, bytes);
}

LoopSocket LoopSocket::Accept(std::chrono::milliseconds limit) const {
  if (WaitReadable({this}, limit) != 0) return {};
  return LoopSocket(loopsys::Accept(handle_));
}

bool LoopSocket::Send(std::string_view bytes) const {
  return loopsys::SendAll(handle_, bytes.data(), bytes.size());
}

std::string LoopSocket::Receive(std::chrono::milliseconds limit, bool* closed) const {
  if (closed) *closed = false;
  if (WaitReadable({this}, limit) != 0) return {};
  char buffer[4096];
  const long got = loopsys::ReceiveSome(handle_, buffer, sizeof buffer);
  if (got <= 0) {
    if (closed) *closed = true;
    return {};
  }
  return std::string(buffer, static_cast<size_t>(got));
}

std::string LoopSocket::ReceiveCount(size_t count, std::chrono::milliseconds limit) const {
  const Clock::time_point deadline = Clock::now() + limit;
  std::string bytes;
  while (bytes.size() < count) {
    bool closed = false;
    const std::string got = Receive(std::chrono::milliseconds(MillisecondsLeft(deadline)), &closed);
    if (closed || got.empty()) break;
    bytes += got;
  }
  return bytes;
}

bool LoopSocket::AwaitClose(std::chrono::milliseconds limit) const {
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    bool closed = false;
    const std::string got = Receive(std::chrono::milliseconds(MillisecondsLeft(deadline)), &closed);
    if (closed) return true;
    if (got.empty()) return false;
  }
}

void LoopSocket::Close() {
  if (handle_ != -1) loopsys::Close(std::exchange(handle_, -1));
}

int WaitReadable(const std::vector<const LoopSocket*>& sockets, std::chrono::milliseconds limit) {
  std::vector<std::intptr_t> handles;
  for (const LoopSocket* socket : sockets) handles.push_back(socket->Handle());
  return loopsys::PollReadable(handles, static_cast<int>(limit.count()));
}

// --- ScriptedServer ------------------------------------------------------------

ScriptedServer::ScriptedServer(Script script, int backlog)
    : listener_(LoopSocket::Listen(backlog)), port_(listener_.Port()) {
  thread_ = std::thread([this, script = std::move(script)] { script(listener_); });
}

std::string ScriptedServer::Name(const std::string& scheme, const std::string& query) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_) + query;
}

void ScriptedServer::Join() {
  if (thread_.joinable()) thread_.join();
}

// --- DelayProxy ------------------------------------------------------------------

DelayProxy::DelayProxy(int target, std::chrono::milliseconds delay)
    : listener_(LoopSocket::Listen()), port_(listener_.Port()), target_(target), delay_(delay) {
  thread_ = std::thread([this] { Run(); });
}

DelayProxy::~DelayProxy() {
  stop_ = true;
  thread_.join();
}

void DelayProxy::Run() {
  // How often the stop flag is looked at while nothing is due.
  constexpr std::chrono::milliseconds kStep{20};
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
  };
  // Each direction: where its bytes come from, where they go, what is on its way.
  struct Direction {
    LoopSocket* from;
    LoopSocket* to;
    std::deque<Chunk> onTheWay;
    bool ended = false;  // its source has closed
  };
  while (!stop_) {
    LoopSocket client = listener_.Accept(kStep);
    if (!client.Valid()) continue;
    LoopSocket server = LoopSocket::Connect(target_);
    Direction ways[2] = {{&client, &server, {}}, {&server, &client, {}}};
    while (!stop_) {
      Clock::time_point next = Clock::now() + kStep;
      for (Direction& way : ways)
        if (!way.onTheWay.empty()) next = std::min(next, way.onTheWay.front().due);
      std::vector<const LoopSocket*> open;
      std::vector<Direction*> openWays;
      for (Direction& way : ways) {
        if (way.ended) continue;
        open.push_back(way.from);
        openWays.push_back(&way);
      }
      if (open.empty()) std::this_thread::sleep_until(next);  // both closed: deliver the rest
      const int ready =
          open.empty() ? -1 : WaitReadable(open, std::chrono::milliseconds(MillisecondsLeft(next)));
      if (ready >= 0) {
        Direction& way = *openWays[static_cast<size_t>(ready)];
        bool closed = false;
        std::string bytes = way.from->Receive(std::chrono::milliseconds(0), &closed);
        if (closed) way.ended = true;
        if (!bytes.empty()) way.onTheWay.push_back({Clock::now() + delay_, std::move(bytes)});
      }
      for (Direction& way : ways) {
        while (!way.onTheWay.empty() && way.onTheWay.front().due <= Clock::now()) {
          way.to->Send(way.onTheWay.front().bytes);
          way.onTheWay.pop_front();
        }
      }
      // A side that closed ends the connection once its bytes are through.
      const auto over = [](const Direction& way) { return way.ended && way.onTheWay.empty(); };
      if (over(ways[0]) || over(ways[1])) break;
    }
  }
}

}  // namespace tl8test
