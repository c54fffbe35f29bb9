#pragma once
// The kinds of line a port name may mean, each a backend of the port
// component, known by the start of the name: a network line by its scheme
// (tcp://, rfc2217://, modbus-tcp://), a local serial device by any other name. A new kind
// is one more backend and one more row in the table (line_kinds.cpp).

#include "serial/link.h"

#include <memory>
#include <string>
#include <string_view>

// What a line is, for the texts that name it.
enum class TLineKind {
  SerialPort,   // a local device: busy, missing, in use by another program
  NetworkLine,  // a device server on the network: refused, no such host, silent
};

struct TLineKindEntry {
  std::string_view scheme;  // the name starts with it, in any letter case; empty: any name
  TLineKind kind;
  // Opens the line `name` means; the opening's waits end at `stop` (may be
  // null). Throws EComPort(ceOpenFailed, the system's code).
  std::unique_ptr<TLineBackend> (*open)(const std::string& name, const TComStopEvent* stop);
};

// The entry of the kind `name` means.
const TLineKindEntry& LineKindOf(const std::string& name);
