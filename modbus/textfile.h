#pragma once
// The tool's small text files (coefficient files, tmp.dat): reading only
// their first lines, replacing a file whole or not at all, and one form for
// every failure: what was tried, on which file, and the system's reason, e.g.
//   Cannot read "tmp.dat": No such file or directory
// Widget-free: the windows call it and let the standard error report show
// the failure.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSaveFile>
#include <QString>

#include <stdexcept>

class QIODevice;

// A file operation that failed; its message is all the user is shown.
class EFileError : public std::runtime_error {
 public:
  EFileError(const QString& action, const QString& path, const QString& reason);
};

// How the lines of a file end.
struct LineRules {
  bool loneCrEndsLine;  // CR alone ends a line (CR LF and LF always do)
  bool ctrlZEndsFile;   // a Ctrl-Z byte ends the file
};

// Longer lines are cut here; the rest up to their end is skipped. The files
// hold short numbers and dates: a longer line is not one of them.
inline constexpr int kLongestLine = 1024;

// The first `count` lines of the device, without their ends; reading stops
// there. A last line without an end counts when it holds anything.
QList<QByteArray> ReadFirstLines(QIODevice& device, int count, LineRules rules);

// The same from a file, which must be a regular file: a FIFO would block the
// opening for good and a device would never end. Throws EFileError("read").
QList<QByteArray> ReadFirstLines(const QString& path, int count, LineRules rules);

// New content for a file, put in its place whole or not at all. Where the
// folder lets a new file be made beside it, the content goes there and
// replaces the file only once written and flushed completely, so a failure
// leaves the old file as it was. Where only the file itself is writable, it is
// overwritten in place, at the commit and not before; a failure then says the
// old content may be lost. Without a commit the file stays as it was.
class FileReplacement {
 public:
  // Opens what the content will go to; throws EFileError(action) when
  // neither works, or when the path names something that is not a regular
  // file.
  FileReplacement(const QString& path, const QString& action);

  void Append(const QByteArray& bytes) { content_ += bytes; }
  // Throws EFileError(action) when the content did not arrive whole.
  void Commit();

 private:
  void CommitBeside();
  void CommitInPlace();

  QString path_;
  QString action_;
  QSaveFile beside_;
  QFile inPlace_;  // open only when nothing can be made beside the file
  QByteArray content_;
};
