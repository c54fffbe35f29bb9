// The requests over the in-process simulated adapter: the same answers and
// journal as tl8sim on a pseudo-terminal, the virtual time a line at
// 9600 bit/s gives, the simulator's faults, the stop event and a lost line.

#include "tests/support/sim_link.h"

#include "modbus/requests.h"
#include "tests/modbus/bytes_text.h"
#ifndef _WIN32
#include "tests/support/raw_line.h"
#include "tests/support/sim_process.h"
#endif
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <functional>

namespace {

using tl8test::FactoryAdapter;
using tl8test::SimJournalEntry;
using tl8test::SimLink;
using tl8test::SimLinkSetup;
using Ms = std::chrono::duration<double, std::milli>;

// One character at 9600 bit/s, and the silence that ends a request.
constexpr double kCharMs = 10000.0 / 9600;
constexpr double kGapMs = 3.5 * kCharMs;
constexpr double kTurnaroundMs = 3;  // the simulator's default

SimLinkSetup WithAdapters(std::vector<sim::Memory> adapters) {
  SimLinkSetup setup;
  setup.adapters = std::move(adapters);
  return setup;
}

SimLinkSetup WithFault(const std::string& rule) {
  SimLinkSetup setup;
  setup.faults = {rule};
  return setup;
}

double NowMs(const ExchangeClock& clock) { return Ms(clock.Now()).count(); }

// The requests and their answers as the journal shows them, without the times.
std::vector<std::string> Traffic(const std::vector<SimJournalEntry>& journal) {
  std::vector<std::string> lines;
  for (const SimJournalEntry& entry : journal) {
    if (entry.direction == "--") continue;
    const std::string bytes(entry.bytes.begin(), entry.bytes.end());
    lines.push_back(entry.direction + " " + Hex(bytes) + " # " + entry.note);
  }
  return lines;
}

// The virtual Delay ends where the real one does, on the millisecond tick,
// and handles what is pending on the way, as windows need it to repaint.
TEST(VirtualClock, DelayHandlesPendingEventsAndEndsOnTheTick) {
  int argc = 1;
  char name[] = "modbus_sim_link_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  VirtualClock clock;
  clock.AdvanceTo(std::chrono::microseconds(2500));
  int handled = 0;
  QTimer::singleShot(0, [&handled] { ++handled; });
  clock.Delay(0);
  EXPECT_EQ(handled, 1);
  EXPECT_DOUBLE_EQ(NowMs(clock), 3);
  clock.Delay(20);
  EXPECT_DOUBLE_EQ(NowMs(clock), 24);
}

class SimLinkTest : public ::testing::Test {
 public:
  explicit SimLinkTest(SimLinkSetup setup = {}) : link(clock, std::move(setup)) {
    exchange.DeviceAddress = 1;
  }

