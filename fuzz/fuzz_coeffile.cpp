// The coefficient-file reader on arbitrary bytes: it refuses the file
// (EBadFileData) exactly when one of its fifteen lines is longer than
// kLongestLine, a line after them holds anything but blanks, or the file is
// longer than such a file can be, as an independent split of the bytes says,
// and never cuts a line; otherwise it takes those lines by position as clean
// fields (no line end, no Ctrl-Z), and what the tool writes of those fields
// reads back as the same fields.

#include "fuzz/check.h"
#include "fuzz/file_oracle.h"
#include "modbus/coeffile.h"
#include "modbus/textfile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

bool CleanLine(const QString& field) {
  return field.size() <= kLongestLine && !field.contains('\r') && !field.contains('\n') &&
         !field.contains(QChar(0x1A));
}

// The file's bytes up to a Ctrl-Z.
QByteArray FileBytes(QByteArray bytes) {
  if (const qsizetype ctrlZ = bytes.indexOf('\x1A'); ctrlZ >= 0) bytes.truncate(ctrlZ);
  return bytes;
}

// The file's lines as the format defines them, split another way: CR LF and
// a lone CR made LF, split at LF.
QList<QByteArray> FormatLines(QByteArray bytes) {
  bytes.replace("\r\n", "\n").replace('\r', '\n');
  return bytes.split('\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

  // Every byte of the code page reads back as it was.
  FUZZ_REQUIRE(ToWindows1251(FromWindows1251(bytes)) == bytes);

  const QByteArray file = FileBytes(bytes);
  const QList<QByteArray> lines = FormatLines(file);
  const bool bad = NotSuchAFile(file, lines, kCoefFileLines);
  CoefFileFields fields;
  try {
    fields = ParseCoefFile(bytes);
  } catch (const EBadFileData&) {
    FUZZ_REQUIRE(bad);
    return 0;
  }
  FUZZ_REQUIRE(!bad);
  FUZZ_REQUIRE(fields.Address == FromWindows1251(lines.value(0)));
  FUZZ_REQUIRE(fields.Coefficients.back() == FromWindows1251(lines.value(kCoefFileLines - 1)));
  FUZZ_REQUIRE(CleanLine(fields.Address) && CleanLine(fields.Date) &&
               CleanLine(fields.SerialNumber));
  for (const QString& coefficient : fields.Coefficients) FUZZ_REQUIRE(CleanLine(coefficient));

  const QByteArray written = CoefFileBytes(fields);
  FUZZ_REQUIRE(written.count("\r\n") == kCoefFileLines && written.endsWith("\r\n"));
  FUZZ_REQUIRE(ParseCoefFile(written) == fields);
  return 0;
}
