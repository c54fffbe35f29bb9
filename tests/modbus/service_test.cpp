// The loops of requests the windows run, stopped while they run: once the
// stop event is signalled nothing more goes on the line but the frame that
// was already on its way. The stop comes at a fixed moment of virtual time,
// so how busy the machine is decides nothing.

#include "modbus/service.h"

#include "modbus/device_float.h"
#include "modbus/params.h"
#include "modbus/session.h"
#include "tests/support/sim_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

TEST(StopRequest, EndsEveryLoopOfRequestsWithAtMostTheFrameOnItsWay) {
  const struct {
    const char* name;
    std::vector<std::string> simulator;
    std::function<void(Session&)> loop;
  } loops[] = {
      // Nobody answers before 247: the search polls address after address.
      {"address search", {"--address", "247"}, [](Session& s) { FindAdapterAddress(s, [] {}); }},
      {"read of all parameters",
       {},
       [](Session& s) {
         ReadAllParameters(
             s, [](const ParameterReading&) {}, 50);
       }},
      {"write of all parameters", {}, [](Session& s) { WriteAllParameters(s, [](int) {}); }},
  };
  for (const auto& c : loops) {
    SCOPED_TRACE(c.name);
    tl8test::SimSession sim(tl8test::SimulatorSetup(c.simulator));
    TComStopEvent stop;
    sim.session.Requests().SetStopEvent(&stop);
    sim.session.Exchange().DeviceAddress = 1;

    size_t framesBeforeStop = 0;
    sim.clock.At(std::chrono::milliseconds(500), [&] {
      stop.Signal();
      framesBeforeStop = sim.Received().size();
    });
    EXPECT_THROW(c.loop(sim.session), EStopRequested);
    sim.Settle(50);  // the last frame reaches the adapter

    EXPECT_GE(framesBeforeStop, 2u) << "the loop ran before the stop";
    EXPECT_LE(sim.Received().size(), framesBeforeStop + 1);
  }
}

// An answer does not name its register. A first try answered late must never
// give its value to the next parameter, at the fixed pace or at the line's
// own speed, whether the retry is answered (two answers to one request) or
// the next parameter's answer is lost. Every delay an adapter may take (up to
// 1 s) is waited out and the read gets through; one later still may fail the
// read ("Сбой!"), but never shows a value the adapter does not hold.
TEST(LateAnswer, IsNeverTakenForTheNextParameter) {
  const struct {
    const char* name;
    std::vector<std::string> faults;  // %1: the delay
  } lines[] = {
      {"the retry answered", {"late:%1,reg=265,first=1"}},
      {"the next parameter's first answer lost", {"late:%1,reg=261,nth=1", "silent,reg=263,nth=1"}},
  };
  const int delays[] = {100, 270, 480, 800, 1000, 1030, 1050, 1100, 1250, 1500};
  for (const auto& line : lines) {
    for (const int delay : delays) {
      for (const bool fast : {false, true}) {
        SCOPED_TRACE(std::string(line.name) + ", late " + std::to_string(delay) + " ms" +
                     (fast ? ", fast" : ", paced"));
        std::vector<std::string> options;
        for (std::string fault : line.faults) {
          if (const size_t at = fault.find("%1"); at != std::string::npos)
            fault.replace(at, 2, std::to_string(delay));
          options.insert(options.end(), {"--fault", fault});
        }
        tl8test::SimSession sim(tl8test::SimulatorSetup(options));
        sim.session.TalkTo(1);
        std::vector<ParameterReading> shown;
        ReadPlan plan;
        plan.fast = fast;
        const ReadOutcome outcome = ReadAdapter(
            sim.session, plan, {{}, [&](const ParameterReading& p) { shown.push_back(p); }});

        const tl8test::SimState stored = sim.State(1);
        for (const ParameterReading& p : shown) {
          if (!IsFloatParam(p.index)) continue;
          const auto& d = stored.param(p.index);
          EXPECT_EQ(p.shown, ParamShownText(p.index, DeviceFloatToDouble(d[0], d[1], d[2], d[3])))
              << "parameter " << p.index;
        }
        if (outcome.result == ReadResult::Read) {
          EXPECT_TRUE(outcome.checksumMatches);
          const auto& n = stored.param(kSerialNumberParam);
          EXPECT_EQ(outcome.reading.serialNumber, n[0] | n[1] << 8 | n[2] << 16 | n[3] << 24);
        } else {
          EXPECT_EQ(outcome.result, ReadResult::ParameterFailed);
        }
        // Within the longest turnaround the read gets through.
        if (delay <= 1000) {
          EXPECT_EQ(outcome.result, ReadResult::Read);
        }
      }
    }
  }
}

