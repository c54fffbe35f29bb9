#pragma once
// A port wait in virtual time, as the simulated lines of the tests do it:
// until a character has arrived (when the wait is for one), the stop event is
// signalled or the timeout has passed, the clock jumps from one due moment to
// the next instead of sleeping. As on the port, a character that is there
// counts even after a stop.

#include "modbus/clock.h"
#include "serial/link.h"

#include <functional>
#include <optional>

struct VirtualLine {
  // Runs at the start and at every moment the clock stops at (a simulated
  // line serves a request that has ended, or finds itself pulled out).
  std::function<void()> atEachMoment = [] {};
  std::function<int()> arrived;  // characters waiting to be read
  // The line's next moment of its own (a character arriving, a request
  // ending), if any.
  std::function<std::optional<ExchangeClock::Duration>(bool forChar)> nextMoment;
};

// A wait with no limit when nothing can come any more throws std::logic_error.
void WaitInVirtualTime(VirtualClock& clock, const VirtualLine& line, TComEvents& events,
                       TComStopEvent* stopEvent, int timeoutMs);