  VirtualClock clock;
  SimLink link;
  ExchangeState exchange;
  ParamData params;
  ModbusRequests requests{link, exchange, params, clock};
};

#ifndef _WIN32  // tl8sim and pseudo-terminals
// The simulated link and tl8sim on a pseudo-terminal are the same adapter:
// the frames the requests sent over the link, sent to tl8sim, come back with
// the same answers, and both journal the same traffic. (Each answer is taken
// by its length, so a busy machine's pauses decide nothing; the requests over
// a real port run in tests/cli/tl8ctl_test.cpp and tests/serial/replug_test.cpp.)
TEST_F(SimLinkTest, SameAnswersAndJournalAsTheSimulatorOnAPty) {
  requests.ReadParameter(1);  // the probe
  for (int index : {1, 13}) {
    exchange.ParamIndex = index;
    requests.ReadParameter(0);
    EXPECT_EQ(exchange.ResponseStatus, kStatusAccepted) << index;
  }
  // 1010, parameter 1's factory value.
  const std::vector<std::string> traffic = Traffic(link.journal());
  ASSERT_EQ(traffic.size(), 6u);
  EXPECT_EQ(traffic[0], "RX 01 03 00 00 00 07 04 08 # ");
  EXPECT_EQ(traffic[2], "RX 01 03 01 01 00 02 94 37 # ");
  EXPECT_EQ(traffic[3], "TX " + Hex(WithCrc(Bytes("01 03 04 80 00 44 7C"))) + " # ");

  tl8test::SimProcess process;
  tl8test::RawLine line(process.port());
  const std::vector<SimJournalEntry> journal = link.journal();
  for (size_t i = 0; i + 1 < journal.size(); ++i) {
    if (journal[i].direction != "RX" || journal[i + 1].direction != "TX") continue;
    const tl8test::Bytes& answer = journal[i + 1].bytes;
    line.send(journal[i].bytes);
    EXPECT_EQ(line.receive(answer.size()), answer) << i;
  }
  EXPECT_EQ(Traffic(process.journal()), traffic);
}
#endif

// Sixteen reads take exactly their fixed delays on the millisecond tick
// (100 ms, then 20 ms, each ending when the tick exceeds it); the line time
// of each request and answer falls inside them. The values read are the
// adapter's memory.
TEST_F(SimLinkTest, SixteenReadsTakeTheirFixedDelaysInVirtualTime) {
  for (int index = 1; index <= 16; ++index) {
    exchange.ParamIndex = index;
    requests.ReadParameter(0);
    ASSERT_EQ(exchange.ResponseStatus, kStatusAccepted) << index;
  }
  EXPECT_DOUBLE_EQ(NowMs(clock), 16 * (101 + 21));
  const sim::ParamBytes& stored = link.memory(1).param(16);
  EXPECT_TRUE(
      std::equal(stored.begin(), stored.end(), params.ParamRaw.begin() + ParamByteOffset(16)));
}

// A search's probe of a silent address costs its 80 ms of silence; the one
// that answers costs the request's and answer's line time, the turnaround and
// the silence after the answer.
TEST(SimLinkTiming, SearchProbesTakeTheLineTimeAndTheSilence) {
  VirtualClock clock;
  SimLink line(clock, WithAdapters({FactoryAdapter(3)}));
  ExchangeState exchange;
  ParamData params;
  ModbusRequests search(line, exchange, params, clock);
  for (int address = 1; address <= 3; ++address) search.SendOwnFrame({address, 3, 1, 1, 0, 2});
  EXPECT_EQ(Hex(exchange.ResponseText), Hex(WithCrc(Bytes("03 03 04 80 00 44 7C"))));
  const double answered = 8 * kCharMs + kGapMs + kTurnaroundMs + 9 * kCharMs + 80;
  EXPECT_NEAR(NowMs(clock), 2 * 80 + answered, 1e-3);
  const auto traffic = Traffic(line.journal());
  ASSERT_EQ(traffic.size(), 4u);
  EXPECT_EQ(traffic[0], "RX 01 03 01 01 00 02 94 37 # ignored: other address");
}

struct FaultCase {
  const char* rule;
  int32_t status;
};

class SimLinkFaultTest : public SimLinkTest, public ::testing::WithParamInterface<FaultCase> {
 public:
  SimLinkFaultTest() : SimLinkTest(WithFault(GetParam().rule)) {}
};

// The simulator's faults reach the requests' answer checks.
TEST_P(SimLinkFaultTest, SpoilsTheRead) {
  exchange.ParamIndex = 2;
  requests.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseStatus, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Faults, SimLinkFaultTest,
                         ::testing::Values(FaultCase{"silent", kStatusNoAnswer},
                                           FaultCase{"badcrc", kStatusBadAnswer},
                                           FaultCase{"noise:2", kStatusBadAnswer},
                                           FaultCase{"truncate:5", kStatusBadAnswer},
                                           FaultCase{"short", kStatusBadAnswer},
                                           FaultCase{"exception:2", kStatusRefused},
                                           FaultCase{"late:100", kStatusNoAnswer}),
                         [](const auto& info) {
                           std::string name = info.param.rule;
                           return name.substr(0, name.find(':'));
                         });

// A late answer misses its read and arrives while the next request waits for
// the moment no answer to the failed read can come any more (1 s after it
// ended, plus the longest answer's length): dropped there, it is never taken
// for the next answer.
TEST(SimLinkTiming, LateAnswerIsDroppedBeforeTheNextRead) {
  VirtualClock clock;
  SimLink link(clock, WithFault("late:200,nth=1"));
  ExchangeState exchange;
  ParamData params;
  exchange.DeviceAddress = 1;
  ModbusRequests requests(link, exchange, params, clock);
  exchange.ParamIndex = 1;
  requests.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseStatus, kStatusNoAnswer);
  exchange.ParamIndex = 2;
  requests.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseStatus, kStatusAccepted);
  const sim::ParamBytes stored = link.memory(1).param(2);
  EXPECT_EQ(exchange.ResponseText,
            WithCrc("\x01\x03\x04" + std::string(stored.begin(), stored.end())));
  // The request (8 bytes) and the longest read answer (the probe's 19) on the
  // line, and the adapter's longest turnaround.
  const double noAnswerAfter = std::ceil((8 + 19) * kCharMs + 1000);
  EXPECT_DOUBLE_EQ(NowMs(clock), noAnswerAfter + 101 + 21);
}

