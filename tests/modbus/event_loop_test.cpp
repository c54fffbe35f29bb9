// Delay's waiting and the one-exchange gate: the parts of the core that meet
// the application's event loop.

#include "modbus/delay.h"
#include "modbus/exchange_gate.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

int64_t Tick() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Delay(0) lasts until the tick changes; Delay(n) until it has moved on more than n.
void ExpectTickWaits() {
  for (int ms : {0, 1, 20}) {
    const int64_t before = Tick();
    Delay(ms);
    EXPECT_GT(Tick() - before, ms) << ms;
  }
}

TEST(Delay, WithoutApplicationSleeps) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  ExpectTickWaits();
}

class DelayInEventLoop : public ::testing::Test {
 protected:
  int argc = 1;
  char name[8] = "test";
  char* argv[1] = {name};
  QCoreApplication app{argc, argv};
};

TEST_F(DelayInEventLoop, WaitsForTheTick) { ExpectTickWaits(); }

TEST_F(DelayInEventLoop, HandlesEventsWhileWaiting) {
  bool posted = false;
  bool timed = false;
  QMetaObject::invokeMethod(
      &app, [&] { posted = true; }, Qt::QueuedConnection);
  // Due long before the wait ends, so that a busy machine's pauses cannot
  // carry the wait past it.
  QTimer::singleShot(20, &app, [&] { timed = true; });
  const auto start = Clock::now();
  Delay(250);
  EXPECT_TRUE(posted);
  EXPECT_TRUE(timed);
  EXPECT_GE(MillisecondsSince(start), 250);
  EXPECT_LT(MillisecondsSince(start), 10000);
}

// A handler that runs inside the wait may wait itself, shorter or longer; the
// outer wait still ends once its own time is up and the handler has returned.
// The handler is due long before the outer wait ends.
TEST_F(DelayInEventLoop, NestedWaits) {
  for (int inner : {10, 400}) {
    bool innerDone = false;
    QTimer::singleShot(5, &app, [&] {
      Delay(inner);
      innerDone = true;
    });
    const auto start = Clock::now();
    Delay(250);
    EXPECT_TRUE(innerDone) << inner;
    EXPECT_GE(MillisecondsSince(start), std::max(250, inner)) << inner;
    EXPECT_LT(MillisecondsSince(start), 10000) << inner;
  }
}

TEST(ExchangeGate, OneScopeAtATime) {
  ExchangeGate gate;
  std::vector<bool> changes;
  QObject::connect(&gate, &ExchangeGate::BusyChanged, [&](bool busy) { changes.push_back(busy); });
  {
    ExchangeGate::Scope first(gate);
    EXPECT_TRUE(first.Claimed());
    EXPECT_TRUE(gate.Busy());
    {
      ExchangeGate::Scope second(gate);
      EXPECT_FALSE(second);
    }
    EXPECT_TRUE(gate.Busy());  // the refused scope gives nothing back
  }
  EXPECT_FALSE(gate.Busy());
  EXPECT_EQ(changes, (std::vector<bool>{true, false}));
  ExchangeGate::Scope again(gate);
  EXPECT_TRUE(again);
}

}  // namespace
