#pragma once
// The tool's small text files (coefficient files, tmp.dat): reading only
// their first lines, replacing a file whole or not at all, never through a
// link planted by another user, and one form for every failure: what was
// tried, on which file, and the system's reason, e.g.
//   Cannot read "tmp.dat": No such file or directory
// Widget-free: the windows call it and let the standard error report show
// the failure.

#include "os/platform.h"

#include <QByteArray>
#include <QList>
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

// The files hold short numbers and dates: a longer line is not one of them.
inline constexpr int kLongestLine = 1024;

// A file that cannot be what its format holds: the front ends show it as
// their "check the data", never as values taken from it.
class EBadFileData : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A line longer than kLongestLine among those read: never cut to a value it
// does not hold.
class ELineTooLong : public EBadFileData {
 public:
  explicit ELineTooLong(int line);
};

// More lines than the format holds: a line end too many (a stray CR, say)
// would move every value after it one place on, the last one lost.
class ETooManyLines : public EBadFileData {
 public:
  explicit ETooManyLines(int held);
};

// The most bytes a file of `held` lines may be: each line as long as it may
// be with its CR LF, and as much again of blank lines after them.
qint64 MostBytes(int held);

// The first `count` lines of the device, without their ends, of a format that
// holds `held` lines (at least `count`). Lines up to the held ones longer than
// kLongestLine throw ELineTooLong; after them only blank lines (spaces, tabs)
// may follow, and a file longer than MostBytes(held) is no such file: both
// throw ETooManyLines. Reading stops at the first fault, so a file of any
// size costs a few kilobytes at most. A last line without an end counts when
// it holds anything.
QList<QByteArray> ReadFirstLines(QIODevice& device, int count, int held, LineRules rules);

// The same from a file, which must be a regular file: a FIFO would block the
// opening for good and a device would never end. Throws EFileError("read")
// or EBadFileData.
QList<QByteArray> ReadFirstLines(const QString& path, int count, int held, LineRules rules);

// Who named a file the tool writes, and so which symbolic links (on Windows
// reparse points) its name may be: see comdev::LinkTrust.
enum class NamedBy {
  kUser,  // a link only where the kernel would follow it in a shared folder, and
          // never another user's to what root or the running user owns
  kTool,  // no link at all
};

// New content for a file, put in its place whole or not at all. Where the
// folder lets a new file be made beside it, the content goes there and
// replaces the file only once written and flushed completely, so a failure
// leaves the old file as it was. Where only the file itself is writable, it is
// overwritten in place, at the commit and not before; a failure then says the
// old content may be lost. Without a commit the file stays as it was. A link
// the name may not be (`namedBy`) is refused, and both it and what it points
// to stay as they are.
class FileReplacement {
 public:
  // Opens what the content will go to; throws EFileError(action) when
  // neither works, when the path names something that is not a regular file,
  // or when it is a link it may not be.
  FileReplacement(const QString& path, const QString& action, NamedBy namedBy = NamedBy::kUser);

  void Append(const QByteArray& bytes) { content_ += bytes; }
  // Throws EFileError(action) when the content did not arrive whole.
  void Commit();

 private:
  QString path_;
  QString action_;
  comdev::PendingFilePtr file_;
  QByteArray content_;
};
