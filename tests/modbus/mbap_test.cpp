// The adapters behind a Modbus TCP to RTU gateway: the requests go out in
// MBAP headers, and only the ADU of the request's transaction, from its
// unit, of an answer's length is its answer. In virtual time: a scripted
// gateway for the faults, the simulator's gateway (sim/gateway.h) for the
// service functions.

#include "modbus/mbap.h"

#include "modbus/recorded_write.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "net/netline.h"
#include "tests/modbus/bytes_text.h"
#include "tests/modbus/scripted_link.h"
#include "tests/support/sim_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kUnit = 5;

std::string Word(size_t value) {
  return {static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)};
}

// A gateway's sound answer to a read ADU (transaction, protocol, length,
// unit, 03, register, count): the registers, all zero.
std::string ReadAnswerAdu(const std::string& request) {
  const size_t count = static_cast<uint8_t>(request[10]) << 8 | static_cast<uint8_t>(request[11]);
  const std::string pdu =
      std::string{request[7], static_cast<char>(2 * count)} + std::string(2 * count, '\0');
  return request.substr(0, 2) + Word(0) + Word(pdu.size() + 1) + request[6] + pdu;
}

struct Fault {
  const char* name;
  std::function<std::string(std::string)> spoil;  // the sound answer to what comes instead
};

const Fault kFaults[] = {
    {"another transaction id",
     [](std::string adu) {
       adu[1] = static_cast<char>(adu[1] + 1);
       return adu;
     }},
    {"a protocol id other than 0",
     [](std::string adu) {
       adu[3] = 1;
       return adu;
     }},
    {"a length field one too long, the rest never comes",
     [](std::string adu) {
       adu[5] = static_cast<char>(adu[5] + 1);
       return adu;
     }},
    {"a length field one too short",
     [](std::string adu) {
       adu[5] = static_cast<char>(adu[5] - 1);
       return adu;
     }},
    {"a register more than asked for, the lengths agreeing",
     [](std::string adu) {
       adu[5] = static_cast<char>(adu[5] + 2);
       adu[8] = static_cast<char>(adu[8] + 2);
       return adu + std::string(2, '\0');
     }},
    {"another unit",
     [](std::string adu) {
       adu[6] = kUnit + 1;
       return adu;
     }},
    {"a truncated header", [](std::string adu) { return adu.substr(0, 5); }},
    {"the ADU cut short", [](std::string adu) { return adu.substr(0, adu.size() - 2); }},
};

struct ScriptedGateway {
  explicit ScriptedGateway(std::function<std::string(std::string)> spoil = {}) {
    link.SetFraming(TLineFraming::Mbap);
    link.SetResponder([spoil](const std::string& adu) -> std::vector<Burst> {
      const std::string answer = ReadAnswerAdu(adu);
      return {{20, spoil ? spoil(answer) : answer}};
    });
    session.TalkTo(kUnit);
  }
  VirtualClock clock;
  ScriptedLink link{clock};
  Session session{link, clock};
};

TEST(MbapFaults, EachIsAFailedRequestNeverAValue) {
  {
    SCOPED_TRACE("the sound answer");
    ScriptedGateway gateway;
    EXPECT_EQ(FindAdapterAddress(
                  gateway.session, [] {}, kUnit, kUnit),
              kUnit);
  }
  for (const Fault& fault : kFaults) {
    SCOPED_TRACE(fault.name);
    ScriptedGateway gateway(fault.spoil);
    EXPECT_EQ(FindAdapterAddress(
                  gateway.session, [] {}, kUnit, kUnit),
              0);
    const ReadOutcome read =
        ReadAdapter(gateway.session, {ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50});
    EXPECT_EQ(read.result, ReadResult::NoAnswer);
    // Whatever came is in the traffic log, never taken for the answer.
    bool shown = false;
    for (const TrafficEntry& e : gateway.session.Traffic().Since(0))
      if (e.direction == TrafficDirection::Received && !e.bytes.empty())
        shown = shown || e.meaning != traffic::WhatCame(e.bytes);
    EXPECT_TRUE(shown);
  }
}

