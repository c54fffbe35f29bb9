// Windows side of the file guard: Qt's QSaveFile writes a copy beside the
// file and moves it into place; a file the tool names itself is refused when
// its name is a reparse point (a symbolic link or a junction), before the
// copy is opened and again after, so that one made in between is seen too.
// A file the user names is followed wherever it leads.

#include "os/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <windows.h>

namespace comdev {

struct PendingFile {
  explicit PendingFile(const QString& path) : beside(path), inPlace(path) {}

  QSaveFile beside;  // an uncommitted copy is removed with it
  QFile inPlace;     // open only when nothing can be made beside the file
};

void PendingFileCloser::operator()(PendingFile* file) const { delete file; }

namespace {

const QString kNotRegularText = QStringLiteral("Not a regular file");
const QString kReparsePointText = QStringLiteral("Is a reparse point (a link)");

bool IsReparsePoint(const QString& path) {
  const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

QString CommitBeside(QSaveFile& beside, const QByteArray& content) {
  // The commit itself can report success after its buffered write failed (a
  // full disk) and put a short copy in the file's place: the write and the
  // flush are checked first.
  if (beside.write(content) != content.size() || !beside.flush() || !beside.commit())
    return beside.errorString();
  return {};
}

QString CommitInPlace(QFile& file, const QByteArray& content) {
  // Written over the old content, then cut to length: content no longer than
  // the old needs no new room on the disk.
  const bool whole =
      file.write(content) == content.size() && file.flush() && file.resize(content.size());
  file.close();
  return whole && file.error() == QFileDevice::NoError ? QString() : file.errorString();
}

}  // namespace

QString OpenPendingFile(const QString& path, LinkTrust trust, PendingFilePtr& file) {
  const auto refused = [&] { return trust == LinkTrust::kNone && IsReparsePoint(path); };
  if (refused()) return kReparsePointText;
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) return kNotRegularText;
  PendingFilePtr pending(new PendingFile(path));
  // The folder may take no new file, yet the file itself may be writable.
  // Read and write, because write-only would empty it now: nothing of it
  // changes before the commit.
  if (!pending->beside.open(QIODevice::WriteOnly) &&
      !pending->inPlace.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
    // The reason that concerns what the user can change: the file when there
    // is one, otherwise its folder.
    return QFile::exists(path) ? pending->inPlace.errorString() : pending->beside.errorString();
  if (refused()) return kReparsePointText;
  file = std::move(pending);
  return {};
}

bool WritesInPlace(const PendingFile& file) { return file.inPlace.isOpen(); }

QString CommitPendingFile(PendingFile& file, const QByteArray& content) {
  return file.inPlace.isOpen() ? CommitInPlace(file.inPlace, content)
                               : CommitBeside(file.beside, content);
}

}  // namespace comdev
