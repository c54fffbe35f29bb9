#pragma once
// Where the simulator's answers go: the pseudo-terminal, or a simulated link
// inside a test's own process.

#include "crc.h"

namespace sim {

class Output {
 public:
  virtual ~Output() = default;
  // Waits the given time; false when the simulator is to stop.
  virtual bool pause(double ms) = 0;
  // Sends the bytes a character time apart; false when the simulator is to stop.
  virtual bool send(const Bytes& bytes) = 0;
};

}  // namespace sim