// A stale answer of the last transaction, then the answer: the stale one is
// shown and passed over, the answer taken.
TEST(MbapFaults, AnAnswerOfAnEarlierTransactionIsPassedOver) {
  ScriptedGateway gateway;
  gateway.link.SetResponder([](const std::string& adu) -> std::vector<Burst> {
    std::string stale = ReadAnswerAdu(adu);
    stale[1] = static_cast<char>(stale[1] - 1);
    stale[9] = 0x7F;  // a value the answer does not hold
    return {{5, stale}, {15, ReadAnswerAdu(adu)}};
  });
  EXPECT_EQ(FindAdapterAddress(
                gateway.session, [] {}, kUnit, kUnit),
            kUnit);
  EXPECT_EQ(gateway.session.Exchange().ResponseText, WithCrc(Bytes("05 03 04 00 00 00 00")));
}

// The frames as they went over the connection: the MBAP header, each
// request its own transaction, the unit the adapter's address, no CRC.
TEST(MbapTraffic, ShowsTheFramesWithTheirHeaders) {
  ScriptedGateway gateway;
  for (int search = 0; search < 2; ++search)
    FindAdapterAddress(
        gateway.session, [] {}, kUnit, kUnit);
  ASSERT_EQ(gateway.link.Frames().size(), 2u);
  EXPECT_EQ(Hex(gateway.link.Frames()[0]), "00 01 00 00 00 06 05 03 01 01 00 02");
  EXPECT_EQ(Hex(gateway.link.Frames()[1]), "00 02 00 00 00 06 05 03 01 01 00 02");
  const std::vector<TrafficEntry> shown = gateway.session.Traffic().Since(0);
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0].bytes, gateway.link.Frames()[0]);
  EXPECT_EQ(Hex(shown[1].bytes), "00 01 00 00 00 07 05 03 04 00 00 00 00");
}

tl8test::SimLinkSetup BehindGateway(sim::GatewaySetup gateway = {}) {
  tl8test::SimLinkSetup setup = tl8test::SimulatorSetup({"--address", std::to_string(kUnit)});
  setup.gateway = gateway;
  return setup;
}

// A silent address gets the gateway's 0x0B: silence, shown, which ends that
// address's wait as soon as it comes.
TEST(GatewayRefusal, IsSilenceForTheSearchAndEndsItsWait) {
  const auto searchTime = [](tl8test::SimLinkSetup setup) {
    tl8test::SimSession sim(std::move(setup));
    const auto start = sim.clock.Now();
    EXPECT_EQ(FindAdapterAddress(
                  sim.session, [] {}, 1, kUnit),
              kUnit);
    return std::make_pair(sim.clock.Now() - start, sim.session.Traffic().Since(0));
  };
  const auto [throughGateway, traffic] = searchTime(BehindGateway());
  const auto [onLine, unused] =
      searchTime(tl8test::SimulatorSetup({"--address", std::to_string(kUnit)}));
  EXPECT_LT(throughGateway, onLine);
  int refusals = 0;
  for (const TrafficEntry& e : traffic)
    if (e.meaning == traffic::GatewayFailure(0x0B)) ++refusals;
  EXPECT_EQ(refusals, kUnit - 1);
}

// A gateway that gives up on a unit later than the line waits: its refusals
// come after the next request has gone. They teach the line to wait that
// long, and the search still finds the adapter.
TEST(GatewayRefusal, ALateOneTeachesTheLineToWaitForTheGateway) {
  tl8test::SimLinkSetup setup = BehindGateway({.responseTimeoutMs = 300});
  setup.learnsFromRoundTripMs = 0;
  tl8test::SimSession sim(setup);
  EXPECT_EQ(FindAdapterAddress(
                sim.session, [] {}, 1, 9),
            kUnit);
  EXPECT_GE(sim.link().LatencyAllowanceMs(), 300 - 120);
}

// The simulator's faults on the line behind the gateway: a garbled answer
// comes back as the gateway's 0x0B, and the read's retry gets the value.
TEST(GatewayRefusal, AGarbledAnswerOnTheLineComesBackAsOne) {
  tl8test::SimLinkSetup setup =
      tl8test::SimulatorSetup({"--address", std::to_string(kUnit), "--fault", "badcrc,nth=2"});
  setup.gateway = sim::GatewaySetup{};
  tl8test::SimSession sim(setup);
  sim.session.TalkTo(kUnit);
  const ReadOutcome read =
      ReadAdapter(sim.session, {ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50});
  EXPECT_EQ(read.result, ReadResult::Read);
  EXPECT_TRUE(read.checksumMatches);
  int refusals = 0;
  for (const TrafficEntry& e : sim.session.Traffic().Since(0))
    if (e.meaning == traffic::GatewayFailure(0x0B)) ++refusals;
  EXPECT_EQ(refusals, 1);
}

