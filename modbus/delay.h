#pragma once

#include <cstdint>

// Waits until more than `ms` milliseconds have passed on the millisecond tick
// (so Delay(0) lasts until the next tick), handling the application's events
// meanwhile: windows repaint and their handlers can run inside the wait. It
// sleeps in the event loop between events rather than spinning. Without a
// QCoreApplication it simply sleeps.
void Delay(int32_t ms);

// Handles the application's pending events once, without waiting for more;
// nothing without a QCoreApplication or off its thread.
void ProcessPendingEvents();
