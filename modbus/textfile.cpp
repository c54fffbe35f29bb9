#include "modbus/textfile.h"

#include <QFileInfo>
#include <QIODevice>

#include <utility>

namespace {

constexpr char kCtrlZ = 0x1A;
constexpr qint64 kChunk = 64 * 1024;

void RefuseUnlessRegular(const QString& path, const QString& action) {
  const QFileInfo info(path);
  if (info.exists() && !info.isFile())
    throw EFileError(action, path, QStringLiteral("Not a regular file"));
}

// Splits bytes into lines as they arrive and says when it has had enough.
class LineCollector {
 public:
  LineCollector(int count, LineRules rules) : count_(count), rules_(rules) {}

  // False once the wanted lines are complete or the file has ended.
  bool Take(char c) {
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
    Keep(c);
    return true;
  }

  // The lines, once the bytes have run out or Take has had enough.
  QList<QByteArray> Lines() {
    if (std::exchange(pendingCr_, false)) TakeLoneCr();
    if (!line_.isEmpty() && lines_.size() < count_) lines_.append(line_);
    return lines_;
  }

 private:
  bool EndLine() {
    lines_.append(std::exchange(line_, {}));
    return lines_.size() < count_;
  }
  bool TakeLoneCr() {
    if (rules_.loneCrEndsLine) return EndLine();
    Keep('\r');
    return true;
  }
  void Keep(char c) {
    if (line_.size() < kLongestLine) line_.append(c);
  }

  const int count_;
  const LineRules rules_;
  QList<QByteArray> lines_;
  QByteArray line_;
  bool pendingCr_ = false;
};

}  // namespace

EFileError::EFileError(const QString& action, const QString& path, const QString& reason)
    : std::runtime_error(
          QStringLiteral("Cannot %1 \"%2\": %3").arg(action, path, reason).toStdString()) {}

QList<QByteArray> ReadFirstLines(QIODevice& device, int count, LineRules rules) {
  LineCollector collector(count, rules);
  QByteArray chunk(kChunk, Qt::Uninitialized);
  for (bool more = count > 0; more;) {
    const qint64 got = device.read(chunk.data(), chunk.size());
    more = got > 0;
    for (qint64 i = 0; more && i < got; ++i) more = collector.Take(chunk[i]);
  }
  return collector.Lines();
}

QList<QByteArray> ReadFirstLines(const QString& path, int count, LineRules rules) {
  const QString action = QStringLiteral("read");
  RefuseUnlessRegular(path, action);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw EFileError(action, path, file.errorString());
  QList<QByteArray> lines = ReadFirstLines(file, count, rules);
  if (file.error() != QFileDevice::NoError) throw EFileError(action, path, file.errorString());
  return lines;
}

FileReplacement::FileReplacement(const QString& path, const QString& action)
    : path_(path), action_(action), beside_(path), inPlace_(path) {
  RefuseUnlessRegular(path, action);
  if (beside_.open(QIODevice::WriteOnly)) return;
  // The folder takes no new file, yet the file itself may be writable. Read
  // and write, because write-only would empty it now: nothing of it changes
  // before the commit.
  if (inPlace_.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) return;
  // The reason that concerns what the user can change: the file when there
  // is one, otherwise its folder.
  throw EFileError(action, path,
                   QFile::exists(path) ? inPlace_.errorString() : beside_.errorString());
}

void FileReplacement::Commit() {
  if (inPlace_.isOpen())
    CommitInPlace();
  else
    CommitBeside();
}

void FileReplacement::CommitBeside() {
  // The commit itself can report success after its buffered write failed (a
  // full disk) and put a short copy in the file's place: the write and the
  // flush are checked first. An uncommitted copy is removed with beside_.
  if (beside_.write(content_) != content_.size() || !beside_.flush() || !beside_.commit())
    throw EFileError(action_, path_, beside_.errorString());
}

void FileReplacement::CommitInPlace() {
  // Written over the old content, then cut to length: content no longer than
  // the old needs no new room on the disk.
  const bool whole = inPlace_.write(content_) == content_.size() && inPlace_.flush() &&
                     inPlace_.resize(content_.size());
  inPlace_.close();
  if (!whole || inPlace_.error() != QFileDevice::NoError)
    throw EFileError(action_, path_,
                     inPlace_.errorString() +
                         QStringLiteral("; the file was being overwritten in place, its old "
                                        "content may be lost"));
}
