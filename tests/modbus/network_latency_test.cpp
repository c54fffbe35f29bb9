// A network path between the tool and the adapters' line (a serial device
// server) delays every byte each way. The line's latency allowance stretches
// every wait for an answer: given by hand (or guessed from the connection's
// round trip), or learnt from the answers themselves, so that behind a
// forwarder that answers the connection at once every service function
// still works however far the adapter is. In virtual time: how busy the
// machine is decides nothing.

#include "modbus/device_float.h"
#include "modbus/params.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "net/netline.h"
#include "tests/support/sim_session.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kEachWayMs = 40;
constexpr int kAdapter = 3;

tl8test::SimLinkSetup BehindNetwork(int allowanceMs) {
  tl8test::SimLinkSetup setup = tl8test::SimulatorSetup({"--address", std::to_string(kAdapter)});
  setup.networkDelayMs = kEachWayMs;
  setup.latencyAllowanceMs = allowanceMs;
  return setup;
}

bool ReadsWhole(Session& s, const ReadPlan& plan) {
  const ReadOutcome outcome = ReadAdapter(s, plan);
  return outcome.result == ReadResult::Read && outcome.checksumMatches;
}

// The calibration window's image with one value changed, for the adapter at
// `address`: written, the adapter must keep it.
bool WritesImageAt(tl8test::SimSession& sim, int address) {
  Session& s = sim.session;
  ImageTexts texts;
  const char* values[] = {"1010", "630", "16",  "4",   "85", "-40",
                          "16",   "4",   "200", "1.5", "16", "4"};
  for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = values[i - 1];
  texts.FloatFields[1] = "1234.5";
  texts.SerialNumber = "101001";
  texts.Address = QString::number(address);
  texts.Moment = QDateTime(QDate(2026, 12, 10), QTime(12, 0));
  if (!BuildParamImage(texts, s.Params(), s.Exchange())) return false;
  if (WriteImage(s, address).result != WriteResult::Written) return false;
  const auto p1 = sim.State(address).param(1);
  return DeviceFloatToDouble(p1[0], p1[1], p1[2], p1[3]) == 1234.5;
}

bool WritesImage(tl8test::SimSession& sim) { return WritesImageAt(sim, kAdapter); }

struct ServiceFunction {
  const char* name;
  std::function<bool(tl8test::SimSession&)> works;
};

const ServiceFunction kServiceFunctions[] = {
    {"address search",
     [](tl8test::SimSession& sim) {
       return FindAdapterAddress(
                  sim.session, [] {}, 1, 5) == kAdapter;
     }},
    {"read as the bounds window",
     [](tl8test::SimSession& sim) {
       return ReadsWhole(sim.session, {ReadPlan::FirstRequest::ParameterOneThenProbe,
                                       RetryPause::BeforeRetry, 100});
     }},
    {"read as the calibration window and tl8ctl",
     [](tl8test::SimSession& sim) {
       return ReadsWhole(sim.session, {ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50});
     }},
    {"write of bounds or calibration", WritesImage},
    {"address change",
     [](tl8test::SimSession& sim) {
       BroadcastNewAddress(sim.session, 9);
       return FindAdapterAddress(
                  sim.session, [] {}, 9, 9) == 9;
     }},
    {"pass-through",
     [](tl8test::SimSession& sim) {
       return SwitchAdapterToPassThrough(sim.session) && sim.link().passThrough();
     }},
};

TEST(NetworkLatency, EveryServiceFunctionWorksWithTheAllowanceFor40MsEachWay) {
  const int allowanceMs = AllowanceForRoundTrip(static_cast<int>(2 * kEachWayMs));
  for (const ServiceFunction& function : kServiceFunctions) {
    SCOPED_TRACE(function.name);
    tl8test::SimSession sim(BehindNetwork(allowanceMs));
    sim.session.TalkTo(kAdapter);
    EXPECT_TRUE(function.works(sim));
  }
}

// The fixed waits alone are too short for that path: without the allowance
// the answers come too late for the search and the reads.
TEST(NetworkLatency, WithoutAnAllowanceTheAnswersComeTooLate) {
  for (const ServiceFunction& function : {kServiceFunctions[0], kServiceFunctions[1]}) {
    SCOPED_TRACE(function.name);
    tl8test::SimSession sim(BehindNetwork(0));
    sim.session.TalkTo(kAdapter);
    EXPECT_FALSE(function.works(sim));
  }
}

// Behind a forwarder near the tool (a tunnel, a port forward) the connection
// is answered at once, so its round trip says nothing of the path: the line
// learns the allowance from the answers, the late ones first. Each service
// function as the front ends run it (the windows read before they write, the
// address window searches before it moves the adapter).
TEST(LearntLatency, EveryServiceFunctionWorksBehindAForwarder) {
  constexpr int kFar = 17;
  const auto search = [](Session& s) { return FindAdapterAddress(s, [] {}) == kFar; };
  const auto read = [](Session& s, bool fast) {
    ReadPlan plan{ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50};
    plan.fast = fast;
    return ReadsWhole(s, plan);
  };
  const struct {
    const char* name;
    std::function<bool(tl8test::SimSession&)> works;
  } functions[] = {
      {"address search", [&](tl8test::SimSession& sim) { return search(sim.session); }},
      // The windows' work menu appears only after the address search: the
      // bounds window, whose first read takes a probe's answer for no
      // parameter's, reads on a line that has learnt its path.
      {"search, then read as the bounds window",
       [&](tl8test::SimSession& sim) {
         return search(sim.session) &&
                ReadsWhole(sim.session, {ReadPlan::FirstRequest::ParameterOneThenProbe,
                                         RetryPause::BeforeRetry, 100});
       }},
      {"read as the calibration window",
       [&](tl8test::SimSession& sim) { return read(sim.session, false); }},
      {"read at the line's own speed",
       [&](tl8test::SimSession& sim) { return read(sim.session, true); }},
      {"read, then the write of an image",
       [&](tl8test::SimSession& sim) {
         return read(sim.session, false) && WritesImageAt(sim, kFar);
       }},
      {"search, then the address change",
       [&](tl8test::SimSession& sim) {
         if (!search(sim.session)) return false;
         BroadcastNewAddress(sim.session, 9);
         return FindAdapterAddress(
                    sim.session, [] {}, 9, 9) == 9;
       }},
      {"read, then pass-through",
       [&](tl8test::SimSession& sim) {
         return read(sim.session, true) && SwitchAdapterToPassThrough(sim.session) &&
                sim.link().passThrough();
       }},
  };
  for (const double eachWayMs : {40.0, 150.0, 500.0}) {
    for (const auto& function : functions) {
      SCOPED_TRACE(std::string(function.name) + ", " + std::to_string(int(eachWayMs)) +
                   " ms each way");
      tl8test::SimLinkSetup setup = tl8test::SimulatorSetup({"--address", std::to_string(kFar)});
      setup.networkDelayMs = eachWayMs;
      setup.learnsFromRoundTripMs = 0;  // the forwarder took the connection at once
      tl8test::SimSession sim(setup);
      sim.session.TalkTo(kFar);
      EXPECT_TRUE(function.works(sim));
      // What it learnt covers the round trip, and not many times over.
      const int allowance = sim.link().LatencyAllowanceMs();
      EXPECT_GE(allowance, 2 * eachWayMs);
      EXPECT_LE(allowance, 4 * 2 * eachWayMs + 100);
    }
  }
}

}  // namespace
