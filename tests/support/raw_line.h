#pragma once
// The test's end of the simulator's line: its pty opened raw, frames written
// whole, and answers collected by the length the test expects, however a
// busy machine splits them, within a generous limit, so no test can hang on
// a silent simulator.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tl8test {

using Bytes = std::vector<std::uint8_t>;

class RawLine {
 public:
  // How long a receive waits at most for the bytes it expects.
  static constexpr int kLimitMs = 30000;

  explicit RawLine(const std::string& path);
  ~RawLine();
  RawLine(const RawLine&) = delete;
  RawLine& operator=(const RawLine&) = delete;

  void send(const Bytes& bytes);
  // The next `count` bytes; fewer only when they did not all come within limitMs.
  Bytes receive(std::size_t count, int limitMs = kLimitMs);
  // The bytes that have arrived by now.
  Bytes pending();

 private:
  int fd_ = -1;
};

}  // namespace tl8test
