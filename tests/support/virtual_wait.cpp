#include "tests/support/virtual_wait.h"

#include <chrono>
#include <stdexcept>

void WaitInVirtualTime(VirtualClock& clock, const VirtualLine& line, TComEvents& events,
                       TComStopEvent* stopEvent, int timeoutMs) {
  using Duration = ExchangeClock::Duration;
  const bool forChar = events.contains(evRxChar);
  std::optional<Duration> deadline;
  if (timeoutMs >= 0) deadline = clock.Now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    line.atEachMoment();
    if (forChar && line.arrived() > 0) {
      events = {evRxChar};
      return;
    }
    if ((stopEvent && stopEvent->IsSignalled()) || (deadline && clock.Now() >= *deadline)) {
      events = {};
      return;
    }
    std::optional<Duration> wake = deadline;
    const auto earlier = [&wake](std::optional<Duration> t) {
      if (t && (!wake || *t < *wake)) wake = t;
    };
    earlier(line.nextMoment(forChar));
    earlier(clock.NextDue());
    if (!wake) throw std::logic_error("a wait without a limit on a line where nothing comes");
    clock.AdvanceTo(*wake);
  }
}
