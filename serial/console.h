#pragma once
// The console's stop requests (Ctrl+C in the terminal, a termination request
// from the system). The tool runs without a console of its own, but when one
// asks it to stop, any port wait must end at once and the tool must then end
// as "Выход" does.

#include <functional>

class TComStopEvent;

// Registers the handler again (each call replaces the previous registration):
// on a stop request it signals `stopEvent` at once, from whatever context the
// request arrives in, and then runs `onStop` on the user-interface thread.
// Once it returns, no stop request touches the stop event it replaced.
void RegisterConsoleHandler(TComStopEvent* stopEvent, std::function<void()> onStop);

// Takes back the registration of `stopEvent` if it is the current one: stop
// requests get back what they did before the first registration, and once
// this returns none touches the stop event or runs its onStop, so both may be
// destroyed.
void UnregisterConsoleHandler(const TComStopEvent* stopEvent);
