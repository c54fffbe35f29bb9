#include "modbus/delay.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

int64_t TickOf(Clock::time_point t) {
  return std::chrono::duration_cast<Milliseconds>(t.time_since_epoch()).count();
}

// The tick is a 32-bit millisecond counter; differences wrap like it.
bool Elapsed(int64_t startTick, int32_t ms) {
  const auto difference =
      static_cast<int32_t>(static_cast<uint32_t>(TickOf(Clock::now()) - startTick));
  return std::abs(static_cast<int64_t>(difference)) > ms;
}

bool EventLoopAvailable() {
  return QCoreApplication::instance() &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

void ProcessPendingEvents() {
  if (EventLoopAvailable()) QCoreApplication::processEvents();
}

void Delay(int32_t ms) {
  const int64_t startTick = TickOf(Clock::now());
  // The moment the tick first exceeds start + ms.
  const Clock::time_point end{Milliseconds(startTick + int64_t{ms} + 1)};
  if (!EventLoopAvailable()) {
    while (!Elapsed(startTick, ms)) std::this_thread::sleep_until(end);
    return;
  }
  // Repeating: a handler that runs inside the wait may take the wake-up in a
  // nested event loop of its own, and some event dispatchers (Windows') then
  // go on waiting for another event after it returns; the next wake-up comes.
  QTimer wakeUp;
  wakeUp.setTimerType(Qt::PreciseTimer);
  QCoreApplication::processEvents();
  while (!Elapsed(startTick, ms)) {
    const auto left = std::chrono::duration_cast<Milliseconds>(end - Clock::now());
    if (left.count() >= 1) {
      wakeUp.start(left);
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } else {
      std::this_thread::sleep_until(end);  // under a millisecond: too short for a timer
      QCoreApplication::processEvents();
    }
  }
}
