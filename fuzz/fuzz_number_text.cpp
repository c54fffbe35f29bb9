// The number texts: the strict conversions of what the user types, against
// the C library's own conversions, and the texts the windows show, which
// must parse back to the value they show, rounded as promised, and survive
// the device float's round trip.

#include "fuzz/check.h"
#include "modbus/device_float.h"
#include "modbus/number_text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips a run of digits; how many there were.
size_t Digits(const std::string& s, size_t& i) {
  const size_t start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  return i - start;
}

// The grammar of a strict number, written out by hand: [+-] digits [. digits]
// (a digit on at least one side of the point) [eE [+-] digits].
bool StrictNumberText(const std::string& s, bool integerOnly) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t mantissa = Digits(s, i);
  if (!integerOnly && i < s.size() && s[i] == '.') {
    ++i;
    mantissa += Digits(s, i);
  }
  if (mantissa == 0) return false;
  if (!integerOnly && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (Digits(s, i) == 0) return false;
  }
  return i == s.size();
}

void CheckStrictConversions(const QString& text) {
  const std::string latin = text.toStdString();
  const bool plain = text.size() == static_cast<qsizetype>(latin.size());  // ASCII only

  const std::optional<double> number = StrictToFloat(text);
  FUZZ_REQUIRE(number.has_value() == (plain && StrictNumberText(latin, false)));
  if (number) {
    const double expected = std::strtod(latin.c_str(), nullptr);  // the "C" locale here
    FUZZ_REQUIRE(!std::isnan(*number));
    // Below the double range both may give 0 or the nearest subnormal.
    FUZZ_REQUIRE(*number == expected ||
                 (std::fabs(expected) < 0x1p-1022 && std::fabs(*number) < 0x1p-1022));
  }

  const std::optional<int32_t> integer = StrictToInt(text);
  bool integerText = plain && StrictNumberText(latin, true);
  if (integerText) {
    errno = 0;
    const long long wide = std::strtoll(latin.c_str(), nullptr, 10);
    integerText = errno == 0 && wide >= INT32_MIN && wide <= INT32_MAX;
    if (integerText) FUZZ_REQUIRE(integer && *integer == wide);
  }
  FUZZ_REQUIRE(integer.has_value() == integerText);
}

bool ScientificText(const QString& shown) {
  static const std::string form = "d.ddddddE";
  const std::string s = shown.toStdString();
  const size_t sign = s.starts_with('-') ? 1 : 0;
  if (s.size() < sign + form.size() + 3) return false;
  for (size_t k = 0; k < form.size(); ++k) {
    const char c = s[sign + k];
    if (form[k] == 'd' ? !IsDigit(c) : c != form[k]) return false;
  }
  size_t i = sign + form.size();
  if (s[i] != '+' && s[i] != '-') return false;
  ++i;
  return Digits(s, i) >= 2 && i == s.size();
}

void CheckShownText(double value, int decimals) {
  const QString shown = FixedText(value, decimals);
  const std::optional<double> back = StrictToFloat(shown);
  FUZZ_REQUIRE(back.has_value());                      // a text the tool shows is one it takes back
  FUZZ_REQUIRE(!shown.startsWith('-') || *back != 0);  // no "-0.00"

  const qsizetype point = shown.indexOf('.');
  if (ScientificText(shown)) {
    // Only values whose integer part has more than seven digits.
    FUZZ_REQUIRE(std::fabs(value) >= 9999999.5 * (1 - 1e-15));
    FUZZ_REQUIRE(std::fabs(*back - value) <= std::fabs(value) * 5e-7 * (1 + 1e-9));
  } else {
    FUZZ_REQUIRE(decimals == 0 ? point == shown.size() - 1 || point < 0
                               : point >= 0 && shown.size() - point - 1 == decimals);
    // Rounded once: to the places shown, or to seven significant digits
    // when those are coarser.
    const double places = std::pow(10.0, -decimals) / 2;
    const double significant = std::fabs(value) * 5e-7 * 10;  // a generous bound on 7 digits
    const double tolerance = std::max(places, significant) * (1 + 1e-9) + 1e-300;
    FUZZ_REQUIRE(std::fabs(*back - value) <= tolerance);
  }
  // Half away from zero on both sides: the text of -v is that of v with a sign.
  const QString mirrored = FixedText(-value, decimals);
  FUZZ_REQUIRE(mirrored == shown || mirrored == '-' + shown || '-' + mirrored == shown);
}

void CheckDeviceFloat(double value) {
  DeviceFloatBytes bytes;
  try {
    bytes = DoubleToDeviceFloat(value);
  } catch (const EFloatOverflow&) {
    FUZZ_REQUIRE(std::fabs(value) >= 1.7014117e38);
    return;
  }
  const double read = DeviceFloatToDouble(bytes[0], bytes[1], bytes[2], bytes[3]);
  if (std::fabs(value) < 0x1p-128) FUZZ_REQUIRE(read == 0);
  // Below 2^-126 the pattern written is a binary32 subnormal, which the
  // adapter's format reads as a normal number of exponent -127: it is
  // written all the same, the way the adapter's own software writes it, and
  // does not read back.
  if (std::fabs(value) < 0x1p-126) return;
  // Whatever else is written reads back, within the float's rounding and its
  // cleared last bit, and writing that again gives the same bytes.
  FUZZ_REQUIRE(DoubleToDeviceFloat(read) == bytes);
  FUZZ_REQUIRE(std::fabs(read - value) <= std::fabs(value) * 0x1p-22);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int decimals = input.ConsumeIntegralInRange(0, 8);
  const double value = input.ConsumeFloatingPoint<double>();
  const QString text = QString::fromUtf8(input.ConsumeRemainingBytesAsString());

  CheckStrictConversions(text);
  if (std::isfinite(value)) {
    CheckShownText(value, decimals);
    CheckDeviceFloat(value);
  }
  if (const std::optional<double> typed = StrictToFloat(text); typed && std::isfinite(*typed)) {
    CheckShownText(*typed, decimals);
    CheckDeviceFloat(*typed);
  }
  return 0;
}
