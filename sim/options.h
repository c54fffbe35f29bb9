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

// The line goes away once, as a USB converter pulled out, and comes back.
struct UnplugOption {
  int request = 0;      // the Nth request received goes unanswered: the line goes with it
  double gapMs = 1000;  // until a new terminal comes up under the same link
};

// A TCP port to serve instead of a pseudo-terminal.
struct TcpOption {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: one the system picks
};

struct Options {
  std::string link;
  std::optional<TcpOption> tcp;
  std::optional<TcpOption> modbusTcp;  // a Modbus TCP gateway in front of the line
  std::string journal;
  double turnaroundMs = 3;
  std::vector<AdapterOption> adapters;  // the first from --address/--state, then --adapter ones
  std::vector<FaultRule> faults;
  bool echo = false;  // the line hands every request back before the answer
  std::optional<UnplugOption> unplug;
  bool help = false;
};

// Throws std::invalid_argument with the message for the user.
Options parseOptions(int argc, char** argv);

extern const char* const kUsage;

}  // namespace sim
