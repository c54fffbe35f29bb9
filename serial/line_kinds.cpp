#include "serial/line_kinds.h"

#include "net/modbus_tcp.h"
#include "net/netline.h"
#include "serial/device_line.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace {

// Looked at in order; the last row takes every name.
constexpr TLineKindEntry kLineKinds[] = {
    {"tcp://", TLineKind::NetworkLine, OpenNetLine},
    {"rfc2217://", TLineKind::NetworkLine, OpenNetLine},
    {"modbus-tcp://", TLineKind::NetworkLine, OpenModbusTcpLine},
    {"", TLineKind::SerialPort, OpenDeviceLine},
};

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace

const TLineKindEntry& LineKindOf(const std::string& name) {
  return *std::find_if(
      std::begin(kLineKinds), std::end(kLineKinds),
      [&name](const TLineKindEntry& entry) { return StartsWithText(name, entry.scheme); });
}
