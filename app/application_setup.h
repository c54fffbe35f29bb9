#pragma once
// What the tool sets up in its application before any window: the icon every
// window shows, a font that shows Russian letters whole, and Qt's own texts in
// Russian (file dialogs and their buttons, the edit boxes' context menus), as
// all of the tool's own texts are.

#include <QString>

class QApplication;

// The resource path of the tool's icon (the Linux desktop entry's).
inline const QString kToolIconPath = QStringLiteral(":/tl8v05.png");

// Sets the icon and the font, and installs Qt's Russian translation. Returns
// false when the translation was found nowhere: Qt's texts then stay English.
bool PrepareApplication(QApplication& application);
