#include "modbus/number_text.h"

#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr int kSignificantDigits = 7;
// Every double's decimal expansion ends within this many significant digits.
constexpr int kExactDigits = 767;

// |value| = 0.digits x 10^point, exactly.
struct Decimal {
  bool negative;
  std::string digits;
  int point;  // digits before the decimal point; may be <= 0
};

// printf and strtod follow the process locale, which may use ","; to_chars
// and from_chars do not, and with enough digits it writes the binary value exactly.
Decimal Exact(double value) {
  char buffer[kExactDigits + 16];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                 std::chars_format::scientific, kExactDigits - 1)
                       .ptr;
  const std::string_view text(buffer, end - buffer);  // "d.ddd...e+XX"
  const size_t e = text.find('e');
  int exponent = 0;
  const char* digits = text.data() + e + (text[e + 1] == '+' ? 2 : 1);
  std::from_chars(digits, text.data() + text.size(), exponent);
  return {std::signbit(value), std::string(1, text[0]).append(text.substr(2, e - 2)), exponent + 1};
}

// Keeps the first `keep` digits. The expansion being exact, a first dropped
// digit of 5 or more means half a unit or more: rounding away from zero there
// takes exact ties away from zero too (0.125 -> 0.13), where printf would
// round them to even.
void RoundTo(Decimal& d, int keep) {
  if (keep >= static_cast<int>(d.digits.size())) return;
  const bool up = keep >= 0 && d.digits[keep] >= '5';
  d.digits.resize(std::max(keep, 0));
  if (!up) return;
  int i = static_cast<int>(d.digits.size()) - 1;
  while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
  if (i >= 0) {
    ++d.digits[i];
  } else {
    d.digits.insert(0, 1, '1');
    ++d.point;
  }
}

char DigitAt(const Decimal& d, int k) {
  return k >= 0 && k < static_cast<int>(d.digits.size()) ? d.digits[k] : '0';
}

QString Fixed(const Decimal& d, int places) {
  std::string text = d.negative ? "-" : "";
  if (d.point <= 0) text += '0';
  for (int k = 0; k < d.point; ++k) text += DigitAt(d, k);
  if (places > 0) text += '.';
  for (int k = d.point; k < d.point + places; ++k) text += DigitAt(d, k);
  return QString::fromLatin1(text);
}

// "d.ddddddE+XX" from seven significant digits.
QString Scientific(const Decimal& d) {
  std::string text = d.negative ? "-" : "";
  text += DigitAt(d, 0);
  text += '.';
  for (int k = 1; k < kSignificantDigits; ++k) text += DigitAt(d, k);
  const int exponent = d.point - 1;
  return QString::fromLatin1(text) + QStringLiteral("E%1%2")
                                         .arg(exponent < 0 ? '-' : '+')
                                         .arg(std::abs(exponent), 2, 10, QChar(u'0'));
}

// What a number beyond the double range stands for: +-infinity above it
// (the encoder refuses that as an overflow), +-0 below it. from_chars leaves
// its result alone then, so the side is found from the power of ten of the
// leading nonzero digit, which such a number has. `text` has the form
// StrictToFloat accepts, without a "+" sign.
double OutOfRangeValue(std::string_view text) {
  const bool negative = text.front() == '-';
  if (negative) text.remove_prefix(1);
  const size_t e = std::min(text.find_first_of("eE"), text.size());
  long long exponent = 0;
  if (e < text.size()) {
    std::string_view written = text.substr(e + 1);
    if (written.front() == '+') written.remove_prefix(1);
    // An exponent beyond long long is far beyond the double range either way.
    if (std::from_chars(written.data(), written.data() + written.size(), exponent).ec !=
        std::errc())
      exponent = written.front() == '-' ? -INT_MAX : INT_MAX;
  }
  const std::string_view mantissa = text.substr(0, e);
  const long long point = static_cast<long long>(std::min(mantissa.find('.'), mantissa.size()));
  long long leading = static_cast<long long>(mantissa.find_first_of("123456789"));
  if (leading > point) --leading;  // the "." is no digit
  const bool huge = point - leading - 1 + exponent >= 0;
  const double magnitude = huge ? HUGE_VAL : 0.0;
  return negative ? -magnitude : magnitude;
}

bool AllZeroDigits(const QString& text) {
  for (QChar c : text)
    if (c.isDigit() && c != '0') return false;
  return true;
}

}  // namespace

QString FixedText(double value, int decimals) {
  const Decimal exact = Exact(value);
  Decimal significant = exact;
  RoundTo(significant, kSignificantDigits);
  const int places = std::min(decimals, kSignificantDigits - significant.point);
  if (places < 0) return Scientific(significant);
  Decimal rounded = exact;
  RoundTo(rounded, rounded.point + places);
  QString text = Fixed(rounded, places);
  if (places < decimals) text += QString(places == 0 ? "." : "") + QString(decimals - places, '0');
  if (text.startsWith('-') && AllZeroDigits(text)) text.remove(0, 1);
  return text;
}

QString SerialNumberText(int32_t serialNumber) {
  const QString text = QString::number(serialNumber);
  return text.size() < 7 ? '0' + text : text;
}

std::optional<double> StrictToFloat(const QString& text) {
  static const QRegularExpression number(
      R"(\A[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?\z)");
  if (!number.match(text).hasMatch()) return std::nullopt;
  const QByteArray latin = text.toLatin1();
  std::string_view digits(latin.constData(), static_cast<size_t>(latin.size()));
  if (digits.front() == '+') digits.remove_prefix(1);  // from_chars takes no "+"
  double value = 0;
  if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec ==
      std::errc::result_out_of_range)
    return OutOfRangeValue(digits);
  return value;
}

std::optional<int32_t> StrictToInt(const QString& text) {
  static const QRegularExpression integer(R"(\A[+-]?[0-9]+\z)");
  if (!integer.match(text).hasMatch()) return std::nullopt;
  const QByteArray digits = text.toLatin1();
  const char* first = digits.constData() + (digits.startsWith('+') ? 1 : 0);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(first, digits.constData() + digits.size(), value);
  return error == std::errc() ? std::optional(value) : std::nullopt;
}

int32_t StrToInt(const QString& text) {
  const auto value = StrictToInt(text);
  if (!value) throw EConvertError(("'" + text + "' is not a valid integer value").toStdString());
  return *value;
}
