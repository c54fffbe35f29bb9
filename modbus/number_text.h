#pragma once
// The number texts the windows show and the strict conversions of what the
// user typed. "." is the only decimal separator, whatever the locale.

#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>

// A text that is not the number it should be.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value rounded once, to 7 significant digits or to `decimals` places,
// whichever is coarser, half away from zero (a binary value exactly halfway,
// such as 0.125, goes up in magnitude: "0.13", "-0.13"), and written with
// exactly `decimals` places, e.g.
// FixedText(1234.56789, 4) == "1234.5680". A value whose rounded integer part
// has more than 7 digits is written as 7 significant digits with an exponent
// of at least two digits: "1.234568E+10", "-1.000000E+07". A negative value
// that rounds to zero is shown without sign ("0.00"). `value` must be finite.
QString FixedText(double value, int decimals);

// The serial number in decimal, with one "0" in front when shorter than 7
// characters: 12345 -> "012345", -1 -> "0-1".
QString SerialNumberText(int32_t serialNumber);

// Strict decimal number: optional sign, digits with at most one ".", at least
// one digit, optional exponent "E"/"e" with optional sign and digits. Nothing
// else, not even blanks. A magnitude beyond the double range gives +-infinity,
// which the device float encoder refuses as an overflow.
std::optional<double> StrictToFloat(const QString& text);

// Strict decimal integer: optional sign and digits, within 32 signed bits.
std::optional<int32_t> StrictToInt(const QString& text);

// StrictToInt that throws EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const QString& text);
