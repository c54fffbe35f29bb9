// The tmp.dat reader on arbitrary bytes: it refuses the file (EBadFileData)
// exactly when one of its eight lines is longer than kLongestLine, a line
// after them holds anything but blanks, or the file is longer than such a
// file can be, as an independent split of the bytes says, and never cuts a
// line; otherwise
// six bounds, none holding a LF (a CR alone is text in this file), and the
// lines as the bounds window writes them (each with CR LF) read back whole.

#include "fuzz/check.h"
#include "fuzz/file_oracle.h"
#include "modbus/boundsfile.h"
#include "modbus/textfile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  // The lines split another way: CR LF made LF, split at LF.
  const QList<QByteArray> lines = QByteArray(bytes).replace("\r\n", "\n").split('\n');
  const bool bad = NotSuchAFile(bytes, lines, kBoundsFileLines);
  std::array<QString, kBoundsInFile> bounds;
  try {
    bounds = ParseBoundsFile(bytes);
  } catch (const EBadFileData&) {
    FUZZ_REQUIRE(bad);
    return 0;
  }
  FUZZ_REQUIRE(!bad);
  FUZZ_REQUIRE(bounds[0] == QString::fromLatin1(lines.value(0)));

  QByteArray written;
  for (const QString& bound : bounds) {
    FUZZ_REQUIRE(!bound.contains('\n'));
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