// The stop event keeps the next frame off the line, and ends a wait for an
// answer at the moment it is signalled.
TEST_F(SimLinkTest, StopEventEndsTheWaitAtOnce) {
  TComStopEvent stop;
  requests.SetStopEvent(&stop);
  clock.At(std::chrono::milliseconds(30), [&stop] { stop.Signal(); });
  requests.SendOwnFrame({9, 3, 1, 1, 0, 2});  // nobody answers at 9
  EXPECT_DOUBLE_EQ(NowMs(clock), 30);
  EXPECT_EQ(exchange.ResponseText, "");
  EXPECT_THROW(requests.ReadParameter(1), EStopRequested);
  EXPECT_EQ(Traffic(link.journal()).size(), 1u);
}

// The line vanishes: the link reads as lost at once, and each operation
// fails like the port's on a vanished line, then like on a closed one.
TEST_F(SimLinkTest, VanishedLineFailsLikeThePort) {
  const std::pair<std::function<void(SimLink&)>, std::string> rows[] = {
      {[](SimLink& l) {
         TComEvents e{evRxChar};
         l.WaitForEvent(e, nullptr, 10000);
       },
       "WaitForEvent method failed"},
      {[](SimLink& l) { l.ReadBytes(10); }, "ReadFile function failed"},
      {[](SimLink& l) { l.WriteBytes("abc", 3); }, "WriteFile function failed"},
      {[](SimLink& l) { l.PendingInputCount(); }, "ClearCommError function failed"},
  };
  for (const auto& [operation, text] : rows) {
    SCOPED_TRACE(text);
    link.Plug();
    link.Unplug();
    EXPECT_FALSE(link.Connected());
    for (const char* code : {" (win error code: 5)", " (win error code: 9)"}) {
      try {
        operation(link);
        ADD_FAILURE() << "no failure";
      } catch (const EComPort& error) {
        EXPECT_EQ(error.what(), text + code);
      }
    }
  }
  link.Plug();
  requests.ReadParameter(1);
  EXPECT_EQ(exchange.ResponseText.size(), 19u);
}

// Several adapters: a write reaches only the addressed one's memory; after
// the pass-through command every byte comes back as it was sent.
TEST(SimLinkAdapters, WriteReachesItsAdapterAndPassThroughEchoes) {
  VirtualClock clock;
  SimLink link(clock, WithAdapters({FactoryAdapter(1), FactoryAdapter(7)}));
  ExchangeState exchange;
  ParamData params;
  ModbusRequests requests(link, exchange, params, clock);
  exchange.DeviceAddress = 7;
  exchange.ParamIndex = 3;
  const std::string data = Bytes("00 00 41 20");
  std::copy(data.begin(), data.end(), params.ParamImage.begin() + ParamByteOffset(3));
  requests.WriteParameter();
  EXPECT_EQ(exchange.ResponseStatus, kStatusAccepted);
  EXPECT_EQ(link.memory(7).param(3), (sim::ParamBytes{0x00, 0x00, 0x41, 0x20}));
  EXPECT_EQ(link.memory(1).param(3), FactoryAdapter(1).param(3));

  requests.WriteSingleRegister(373, 1);
  EXPECT_EQ(exchange.ResponseStatus, kStatusAccepted);
  EXPECT_TRUE(link.passThrough());
  // Straight on the line: the requests would take such a copy for the line's echo.
  const std::string bytes = "\x55\x01";
  link.WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
  clock.AdvanceTo(clock.Now() + std::chrono::milliseconds(20));
  EXPECT_EQ(link.ReadBytes(link.PendingInputCount()), bytes);
}

}  // namespace
