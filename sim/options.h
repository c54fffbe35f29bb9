#pragma once
// The command line of tl8sim.

#include "faults.h"

#include <optional>
#include <string>
#include <vector>

namespace sim {

struct AdapterOption {
  std::optional<int> address;  // absent: the one in the state file, or 1
  std::string statePath;       // empty: memory only, starting from the factory set
};

struct Options {
  std::string link;
  std::string journal;
  double turnaroundMs = 3;
  std::vector<AdapterOption> adapters;  // the first from --address/--state, then --adapter ones
  std::vector<FaultRule> faults;
  bool echo = false;  // the line hands every request back before the answer
  bool help = false;
};

// Throws std::invalid_argument with the message for the user.
Options parseOptions(int argc, char** argv);

extern const char* const kUsage;

}  // namespace sim
