#pragma once
// The state file: the adapter's memory as text a person can read and edit.
//
//   address 1
//   p1   80 00 44 7C   # float 1010: channel 1, value at 20 mA
//   ...
//   p16  FF 00 5A 3C   # checksum: matches parameters 1..15
//
// Only the "address" line and the sixteen "pN" lines are read back; "#"
// starts a comment, blank lines are skipped.

#include "memory.h"

#include <istream>
#include <string>

namespace sim {

// Throws std::runtime_error naming the file and line of the first problem.
Memory loadState(const std::string& path);
// The same from the file's text; `path` only names it in the messages.
Memory parseState(std::istream& in, const std::string& path);

// The file's text.
std::string stateText(const Memory& memory);

// Written to a temporary file beside it and renamed over it, so a reader never
// sees half a file. Throws std::runtime_error when it cannot be written.
void saveState(const std::string& path, const Memory& memory);

}  // namespace sim
