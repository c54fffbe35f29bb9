#pragma once
// The adapters on a line: each request that comes off the line goes to the
// addressed adapter (or, for a broadcast, to every adapter), and its answer,
// spoiled by the fault rules that hit it, goes out after the turnaround.
// After a pass-through command the line only echoes bytes. Whoever carries
// the line (the pseudo-terminal loop, a simulated link in a test) hands the
// requests in and takes the answers from the output.

#include "adapter.h"
#include "faults.h"
#include "journal.h"
#include "output.h"

#include <string>
#include <vector>

namespace sim {

class Simulator {
 public:
  Simulator(Output& output, Journal& journal, std::vector<Adapter> adapters,
            std::vector<FaultRule> faults, double turnaroundMs);

  // Journals which adapters listen on the line named `where`.
  void announce(const std::string& where);

  // Serves what came off the line: a whole request (the bytes up to a
  // 3.5-character silence) or, in pass-through, whatever bytes came. False
  // when the output was told to stop meanwhile.
  bool serve(const Bytes& received);

  // The line echoes: a converter whose receiver hears its own transmitter
  // hands every request back, as it goes out, before any answer.
  void setLineEcho(bool on) { lineEcho_ = on; }

  // From now on every byte is echoed: the line hands bytes in as they come.
  bool passThrough() const { return passThrough_; }
  const std::vector<Adapter>& adapters() const { return adapters_; }

 private:
  bool serveFrame(const Bytes& frame);
  void serveBroadcast(const Bytes& frame);
  bool answer(Adapter& adapter, const Bytes& frame);
  void finish(Adapter& adapter);
  bool echo(const Bytes& bytes);
  bool echoOnLine(const Bytes& bytes);
  static const char* whyIgnored(const Bytes& frame);

  Output& output_;
  Journal& journal_;
  std::vector<Adapter> adapters_;
  std::vector<FaultRule> faults_;
  double turnaroundMs_;
  bool passThrough_ = false;
  bool lineEcho_ = false;
};

}  // namespace sim
