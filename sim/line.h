#pragma once
// The simulator's end of the line: the master side of a new pseudo-terminal.
// A pty delivers bytes at once, so this class makes the timing of a 9600 bit/s
// line itself: a request ends on 3.5 characters of silence, answers go out a
// character time apart. Every wait also watches for SIGINT, SIGTERM and SIGHUP,
// which end the simulator.

#include "output.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace sim {

using Clock = std::chrono::steady_clock;

class Line : public Output {
 public:
  // Throws std::runtime_error when no pseudo-terminal can be made.
  Line();
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // The path the other side opens, such as /dev/pts/5.
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

  // The terminal closes, as a converter pulled out: whoever has it open
  // sees the line hang up for good. Only pause works until plugIn.
  void unplug();
  // A new terminal, under a new path().
  void plugIn();

 private:
  void openTerminal();
  enum class Wake { Data, Timeout, Stop };
  Wake waitUntil(Clock::time_point deadline, bool forData);
  void readAvailable(Bytes& into);

  int master_ = -1;
  int slave_ = -1;  // kept open so a user closing the line does not hang it up
  int signals_ = -1;
  std::string path_;
};

}  // namespace sim
