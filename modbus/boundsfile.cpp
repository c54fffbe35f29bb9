#include "modbus/boundsfile.h"

#include <QBuffer>

BoundsFile::BoundsFile(const QString& path)
    : file_(path, QStringLiteral("write"), NamedBy::kTool) {}

void BoundsFile::AddLine(const QString& line) { file_.Append(line.toLatin1() + "\r\n"); }

void BoundsFile::Finish() { file_.Commit(); }

namespace {

// A CR alone is text here, and Ctrl-Z nothing special.
constexpr LineRules kBoundsLines{.loneCrEndsLine = false, .ctrlZEndsFile = false};

std::array<QString, kBoundsInFile> BoundsOf(const QList<QByteArray>& lines) {
  std::array<QString, kBoundsInFile> bounds;
  for (qsizetype i = 0; i < lines.size(); ++i) bounds[i] = QString::fromLatin1(lines[i]);
  return bounds;
}

}  // namespace

std::array<QString, kBoundsInFile> LoadBoundsFile(const QString& path) {
  return BoundsOf(ReadFirstLines(path, kBoundsInFile, kBoundsFileLines, kBoundsLines));
}

std::array<QString, kBoundsInFile> ParseBoundsFile(const QByteArray& bytes) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  return BoundsOf(ReadFirstLines(buffer, kBoundsInFile, kBoundsFileLines, kBoundsLines));
}
