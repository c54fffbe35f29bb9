// The tmp.dat reader on arbitrary bytes: six bounds at most a cut line long,
// none holding a LF (a CR alone is text in this file), and the lines as the
// bounds window writes them (each with CR LF) read back whole.

#include "fuzz/check.h"
#include "modbus/boundsfile.h"
#include "modbus/textfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const std::array<QString, kBoundsInFile> bounds = ParseBoundsFile(bytes);

  QByteArray written;
  for (const QString& bound : bounds) {
    FUZZ_REQUIRE(bound.size() <= kLongestLine && !bound.contains('\n'));
    // Read as Latin-1: every byte is one character, and goes back as it came.
    written += bound.toLatin1() + "\r\n";
  }
  // Two more lines follow the bounds in the file the tool writes; they are not read.
  written += "0\r\n0\r\n";
  FUZZ_REQUIRE(ParseBoundsFile(written) == bounds);

  // A file cut anywhere gives the first lines it still holds whole.
  const QByteArray cut = bytes.left(bytes.indexOf('\n') + 1);
  if (!cut.isEmpty()) {
    const std::array<QString, kBoundsInFile> first = ParseBoundsFile(cut);
    FUZZ_REQUIRE(first[0] == bounds[0]);
    for (int i = 1; i < kBoundsInFile; ++i) FUZZ_REQUIRE(first[i].isEmpty());
  }
  return 0;
}
