// What a network path costs every service function, with the latency
// allowance the line learns from its answers: each function on a fresh
// connection behind a forwarder that takes the connection at once (so the
// line starts from nothing and learns from the first, late answer), 40, 150
// and 500 ms each way, against the same function on a direct line. On the
// simulated adapter in virtual time: the figures are the protocol's waits
// and the line's bytes, whatever the machine is doing. Prints; asserts nothing.

#include "modbus/service.h"
#include "modbus/session.h"
#include "tests/support/sim_session.h"

#include <QDate>
#include <QDateTime>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kAdapter = 17;

bool Search(Session& s) {
  return FindAdapterAddress(s, [] {}) == kAdapter;
}

bool Read(Session& s, bool fast) {
  ReadPlan plan{ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50};
  plan.fast = fast;
  const ReadOutcome outcome = ReadAdapter(s, plan);
  return outcome.result == ReadResult::Read && outcome.checksumMatches;
}

// The image the read left, written back with a fresh stamp.
bool Write(Session& s) {
  ImageTexts texts;
  const char* values[] = {"1010", "630", "16",  "4",   "85", "-40",
                          "16",   "4",   "200", "1.5", "16", "4"};
  for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = values[i - 1];
  texts.SerialNumber = "101001";
  texts.Address = QString::number(kAdapter);
  texts.Moment = QDateTime(QDate(2026, 12, 11), QTime(12, 0));
  return BuildParamImage(texts, s.Params(), s.Exchange()) &&
         WriteImage(s, kAdapter).result == WriteResult::Written;
}

struct Function {
  const char* name;
  std::function<bool(Session&)> run;  // before: what the front end runs first
  std::function<bool(Session&)> before;
};

double SecondsOf(const Function& f, double eachWayMs, bool& worked) {
  tl8test::SimLinkSetup setup = tl8test::SimulatorSetup({"--address", std::to_string(kAdapter)});
  setup.networkDelayMs = eachWayMs;
  if (eachWayMs > 0) setup.learnsFromRoundTripMs = 0;
  tl8test::SimSession sim(setup);
  sim.session.TalkTo(kAdapter);
  worked = !f.before || f.before(sim.session);
  const auto start = sim.clock.Now();
  worked = worked && f.run(sim.session);
  return std::chrono::duration<double>(sim.clock.Now() - start).count();
}

}  // namespace

int main() {
  const auto read = [](Session& s) { return Read(s, false); };
  const auto fast = [](Session& s) { return Read(s, true); };
  const std::vector<Function> functions = {
      {"address search (1..17)", Search, {}},
      {"read (the windows, tl8ctl read)", read, {}},
      {"read --fast", fast, {}},
      {"write of an image (bounds or calibration), after a read", Write, read},
      {"pass-through, after a read", [](Session& s) { return SwitchAdapterToPassThrough(s); },
       read},
  };
  const double paths[] = {0, 40, 150, 500};
  std::printf("| function | direct line | 40 ms each way | 150 ms each way | 500 ms each way |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const Function& f : functions) {
    std::printf("| %s |", f.name);
    for (const double path : paths) {
      bool worked = false;
      const double seconds = SecondsOf(f, path, worked);
      std::printf(" %.2f s%s |", seconds, worked ? "" : " FAILED");
    }
    std::printf("\n");
  }
  return 0;
}
