#pragma once
// The tests' own ends of TCP connections on 127.0.0.1, for the network
// line's tests: servers that play a serial device server by script, and a
// proxy that delays a path (there is no netem here). The tool only connects;
// listening is the tests' business. The system calls are in
// loopback_unix.cpp and loopback_win.cpp, behind loopback_system.h.
//
//   tl8test::ScriptedServer server([](tl8test::LoopSocket& listener) {
//     tl8test::LoopSocket client = listener.Accept(tl8test::kLongWait);
//     client.Send(client.ReceiveCount(8, tl8test::kLongWait));  // hands the request back
//   });
//   port.SetPort(server.Name("tcp"));                      // tcp://127.0.0.1:PORT
//
//   tl8test::DelayProxy path(serverPort, std::chrono::milliseconds(40));
//   port.SetPort("tcp://127.0.0.1:" + std::to_string(path.Port()));

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tl8test {

// How long a test waits for what must come: generous, never a margin.
inline constexpr std::chrono::milliseconds kLongWait{10000};

// One socket, closed with the object.
class LoopSocket {
 public:
  LoopSocket() = default;
  explicit LoopSocket(std::intptr_t handle) : handle_(handle) {}
  ~LoopSocket() { Close(); }
  LoopSocket(LoopSocket&& other) noexcept;
  LoopSocket& operator=(LoopSocket&& other) noexcept;

  // Listening on 127.0.0.1 at a free port; `backlog` connections may wait
  // to be accepted.
  static LoopSocket Listen(int backlog = 4);
  // Bound to a free port on 127.0.0.1 and not listening: a connection there
  // is refused, and while it is held no other socket takes the port (a port
  // merely closed again can be taken at once, even by the connecting
  // socket's own end, which then connects to itself).
  static LoopSocket Bound();
  // A connection to 127.0.0.1:port. Without `wait` the call returns while
  // the connection is still on its way (one that fills a backlog).
  static LoopSocket Connect(int port, bool wait = true);

  bool Valid() const { return handle_ != -1; }
  std::intptr_t Handle() const { return handle_; }
  // The local port.
  int Port() const;
  // Holds about `bytes` of what comes in unread (the system's default can
  // take tens of megabytes, which a peer then spends time to fill).
  void LimitReceiveBuffer(int bytes) const;
  // The next connection, within `limit`; an invalid socket when none came.
  LoopSocket Accept(std::chrono::milliseconds limit) const;
  // False when the connection failed.
  bool Send(std::string_view bytes) const;
  // What has come after waiting up to `limit` for the first byte: empty when
  // nothing came; `closed` (if given) tells whether the peer has closed.
  std::string Receive(std::chrono::milliseconds limit, bool* closed = nullptr) const;
  // Receives until `count` bytes came, the peer closed or `limit` passed.
  std::string ReceiveCount(size_t count, std::chrono::milliseconds limit) const;
  // Waits until the peer closes (true) or `limit` passes, dropping data.
  bool AwaitClose(std::chrono::milliseconds limit) const;
  void Close();

 private:
  std::intptr_t handle_ = -1;
};

// Waits until one of the sockets can be read; its index, or -1 when `limit`
// passed first.
int WaitReadable(const std::vector<const LoopSocket*>& sockets, std::chrono::milliseconds limit);

// A server whose script runs on a thread of its own with the listening
// socket; the script must end by itself (every wait bounded). Destroying the
// server (or Join) waits for it.
class ScriptedServer {
 public:
  using Script = std::function<void(LoopSocket& listener)>;
  explicit ScriptedServer(Script script, int backlog = 4);
  ~ScriptedServer() { Join(); }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  // The tool's name for it: scheme://127.0.0.1:PORT, then `query`.
  std::string Name(const std::string& scheme, const std::string& query = "") const;
  void Join();

 private:
  LoopSocket listener_;
  int port_;
  std::thread thread_;
};

// Passes connections, one at a time, between its own port and `target`,
// each chunk `delay` after it came, both ways: a network path with that
// latency each way. A side that closes closes the other once what was on
// its way has been delivered.
class DelayProxy {
 public:
  DelayProxy(int target, std::chrono::milliseconds delay);
  ~DelayProxy();
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int Port() const { return port_; }

 private:
  void Run();

  LoopSocket listener_;
  int port_;
  int target_;
  std::chrono::milliseconds delay_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tl8test
