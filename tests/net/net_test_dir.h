#pragma once
// What the tests through device servers share: the adapter the simulator
// serves behind each server, and the folder of the scripts they start.

#include <cstdlib>
#include <string>

namespace tl8test {

// The address of the adapter tl8sim serves behind every device server here.
inline constexpr int kServedAdapter = 3;

// The folder of the tests' own scripts (CTest sets TL8_NET_TEST_DIR).
inline std::string NetTestDir() {
  const char* dir = std::getenv("TL8_NET_TEST_DIR");
  return dir ? dir : "tests/net";
}

}  // namespace tl8test
