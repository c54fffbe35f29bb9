// Windows side of the file guard: the new content goes into a file of its own
// beside the file, under a short name (the file's name may already be as long
// as a name may be), and is moved into place once written and flushed. A
// file the tool names itself is refused when its name is a reparse point (a
// symbolic link or a junction), before the new file is made and again after,
// so that one made in between is seen too. A file the user names is followed
// wherever it leads, as the folders on the way are.

#include "os/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

namespace comdev {

struct PendingFile {
  QString path;                          // the file the content replaces
  QString temp;                          // the new file beside it, until it is in place
  HANDLE beside = INVALID_HANDLE_VALUE;  // open while the new file is written
  QFile inPlace;                         // open only when nothing can be made beside the file
};

namespace {

const QString kNotRegularText = QStringLiteral("Not a regular file");
const QString kReparsePointText = QStringLiteral("Is a reparse point (a link)");
const QString kNotFolderText = QStringLiteral("Not a directory");

constexpr int kMostLinks = 40;
constexpr int kNameTries = 100;

QString SystemText(DWORD error) { return qt_error_string(static_cast<int>(error)); }

// The name for the wide-character calls, with the prefix that lifts the
// limit of 260 characters on a whole path: a name near the longest a part
// may have (255) gives a longer path.
std::wstring NativeName(const QString& path) {
  QString absolute = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
  if (absolute.startsWith(QLatin1String("\\\\?\\")) ||
      absolute.startsWith(QLatin1String("\\\\.\\")))
    return absolute.toStdWString();
  if (absolute.startsWith(QLatin1String("\\\\")))
    return (QLatin1String("\\\\?\\UNC\\") + absolute.mid(2)).toStdWString();
  return (QLatin1String("\\\\?\\") + absolute).toStdWString();
}

bool IsReparsePoint(const QString& path) {
  const DWORD attributes = ::GetFileAttributesW(NativeName(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The file a symbolic link leads to, links to links included; the name as it
// stands when it is none (or leads round in a circle).
QString LinkedFile(const QString& path) {
  QFileInfo info(path);
  for (int links = 0; info.isSymLink() && links < kMostLinks; ++links)
    info.setFile(info.symLinkTarget());
  return info.isSymLink() ? path : info.filePath();
}

QString FreshNameBeside(const QString& path) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  QString fresh = QFileInfo(path).path() + QLatin1String("/.tl8-");
  for (int i = 0; i < 8; ++i)
    fresh += QLatin1Char(
        kLetters[QRandomGenerator::system()->bounded(static_cast<int>(sizeof kLetters - 1))]);
  return fresh;
}

// A new file beside the file; CREATE_NEW never opens what is there already.
// 0 or the system's error.
DWORD MakeBeside(PendingFile& pending) {
  for (int i = 0; i < kNameTries; ++i) {
    const QString fresh = FreshNameBeside(pending.path);
    pending.beside = ::CreateFileW(NativeName(fresh).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (pending.beside != INVALID_HANDLE_VALUE) {
      pending.temp = fresh;
      return 0;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
  }
  return ERROR_FILE_EXISTS;
}

// Drops the new file, if any.
void RemoveNewFile(PendingFile& pending) {
  if (pending.beside != INVALID_HANDLE_VALUE) ::CloseHandle(pending.beside);
  pending.beside = INVALID_HANDLE_VALUE;
  if (!pending.temp.isEmpty()) ::DeleteFileW(NativeName(pending.temp).c_str());
  pending.temp.clear();
}

DWORD WriteAll(HANDLE file, const QByteArray& content) {
  for (qsizetype done = 0; done < content.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<qsizetype>(content.size() - done, 1 << 30));
    DWORD wrote = 0;
    if (!::WriteFile(file, content.constData() + done, chunk, &wrote, nullptr))
      return ::GetLastError();
    if (wrote == 0) return ERROR_WRITE_FAULT;  // no progress and no reason: never wait for one
    done += wrote;
  }
  return 0;
}

QString CommitBeside(PendingFile& pending, const QByteArray& content) {
  DWORD error = WriteAll(pending.beside, content);
  if (!error && !::FlushFileBuffers(pending.beside)) error = ::GetLastError();
  if (!error && !::CloseHandle(std::exchange(pending.beside, INVALID_HANDLE_VALUE)))
    error = ::GetLastError();
  if (!error && !::MoveFileExW(NativeName(pending.temp).c_str(), NativeName(pending.path).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = ::GetLastError();
  if (error) return SystemText(error);
  pending.temp.clear();  // it is the file now
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

void PendingFileCloser::operator()(PendingFile* file) const {
  RemoveNewFile(*file);
  delete file;
}

QString OpenPendingFile(const QString& path, LinkTrust trust, PendingFilePtr& file) {
  const auto refused = [&] { return trust == LinkTrust::kNone && IsReparsePoint(path); };
  if (refused()) return kReparsePointText;
  PendingFilePtr pending(new PendingFile);
  pending->path = trust == LinkTrust::kNone ? path : LinkedFile(path);
  const QFileInfo info(pending->path);
  if (info.exists() && !info.isFile()) return kNotRegularText;
  pending->inPlace.setFileName(pending->path);
  // The folder may take no new file, yet the file itself may be writable.
  // Read and write, because write-only would empty it now: nothing of it
  // changes before the commit.
  if (const DWORD besideError = MakeBeside(*pending);
      besideError && !pending->inPlace.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
    // The reason that concerns what the user can change: the file when there
    // is one, otherwise its folder.
    return info.exists() ? pending->inPlace.errorString() : SystemText(besideError);
  if (refused()) return kReparsePointText;
  file = std::move(pending);
  return {};
}

bool WritesInPlace(const PendingFile& file) { return file.inPlace.isOpen(); }

QString CommitPendingFile(PendingFile& file, const QByteArray& content) {
  return file.inPlace.isOpen() ? CommitInPlace(file.inPlace, content) : CommitBeside(file, content);
}

QString MakeFolders(const QString& path, LinkTrust trust) {
  const auto refused = [&] { return trust == LinkTrust::kNone && IsReparsePoint(path); };
  if (refused()) return kReparsePointText;
  // Each missing folder from the top down, for the system's reason where one
  // cannot be made.
  QStringList missing;
  QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
  for (; !info.exists() && !missing.contains(info.filePath()); info.setFile(info.path()))
    missing.prepend(info.filePath());
  if (info.exists() && !info.isDir()) return kNotFolderText;  // a file where a folder goes
  for (const QString& folder : missing) {
    if (::CreateDirectoryW(NativeName(folder).c_str(), nullptr)) continue;
    if (const DWORD error = ::GetLastError(); error != ERROR_ALREADY_EXISTS)
      return SystemText(error);
  }
  if (!QFileInfo(path).isDir()) return kNotFolderText;
  if (refused()) return kReparsePointText;
  return {};
}

}  // namespace comdev
