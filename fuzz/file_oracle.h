#pragma once
// The fuzz targets' own judgement of a text file of a format of `held` lines,
// independent of the tool's reader: what it must refuse as bad data.

#include "modbus/textfile.h"

#include <QByteArray>
#include <QList>

#include <algorithm>

// `file`: the bytes that count (up to a Ctrl-Z where it ends the file);
// `lines`: those bytes split at the format's line ends. Bad: a held line
// longer than kLongestLine, anything but blanks after the held lines, or a
// file longer than MostBytes(held).
inline bool NotSuchAFile(const QByteArray& file, const QList<QByteArray>& lines, int held) {
  const auto heldEnd = lines.begin() + std::min<qsizetype>(held, lines.size());
  const bool tooLong = std::any_of(
      lines.begin(), heldEnd, [](const QByteArray& line) { return line.size() > kLongestLine; });
  const bool more = std::any_of(heldEnd, lines.end(), [](const QByteArray& line) {
    return std::any_of(line.begin(), line.end(), [](char c) { return c != ' ' && c != '\t'; });
  });
  return tooLong || more || file.size() > MostBytes(held);
}
