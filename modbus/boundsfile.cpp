#include "modbus/boundsfile.h"

BoundsFile::BoundsFile(const QString& path) : file_(path, QStringLiteral("write")) {}

void BoundsFile::AddLine(const QString& line) { file_.Append(line.toLatin1() + "\r\n"); }

void BoundsFile::Finish() { file_.Commit(); }

std::array<QString, kBoundsInFile> LoadBoundsFile(const QString& path) {
  // A CR alone is text here, and Ctrl-Z nothing special.
  const QList<QByteArray> lines =
      ReadFirstLines(path, kBoundsInFile, {.loneCrEndsLine = false, .ctrlZEndsFile = false});
  std::array<QString, kBoundsInFile> bounds;
  for (qsizetype i = 0; i < lines.size(); ++i) bounds[i] = QString::fromLatin1(lines[i]);
  return bounds;
}
