#pragma once
// What the adapter simulator leaves behind: its state file (the adapter's
// non-volatile memory) and its journal (every frame on the line), read back
// for the tests. The simulated link in the test's process shows the same.

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace tl8test {

// The adapter memory as the simulator's state file shows it.
struct SimState {
  int address = 0;
  std::array<std::array<std::uint8_t, 4>, 16> params{};  // [0] = parameter 1, line order

  const std::array<std::uint8_t, 4>& param(int index) const { return params.at(index - 1); }
  // Parameter 16 as it must be for parameters 1..15: FF 00 and the CRC-16/MODBUS
  // (the tests' own) of three zero bytes, parameters 1..15 and FF 00.
  std::array<std::uint8_t, 4> expectedChecksum() const;
  bool checksumMatches() const { return param(16) == expectedChecksum(); }
};

// Throws std::runtime_error when the file cannot be read or parsed.
SimState loadSimState(const std::string& path);

// One journal line: "12.345 RX 01 03 ... # note" or "12.345 -- event text".
struct SimJournalEntry {
  double ms = 0;
  std::string direction;  // "RX" (received by the simulator), "TX" (sent), "--" (event)
  std::vector<std::uint8_t> bytes;
  std::string note;  // the text after "#", or the event's text
};

std::vector<SimJournalEntry> loadSimJournal(const std::string& path);
// The same from a stream; `where` names it in errors.
std::vector<SimJournalEntry> readSimJournal(std::istream& in, const std::string& where);

}  // namespace tl8test
