#pragma once
// A whole tl8ctl run as a library: the command line parsed, every input of
// the command checked, the line opened, the command run on the session, the
// outcome told and turned into the exit code. The program gives it the
// system's ports and the process's streams; the tests their own list,
// simulated lines and strings.

#include "cli/commands.h"

#include <QString>
#include <QStringList>

#include <QByteArray>

#include <utility>
#include <vector>

class Console;
class Session;

enum ExitCode { kSuccess = 0, kAdapterFailed = 1, kBadInput = 2, kStopped = 130 };

// The command line's arguments, without the program's name, as texts; and
// those of them whose texts do not give back the bytes the system passed (a
// name in another encoding, such as Windows-1251): opening such a text would
// open another file.
struct Arguments {
  QStringList texts;
  std::vector<std::pair<QString, QByteArray>> mangled;  // text, bytes
};

// `ports` opens the line `session` talks through, only once the inputs are
// checked, and lists the system's ports (see PortAccess).
int RunTl8ctl(const Arguments& args, Console& console, Session& session, const PortAccess& ports);
// The same for arguments that are texts already (the tests').
int RunTl8ctl(const QStringList& args, Console& console, Session& session, const PortAccess& ports);
