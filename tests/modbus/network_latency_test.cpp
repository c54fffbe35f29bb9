// A network path between the tool and the adapters' line (a serial device
// server) delays every byte each way. The line's latency allowance stretches
// every wait for an answer, so that with 40 ms each way every service
// function still works with the allowance the network line derives from that
// round trip. In virtual time: how busy the machine is decides nothing.

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

// The calibration window's image with one value changed: written, the
// adapter must keep it.
bool WritesImage(tl8test::SimSession& sim) {
  Session& s = sim.session;
  ImageTexts texts;
  const char* values[] = {"1010", "630", "16",  "4",   "85", "-40",
                          "16",   "4",   "200", "1.5", "16", "4"};
  for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = values[i - 1];
  texts.FloatFields[1] = "1234.5";
  texts.SerialNumber = "101001";
  texts.Address = QString::number(kAdapter);
  texts.Moment = QDateTime(QDate(2026, 12, 10), QTime(12, 0));
  if (!BuildParamImage(texts, s.Params(), s.Exchange())) return false;
  if (WriteImage(s, kAdapter).result != WriteResult::Written) return false;
  const auto p1 = sim.State(kAdapter).param(1);
  return DeviceFloatToDouble(p1[0], p1[1], p1[2], p1[3]) == 1234.5;
}

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

}  // namespace
