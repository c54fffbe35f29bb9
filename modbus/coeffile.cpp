#include "modbus/coeffile.h"

#include "modbus/textfile.h"

#include <QBuffer>

namespace {

// Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are А..я in order, and the byte
// the code page leaves unassigned (0x98) stands for the control character of
// the same number, so every byte reads back as it was.
constexpr char16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // 0xB8
};
constexpr char16_t kCyrillicA = 0x0410;  // byte 0xC0; 0xFF is U+044F

char16_t FromByte(uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xC0) return kUpperHalf[byte - 0x80];
  return static_cast<char16_t>(kCyrillicA + (byte - 0xC0));
}

char ToByte(char16_t c) {
  if (c < 0x80) return static_cast<char>(c);
  if (c >= kCyrillicA && c < kCyrillicA + 64) return static_cast<char>(0xC0 + (c - kCyrillicA));
  for (int i = 0; i < 64; ++i)
    if (kUpperHalf[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

// A line ends at CR LF, a lone LF or a lone CR; Ctrl-Z ends the file.
constexpr LineRules kCoefLines{.loneCrEndsLine = true, .ctrlZEndsFile = true};

// The fifteen fields in file order.
template <class Fields>
auto InFileOrder(Fields& fields) {
  std::array<decltype(&fields.Address), kCoefFileLines> order{&fields.Address, &fields.Date,
                                                              &fields.SerialNumber};
  for (size_t i = 0; i < fields.Coefficients.size(); ++i) order[3 + i] = &fields.Coefficients[i];
  return order;
}

CoefFileFields FieldsOf(const QList<QByteArray>& lines) {
  CoefFileFields fields;
  const auto order = InFileOrder(fields);
  for (qsizetype i = 0; i < lines.size() && i < kCoefFileLines; ++i)
    *order[i] = FromWindows1251(lines[i]);
  return fields;
}

}  // namespace

QByteArray ToWindows1251(const QString& text) {
  QByteArray bytes;
  bytes.reserve(text.size());
  for (QChar c : text) bytes.append(ToByte(c.unicode()));
  return bytes;
}

QString FromWindows1251(const QByteArray& bytes) {
  QString text;
  text.reserve(bytes.size());
  for (char byte : bytes) text.append(QChar(FromByte(static_cast<uint8_t>(byte))));
  return text;
}

QString CoefFileDateText(const QDateTime& local) {
  return local.toString(QStringLiteral("dd/MM/yyyy(HH:mm:ss)"));
}

QByteArray CoefFileBytes(const CoefFileFields& fields) {
  QByteArray bytes;
  for (const QString* line : InFileOrder(fields)) bytes += ToWindows1251(*line) + "\r\n";
  return bytes;
}

CoefFileFields ParseCoefFile(const QByteArray& bytes) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  return FieldsOf(ReadFirstLines(buffer, kCoefFileLines, kCoefFileLines, kCoefLines));
}

void SaveCoefFile(const QString& path, const CoefFileFields& fields) {
  FileReplacement file(path, QStringLiteral("save"));
  file.Append(CoefFileBytes(fields));
  file.Commit();
}

CoefFileFields LoadCoefFile(const QString& path) {
  return FieldsOf(ReadFirstLines(path, kCoefFileLines, kCoefFileLines, kCoefLines));
}
