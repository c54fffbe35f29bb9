#pragma once
// The system's ports as tl8ctl reaches them: the port --port names opened on
// the program's own port component, the system's port list, and each port of
// --all-ports opened on a port component of its own. Every opening's waits
// (a network line's) end at the stop event.

#include "cli/commands.h"

class TComPort;
class TComStopEvent;

PortAccess SystemPortAccess(TComPort& port, TComStopEvent* stop);
