// The coefficient-file reader on arbitrary bytes: whatever it takes from a
// file is a clean line (no line end, no Ctrl-Z, not longer than the cut), and
// what the tool writes of those fields reads back as the same fields.

#include "fuzz/check.h"
#include "modbus/coeffile.h"
#include "modbus/textfile.h"

#include <cstddef>
#include <cstdint>

namespace {

bool CleanLine(const QString& field) {
  return field.size() <= kLongestLine && !field.contains('\r') && !field.contains('\n') &&
         !field.contains(QChar(0x1A));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

  // Every byte of the code page reads back as it was.
  FUZZ_REQUIRE(ToWindows1251(FromWindows1251(bytes)) == bytes);

  const CoefFileFields fields = ParseCoefFile(bytes);
  FUZZ_REQUIRE(CleanLine(fields.Address) && CleanLine(fields.Date) &&
               CleanLine(fields.SerialNumber));
  for (const QString& coefficient : fields.Coefficients) FUZZ_REQUIRE(CleanLine(coefficient));

  const QByteArray written = CoefFileBytes(fields);
  FUZZ_REQUIRE(written.count("\r\n") == kCoefFileLines && written.endsWith("\r\n"));
  FUZZ_REQUIRE(ParseCoefFile(written) == fields);
  return 0;
}