struct GatewayFunction {
  const char* name;
  std::function<bool(tl8test::SimSession&)> works;
};

const GatewayFunction kGatewayFunctions[] = {
    {"address search",
     [](tl8test::SimSession& sim) {
       return FindAdapterAddress(
                  sim.session, [] {}, 1, 9) == kUnit;
     }},
    {"read",
     [](tl8test::SimSession& sim) {
       const ReadOutcome read =
           ReadAdapter(sim.session, {ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50});
       return read.result == ReadResult::Read && read.checksumMatches;
     }},
    {"read --fast",
     [](tl8test::SimSession& sim) {
       sim.session.Requests().SetFastReads(true);
       const ReadOutcome read =
           ReadAdapter(sim.session, {ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50});
       return read.result == ReadResult::Read && read.checksumMatches;
     }},
    {"write of all parameters",
     [](tl8test::SimSession& sim) {
       return ReadAdapter(sim.session, {ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50})
                      .result == ReadResult::Read &&
              WriteAllParameters(sim.session, [](int) {});
     }},
    {"address change, confirmed",
     [](tl8test::SimSession& sim) {
       return BroadcastNewAddressRecorded(sim.session, {}, 9, true).confirmed &&
              sim.State(9).address == 9;
     }},
    {"pass-through",
     [](tl8test::SimSession& sim) {
       return SwitchAdapterToPassThrough(sim.session) && sim.link().passThrough();
     }},
};

TEST(BehindGateway, EveryServiceFunctionWorks) {
  const struct {
    const char* name;
    double eachWayMs;
  } paths[] = {{"next door", 0}, {"40 ms each way, the allowance learnt", 40}};
  for (const auto& path : paths) {
    for (const GatewayFunction& function : kGatewayFunctions) {
      SCOPED_TRACE(std::string(path.name) + ": " + function.name);
      tl8test::SimLinkSetup setup = BehindGateway();
      setup.networkDelayMs = path.eachWayMs;
      if (path.eachWayMs > 0) setup.learnsFromRoundTripMs = 0;
      tl8test::SimSession sim(setup);
      // As the front ends do, a search first, from which the allowance is learnt.
      if (path.eachWayMs > 0) {
        EXPECT_EQ(FindAdapterAddress(
                      sim.session, [] {}, 1, 9),
                  kUnit);
      }
      sim.session.TalkTo(kUnit);
      EXPECT_TRUE(function.works(sim));
    }
  }
}

// A gateway's answer names its transaction, so a late one cannot be taken
// for it: the allowance ends with the answer, and only the fixed pace is
// kept. A line allowing 500 ms pays them only where an answer needs them.
TEST(BehindGateway, TheAllowanceEndsWithTheAnswer) {
  const auto readAndWriteTime = [](tl8test::SimLinkSetup setup) {
    setup.latencyAllowanceMs = 500;
    tl8test::SimSession sim(setup);
    sim.session.TalkTo(kUnit);
    const auto start = sim.clock.Now();
    EXPECT_EQ(ReadAdapter(sim.session, {ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50})
                  .result,
              ReadResult::Read);
    EXPECT_TRUE(WriteAllParameters(sim.session, [](int) {}));
    return std::chrono::duration<double>(sim.clock.Now() - start).count();
  };
  const double throughGateway = readAndWriteTime(BehindGateway());
  const double onLine =
      readAndWriteTime(tl8test::SimulatorSetup({"--address", std::to_string(kUnit)}));
  // 33 exchanges: the line waits 500 ms more for each.
  EXPECT_GT(onLine - throughGateway, 33 * 0.5 * 0.9) << onLine << " s against " << throughGateway;
}

// A gateway that drops broadcasts: the address stays, and the confirmation
// read says so.
TEST(BehindGateway, AnAddressChangeWhoseBroadcastTheGatewayDropsIsNotConfirmed) {
  tl8test::SimSession sim(BehindGateway({.passesBroadcasts = false}));
  sim.session.TalkTo(kUnit);
  EXPECT_FALSE(BroadcastNewAddressRecorded(sim.session, {}, 9, true).confirmed);
  EXPECT_EQ(sim.State(kUnit).address, kUnit);
}

}  // namespace
