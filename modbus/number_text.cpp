#include "modbus/number_text.h"

#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <locale.h>

namespace {

constexpr int kSignificantDigits = 7;

// printf and strtod follow the process locale, which may use ","; the
// separator here is always ".".
QString Printed(double value, std::chars_format format, int precision) {
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision).ptr;
  return QString::fromLatin1(buffer, end - buffer);
}

bool AllZeroDigits(const QString& text) {
  for (QChar c : text)
    if (c.isDigit() && c != '0') return false;
  return true;
}

}  // namespace

QString FixedText(double value, int decimals) {
  const QString rounded = Printed(value, std::chars_format::scientific, kSignificantDigits - 1);
  const int exponent = rounded.mid(rounded.indexOf('e') + 1).toInt();
  const int places = std::min(decimals, kSignificantDigits - 1 - exponent);
  if (places < 0) return QString(rounded).replace('e', 'E');
  QString text = Printed(value, std::chars_format::fixed, places);
  if (places < decimals) text += QString(places == 0 ? "." : "") + QString(decimals - places, '0');
  if (text.startsWith('-') && AllZeroDigits(text)) text.remove(0, 1);
  return text;
}

QString SerialNumberText(int32_t serialNumber) {
  const QString text = QString::number(serialNumber);
  return text.size() < 7 ? '0' + text : text;
}

std::optional<double> StrictToFloat(const QString& text) {
  static const QRegularExpression number(R"(\A[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?\z)");
  if (!number.match(text).hasMatch()) return std::nullopt;
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  return strtod_l(text.toLatin1().constData(), nullptr, cLocale);
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
