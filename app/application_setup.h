#pragma once
// What the tool sets up in its application before any window: the icon every
// window shows, a font that shows Russian letters whole, and Qt's own texts in
// Russian (file dialogs and their buttons, the edit boxes' context menus), as
// all of the tool's own texts are.

#include <QString>
#include <QStringList>

#include <optional>

class QApplication;

// The resource path of the tool's icon (the Linux desktop entry's).
inline const QString kToolIconPath = QStringLiteral(":/tl8v05.png");

// Sets the icon and the font, and installs Qt's Russian translation. Returns
// false when the translation was found nowhere: Qt's texts then stay English.
bool PrepareApplication(QApplication& application);

// What the tool's command line asks for. Qt's own options (-platform, -style
// and the like) are not in it: QApplication takes them out first.
struct StartOptions {
  QString port;       // the port the start-up opens: --port NAME's, else COM1
  bool help = false;  // --help: the usage is printed and the tool ends
  QString error;      // what is wrong with the command line, in the tool's words
};

// The usage --help prints.
extern const QString kStartUsage;

// Reads the arguments after the program's name. --port NAME (or
// --port=NAME) takes any name the port dialog takes, network names included,
// and as the dialog does: a line as its list shows it is the bare name, and a
// malformed network name is refused with the dialog's words.
StartOptions ParseStartOptions(const QStringList& arguments);

// The tool's exit code when it ends before its windows: 0 after --help
// (printed on stdout), 2 after a box that says what is wrong; nothing when
// it is to start.
std::optional<int> EndBeforeStart(const StartOptions& options);
