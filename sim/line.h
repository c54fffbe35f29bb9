#pragma once
// The simulator's end of the line: the master side of a new pseudo-terminal,
// or a TCP port that serves one client at a time, as a serial device server
// in raw mode passes its line's bytes through a connection. Either delivers
// bytes at once, so this class makes the timing of a 9600 bit/s line itself:
// a request ends on 3.5 characters of silence, answers go out a character
// time apart. Every wait also watches for SIGINT, SIGTERM and SIGHUP, which
// end the simulator.

#include "output.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace sim {

using Clock = std::chrono::steady_clock;

class Line : public Output {
 public:
  using EventLog = std::function<void(const std::string& event)>;

  // A new pseudo-terminal. Throws std::runtime_error when none can be made.
  Line();
  // Listens at host:port (port 0: one the system picks) for clients, one at a
  // time: a second one is closed at once. A client that leaves takes a
  // request it had not finished with it. `events` hears of clients coming and
  // going. The path is `scheme`://HOST:PORT. Throws std::runtime_error when
  // the port cannot be had.
  Line(const std::string& host, int port, EventLog events, const std::string& scheme = "tcp");
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // What the other side opens: the terminal's path, such as /dev/pts/5, or
  // the tool's port name of the TCP port, such as tcp://127.0.0.1:40001.
  const std::string& path() const { return path_; }

  // The next request: the bytes up to a 3.5-character silence. Empty when a
  // stop signal came first.
  std::optional<Bytes> receiveFrame();

  // Whatever bytes come next, as soon as they come. Empty on a stop signal.
  std::optional<Bytes> receiveBytes();

  // Waits the given time; false when a stop signal came meanwhile.
  bool pause(double ms) override;

  // Sends the bytes a character time apart; false when a stop signal came.
  bool send(const Bytes& bytes) override;
  // Sends the bytes at once, as a gateway sends its whole reply (TCP only).
  void sendWhole(const Bytes& bytes);
  // How many clients the TCP port has taken so far.
  int clientsTaken() const { return clientsTaken_; }

  // The terminal closes, as a converter pulled out: whoever has it open
  // sees the line hang up for good. Only pause works until plugIn. For a
  // pseudo-terminal line only.
  void unplug();
  // A new terminal, under a new path().
  void plugIn();

 private:
  void openTerminal();
  enum class Wake { Data, Timeout, Stop };
  Wake waitUntil(Clock::time_point deadline, bool forData);
  // Appends what has come; a client that has left empties `into`.
  void readAvailable(Bytes& into);
  void acceptClient();
  void dropClient();

  int peer_ = -1;   // where bytes come from and go to: the master or the client
  int slave_ = -1;  // kept open so a user closing the line does not hang it up
  int listener_ = -1;
  int signals_ = -1;
  std::string path_;
  EventLog events_;
  int clientsTaken_ = 0;
};

}  // namespace sim
