#pragma once
// The password gate's rule, without its dialog: the code words and which one
// a request asks for. The dialog and the command line judge a typed word the
// same way.

#include <QString>

// PasswordMode 1 asks for the unlock word, anything else for the write word.
inline const QString kUnlockPassword = QStringLiteral("Rumel");
inline const QString kWritePassword = QStringLiteral("Pelmar");

// Whether `typed` is the word `mode` asks for: whole, case-sensitive, blanks
// included.
inline bool PasswordPasses(int mode, const QString& typed) {
  return typed == (mode == 1 ? kUnlockPassword : kWritePassword);
}
