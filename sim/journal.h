#pragma once
// The journal: one line per frame received or sent and per event, with the
// milliseconds since start, flushed at once so a test can read it any time.
//
//   12.345 RX 01 03 01 01 00 02 94 37 # adapter 1
//   20.012 TX 01 03 04 80 00 44 7C 3A 25 # adapter 1
//   31.400 RX 02 03 01 01 00 02 94 04 # ignored: other address
//   40.001 -- adapter 1 now answers at 5

#include "line.h"

#include <cstdio>
#include <string>

namespace sim {

class Journal {
 public:
  // An empty path keeps no journal. Throws std::runtime_error when the file
  // cannot be opened.
  explicit Journal(const std::string& path);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  void received(const Bytes& bytes, const std::string& note) { write("RX", bytes, note); }
  void sent(const Bytes& bytes, const std::string& note) { write("TX", bytes, note); }
  void event(const std::string& note) { write("--", {}, note); }

 private:
  void write(const char* direction, const Bytes& bytes, const std::string& note);

  std::FILE* file_ = nullptr;
  Clock::time_point start_ = Clock::now();
};

}  // namespace sim