// A read at the line's own speed gives what a read at the fixed pace gives,
// in a fraction of the time, on every kind of line; a slow adapter is read
// all the same (the fixed waits stay the upper bound), and a late answer is
// still never taken for the next one.
TEST(FastRead, ReadsWhatTheFixedPaceReadsInAFractionOfTheTime) {
  // A failed read waits out its late answer either way; time is saved only
  // where the answers come.
  const struct {
    std::vector<std::string> line;
    bool faster;
  } lines[] = {
      {{}, true},
      {{"--echo"}, true},
      {{"--turnaround", "15"}, true},
      {{"--fault", "late:200,reg=261,nth=1", "--fault", "silent,reg=263,nth=1"}, false},
      {{"--fault", "exception:2,reg=265,nth=1"}, false},
  };
  for (const auto& [line, faster] : lines) {
    std::string shown;
    for (const std::string& word : line) shown += word + " ";
    SCOPED_TRACE(shown);
    const auto read = [&line = line](bool fast) {
      tl8test::SimSession sim(tl8test::SimulatorSetup(line));
      sim.session.TalkTo(1);
      std::vector<std::string> frames;
      ReadPlan plan;
      plan.fast = fast;
      const ReadOutcome outcome = ReadAdapter(sim.session, plan);
      for (const auto& frame : sim.Received()) frames.push_back(frame.note);
      return std::tuple{outcome, sim.clock.Now(), frames};
    };
    const auto [paced, pacedTime, pacedFrames] = read(false);
    const auto [fast, fastTime, fastFrames] = read(true);
    EXPECT_EQ(fast.result, ReadResult::Read);
    EXPECT_EQ(fast.result, paced.result);
    EXPECT_TRUE(fast.checksumMatches);
    EXPECT_EQ(fast.reading.shown, paced.reading.shown);
    EXPECT_EQ(fast.reading.serialNumber, paced.reading.serialNumber);
    EXPECT_EQ(fast.reading.writeDate, paced.reading.writeDate);
    EXPECT_EQ(fastFrames, pacedFrames);  // the same requests, in the same order
    if (faster) {
      EXPECT_LT(fastTime * 3, pacedTime);
    }
  }
}

// Hands everything to a simulated line and keeps the shortest silence between
// the last byte the tool took from the line and its next frame.
class QuietBeforeEachFrame final : public TComLink {
 public:
  QuietBeforeEachFrame(tl8test::SimLink& line, const VirtualClock& clock)
      : line_(line), clock_(clock) {}

  int WriteBytes(const void* buffer, int count) override {
    if (heard_) shortest = std::min(shortest, clock_.Now() - lastByte_);
    return line_.WriteBytes(buffer, count);
  }
  int PendingInputCount() override { return line_.PendingInputCount(); }
  std::string ReadBytes(int count) override {
    std::string bytes = line_.ReadBytes(count);
    if (!bytes.empty()) {
      lastByte_ = clock_.Now();
      heard_ = true;
    }
    return bytes;
  }
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override {
    line_.WaitForEvent(events, stopEvent, timeoutMs);
  }
  bool Connected() const override { return line_.Connected(); }

  ExchangeClock::Duration shortest = ExchangeClock::Duration::max();

 private:
  tl8test::SimLink& line_;
  const VirtualClock& clock_;
  ExchangeClock::Duration lastByte_{};
  bool heard_ = false;
};

// A read at the line's own speed takes each answer as soon as it is whole, so
// the next frame would follow it at once: the Modbus inter-frame gap (3.5
// characters) is left after every answer, the probe's included, before the
// next frame goes out.
TEST(FastRead, LeavesTheInterFrameGapAfterEveryAnswer) {
  const auto gap = std::chrono::nanoseconds(10'000'000'000LL / 9600) * 7 / 2;
  for (const bool echo : {false, true}) {
    SCOPED_TRACE(echo ? "a line that echoes" : "a quiet line");
    VirtualClock clock;
    tl8test::SimLinkSetup setup;
    setup.echo = echo;
    tl8test::SimLink line(clock, setup);
    QuietBeforeEachFrame watch(line, clock);
    Session session(watch, clock);
    session.TalkTo(1);
    ReadPlan plan;
    plan.fast = true;
    ASSERT_EQ(ReadAdapter(session, plan).result, ReadResult::Read);
    EXPECT_GE(watch.shortest, gap);
  }
}

}  // namespace
