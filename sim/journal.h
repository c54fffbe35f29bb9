#pragma once
// The journal: one line per frame received or sent and per event, with the
// milliseconds since start, flushed at once so a test can read it any time.
//
//   12.345 RX 01 03 01 01 00 02 94 37 # adapter 1
//   20.012 TX 01 03 04 80 00 44 7C E1 12 # adapter 1
//   31.400 RX 02 03 01 01 00 02 94 04 # ignored: other address
//   40.001 -- adapter 1 now answers at 5

#include "crc.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace sim {

class Journal {
 public:
  // The milliseconds to stamp a line with.
  using TimeSource = std::function<double()>;

  // An empty path keeps no journal. Throws std::runtime_error when the file
  // cannot be opened. Lines are stamped with the time since construction.
  explicit Journal(const std::string& path);
  // Keeps the lines in memory, stamped by `now` (a simulated line's time).
  explicit Journal(TimeSource now);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  void received(const Bytes& bytes, const std::string& note) { write("RX", bytes, note); }
  void sent(const Bytes& bytes, const std::string& note) { write("TX", bytes, note); }
  void event(const std::string& note) { write("--", {}, note); }

  // The lines kept in memory, without their line ends.
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  void write(const char* direction, const Bytes& bytes, const std::string& note);

  std::FILE* file_ = nullptr;
  bool inMemory_ = false;
  std::vector<std::string> lines_;
  TimeSource now_;
};

}  // namespace sim
