#pragma once
// The line with its adapters: takes each request off the line, lets the
// addressed adapter (or, for a broadcast, every adapter) serve it, and sends
// the answer, spoiled by the fault rules that hit it. After a pass-through
// command the line only echoes bytes until the simulator ends.

#include "adapter.h"
#include "faults.h"
#include "journal.h"
#include "line.h"

#include <vector>

namespace sim {

class Simulator {
 public:
  Simulator(Line& line, Journal& journal, std::vector<Adapter> adapters,
            std::vector<FaultRule> faults, double turnaroundMs);

  // Runs until a stop signal.
  void run();

 private:
  bool serveFrame(const Bytes& frame);
  void serveBroadcast(const Bytes& frame);
  bool answer(Adapter& adapter, const Bytes& frame);
  void finish(Adapter& adapter);
  bool echo(const Bytes& bytes);
  static const char* whyIgnored(const Bytes& frame);

  Line& line_;
  Journal& journal_;
  std::vector<Adapter> adapters_;
  std::vector<FaultRule> faults_;
  double turnaroundMs_;
  bool passThrough_ = false;
};

}  // namespace sim
