#pragma once
// tmp.dat: the bounds of the last complete read on opening of the bounds
// window, one line each in the order of the six bound boxes, then two more
// lines; ASCII, every line ended by CR LF, in the current directory.

#include "modbus/textfile.h"

#include <QString>

#include <array>

inline const QString kBoundsFileName = QStringLiteral("tmp.dat");
inline constexpr int kBoundsInFile = 6;
inline constexpr int kBoundsFileLines = 8;  // the six bounds and two more lines

// The new tmp.dat, taken line by line while a read runs. It replaces the old
// one only at Finish, once the read has got through; a read that stops
// before leaves the old file as it was. The tool names this file itself, in
// a folder others may write: a link under its name is refused.
class BoundsFile {
 public:
  // Throws EFileError "Cannot write ..." when the file cannot be made.
  explicit BoundsFile(const QString& path = kBoundsFileName);
  void AddLine(const QString& line);
  // Throws EFileError "Cannot write ...".
  void Finish();

 private:
  FileReplacement file_;
};

// Lines 1..6, whole and unconverted; a missing line is empty. A line ends at
// CR LF or a lone LF; lines 7 and 8 are not taken. Throws EFileError
// "Cannot read ...", also for anything that is not a regular file, and
// EBadFileData (textfile.h) for a line of the eight past kLongestLine or
// more than eight lines that hold anything.
std::array<QString, kBoundsInFile> LoadBoundsFile(const QString& path = kBoundsFileName);

// The same from the file's bytes; throws EBadFileData likewise.
std::array<QString, kBoundsInFile> ParseBoundsFile(const QByteArray& bytes);
