#include "modbus/textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <utility>

namespace {

constexpr char kCtrlZ = 0x1A;
constexpr qint64 kChunk = 64 * 1024;

void RefuseUnlessRegular(const QString& path, const QString& action) {
  const QFileInfo info(path);
  if (info.exists() && !info.isFile())
    throw EFileError(action, path, QStringLiteral("Not a regular file"));
}

}  // namespace

qint64 MostBytes(int held) { return qint64{held} * (kLongestLine + 2) + kLongestLine; }

namespace {

// Splits bytes into lines as they arrive and says when it has had enough.
class LineCollector {
 public:
  LineCollector(int count, int held, LineRules rules)
      : count_(count), held_(std::max(held, count)), rules_(rules) {}

  // False once the file has ended or a line has passed kLongestLine. Throws
  // ETooManyLines.
  bool Take(char c) {
    if (++taken_ > MostBytes(held_)) throw ETooManyLines(held_);
    // A CR is judged by the byte after it: with LF it is one line end.
    if (std::exchange(pendingCr_, false)) {
      if (c == '\n') return EndLine();
      if (!TakeLoneCr()) return false;
    }
    if (c == '\r') {
      pendingCr_ = true;
      return true;
    }
    if (c == '\n') return EndLine();
    if (c == kCtrlZ && rules_.ctrlZEndsFile) return false;
    return Keep(c);
  }

  // The wanted lines, once the bytes have run out or Take has had enough.
  // Throws ELineTooLong or ETooManyLines.
  QList<QByteArray> Lines() {
    if (std::exchange(pendingCr_, false)) TakeLoneCr();
    if (length_ > kLongestLine) throw ELineTooLong(ended_ + 1);
    if (length_ > 0) EndLine();
    return lines_;
  }

 private:
  bool EndLine() {
    if (ended_ < count_) lines_.append(line_);
    line_.clear();
    length_ = 0;
    ++ended_;
    return true;
  }
  bool TakeLoneCr() {
    if (rules_.loneCrEndsLine) return EndLine();
    return Keep('\r');
  }
  // False once the line is longer than it may be: no more is read. Past the
  // held lines only blanks may stand.
  bool Keep(char c) {
    if (ended_ >= held_ && c != ' ' && c != '\t') throw ETooManyLines(held_);
    if (ended_ < count_) line_.append(c);
    return ++length_ <= kLongestLine;
  }

  const int count_;
  const int held_;
  const LineRules rules_;
  QList<QByteArray> lines_;
  QByteArray line_;   // of a wanted line
  int length_ = 0;    // of the line being read
  int ended_ = 0;     // lines ended so far
  qint64 taken_ = 0;  // bytes so far
  bool pendingCr_ = false;
};

}  // namespace

EFileError::EFileError(const QString& action, const QString& path, const QString& reason)
    : std::runtime_error(
          QStringLiteral("Cannot %1 \"%2\": %3").arg(action, path, reason).toStdString()) {}

ELineTooLong::ELineTooLong(int line)
    : EBadFileData(QStringLiteral("Line %1 is longer than %2 bytes")
                       .arg(line)
                       .arg(kLongestLine)
                       .toStdString()) {}

ETooManyLines::ETooManyLines(int held)
    : EBadFileData(
          QStringLiteral("More than the %1 lines of the file's format").arg(held).toStdString()) {}

QList<QByteArray> ReadFirstLines(QIODevice& device, int count, int held, LineRules rules) {
  LineCollector collector(count, held, rules);
  QByteArray chunk(kChunk, Qt::Uninitialized);
  for (bool more = true; more;) {
    const qint64 got = device.read(chunk.data(), chunk.size());
    more = got > 0;
    for (qint64 i = 0; more && i < got; ++i) more = collector.Take(chunk[i]);
  }
  return collector.Lines();
}

QList<QByteArray> ReadFirstLines(const QString& path, int count, int held, LineRules rules) {
  const QString action = QStringLiteral("read");
  RefuseUnlessRegular(path, action);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw EFileError(action, path, file.errorString());
  QList<QByteArray> lines = ReadFirstLines(file, count, held, rules);
  if (file.error() != QFileDevice::NoError) throw EFileError(action, path, file.errorString());
  return lines;
}

FileReplacement::FileReplacement(const QString& path, const QString& action, NamedBy namedBy)
    : path_(path), action_(action) {
  const QString why =
      comdev::OpenPendingFile(path,
                              namedBy == NamedBy::kTool ? comdev::LinkTrust::kNone
                                                        : comdev::LinkTrust::kAsProtectedSymlinks,
                              file_);
  if (!why.isEmpty()) throw EFileError(action, path, why);
}

void FileReplacement::Commit() {
  const bool inPlace = comdev::WritesInPlace(*file_);
  const QString why = comdev::CommitPendingFile(*file_, content_);
  if (why.isEmpty()) return;
  throw EFileError(action_, path_,
                   inPlace ? why + QStringLiteral("; the file was being overwritten in place, its "
                                                  "old content may be lost")
                           : why);
}
