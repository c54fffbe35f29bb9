#pragma once
// The coefficient file (*.dat): fifteen single-byte Windows-1251 text lines,
// each ended by CR LF — the device address, the date the file was written,
// the serial number and the twelve calibration coefficients of parameters
// 1..12, all carried exactly as the window's fields hold them.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>

inline constexpr int kCoefFileLines = 15;

struct CoefFileFields {
  QString Address;
  QString Date;
  QString SerialNumber;
  std::array<QString, 12> Coefficients;  // parameters 1..12 in index order

  bool operator==(const CoefFileFields&) const = default;
};

// Windows-1251. A character the code page lacks is written as "?": the
// platform's converter would write Ctrl-Z for it, which ends the file when it
// is read back.
QByteArray ToWindows1251(const QString& text);
QString FromWindows1251(const QByteArray& bytes);

// The file's date line: "dd/mm/yyyy(hh:mm:ss)", 24-hour clock.
QString CoefFileDateText(const QDateTime& local);

QByteArray CoefFileBytes(const CoefFileFields& fields);

// Lines end at CR LF, a lone LF or a lone CR; a Ctrl-Z byte ends the file.
// Lines are taken by position only: missing ones give empty fields. One of
// the fifteen longer than kLongestLine, or a sixteenth line that holds
// anything (a line end too many would move the values), is bad data, never
// taken: it throws EBadFileData (textfile.h).
CoefFileFields ParseCoefFile(const QByteArray& bytes);

// Replaces the file whole or not at all (FileReplacement, textfile.h); the
// user names it, so it may be a link where the file guard follows one
// (comdev::LinkTrust::kAsProtectedSymlinks).
// Throws EFileError "Cannot save ...".
void SaveCoefFile(const QString& path, const CoefFileFields& fields);

// Reads only the file's first fifteen lines; refuses anything that is not a
// regular file. Throws EFileError "Cannot read ..." or EBadFileData.
CoefFileFields LoadCoefFile(const QString& path);
