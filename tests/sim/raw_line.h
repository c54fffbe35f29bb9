#pragma once
// The test's end of the simulator's line: its pty opened raw, frames written
// whole and answers collected with a timeout, so no test can hang on a
// silent simulator.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tl8test {

using Bytes = std::vector<std::uint8_t>;

class RawLine {
 public:
  explicit RawLine(const std::string& path);
  ~RawLine();
  RawLine(const RawLine&) = delete;
  RawLine& operator=(const RawLine&) = delete;

  void send(const Bytes& bytes);
  // The bytes that arrive within firstMs and after that until 50 ms pass
  // without one, or until upTo bytes are in.
  Bytes receive(int firstMs = 300, std::size_t upTo = SIZE_MAX);
  Bytes exchange(const Bytes& request, int firstMs = 300, std::size_t upTo = SIZE_MAX) {
    send(request);
    return receive(firstMs, upTo);
  }

 private:
  int fd_ = -1;
};

}  // namespace tl8test
