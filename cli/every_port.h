#pragma once
// A command on every port of the system's list at once (scan and inventory
// --all-ports). Every port is a bus of its own: each runs on a thread of its
// own, with its own line and session, one exchange at a time, so N silent
// ports take about as long as one. Names of one device (a COMn link and its
// target) are one bus: they take their turns on one thread. Everything is
// told on the calling thread, in the order of the list: a port once every
// port before it is done; the progress line and --trace's lines are drawn
// there too. The stop event ends every port after its frame in flight.

#include "cli/commands.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <vector>

class Report;
class Session;
class TComStopEvent;

// How a port's part of the run ended.
enum class PortEnd {
  Skipped,     // busy, or the kernel's console: never opened
  NotOpened,   // the opening failed
  Done,        // the work ran to its end
  LineFailed,  // the line failed under the work (or the work failed otherwise)
  Stopped,     // a stop request ended it, or kept it closed
};

// Shows the step an exchange is at (the progress line's text); an empty
// text: none any more.
using StepShower = std::function<void(const QString& step)>;

// What runs on a port: its index in the list, the session on its line, where
// it shows its steps. A stop request ends it (EStopRequested).
using PortWork = std::function<void(size_t index, Session& session, const StepShower& show)>;

struct EveryPortRun {
  const PortAccess& access;
  TComStopEvent* stop;  // may be null
  Report& report;
  bool trace;  // each port's frames on stderr, after its name, as they go
};

// Runs `work` on every port of `ports` that is neither busy nor the console,
// and calls `tell(index)` on this thread for every port in the list's order,
// once it and every port before it are done; after it, the port's note when
// it was skipped, did not open or its line failed. Returns how each port
// ended.
std::vector<PortEnd> RunOnEveryPort(const std::vector<ComPortInfo>& ports, const EveryPortRun& run,
                                    const PortWork& work, const std::function<void(size_t)>& tell);
