// The simulator's state-file reader on arbitrary text: it either refuses the
// file with a message naming it, or gives an adapter memory with a usable
// address; and a memory it writes reads back as the same memory.

#include "fuzz/check.h"
#include "sim/state_file.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

bool SameMemory(const sim::Memory& a, const sim::Memory& b) {
  return a.address == b.address && a.params == b.params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = "fuzz.state";
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  sim::Memory memory;
  try {
    memory = sim::parseState(in, name);
  } catch (const std::runtime_error& refusal) {
    FUZZ_REQUIRE(std::string(refusal.what()).find("state file " + name) == 0);
    return 0;
  }
  FUZZ_REQUIRE(memory.address >= 1 && memory.address <= 247);

  std::istringstream written(sim::stateText(memory));
  FUZZ_REQUIRE(SameMemory(sim::parseState(written, name), memory));
  return 0;
}
