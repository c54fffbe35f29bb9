#pragma once
// The password gate's rule, without its dialog: the code words and which one
// a request asks for. The dialog and the command line judge a typed word the
// same way.

#include <QString>

// What a password prompt asks for (the historical PasswordMode values): the
// unlock word guards the calibration window and the bounds write, the write
// word the calibration write.
enum class PasswordRequest { Write = 0, Unlock = 1 };

inline const QString kUnlockPassword = QStringLiteral("Rumel");
inline const QString kWritePassword = QStringLiteral("Pelmar");

// Whether `typed` is the word `request` asks for: whole, case-sensitive,
// blanks included.
inline bool PasswordPasses(PasswordRequest request, const QString& typed) {
  return typed == (request == PasswordRequest::Unlock ? kUnlockPassword : kWritePassword);
}
