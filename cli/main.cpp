// tl8ctl: the service tool's functions from the command line, on the same
// session and exchange core as its windows, without widgets or a display.
// Everything the command needs is checked before the port opens; then the
// one command runs and the port closes with the session. The writes are
// recorded in the change records the windows keep too.

#include "cli/options.h"
#include "cli/report.h"
#include "cli/run.h"
#include "cli/standard_console.h"
#include "cli/system_ports.h"
#include "modbus/history.h"
#include "modbus/session.h"
#include "os/platform.h"
#include "serial/comport.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>

#include <memory>

namespace {

// Ctrl-C and termination requests signal the session's stop event at once:
// the frame in flight ends, no other goes out, and the command ends with
// EStopRequested; the opening of a network port ends too. The sessions of
// --all-ports' ports share the event. For the lifetime of this object.
class ConsoleStop {
 public:
  ConsoleStop(Session& session, TComPort& port) : session_(session), port_(port) {
    RegisterConsoleHandler(&event_, [] {});
    session_.SetStopEvent(&event_);
    port_.SetStopEvent(&event_);
  }
  ~ConsoleStop() {
    UnregisterConsoleHandler(&event_);
    session_.SetStopEvent(nullptr);
    port_.SetStopEvent(nullptr);
  }
  ConsoleStop(const ConsoleStop&) = delete;
  ConsoleStop& operator=(const ConsoleStop&) = delete;

 private:
  Session& session_;
  TComPort& port_;
  TComStopEvent event_;
};

// The arguments as the system passed them.
Arguments ReadArguments([[maybe_unused]] int argc, [[maybe_unused]] char* argv[]) {
  Arguments arguments;
#ifdef Q_OS_WIN
  // Windows passes the arguments as UTF-16: nothing is lost.
  arguments.texts = QCoreApplication::arguments().mid(1);
#else
  for (int i = 1; i < argc; ++i) {
    const QByteArray bytes(argv[i]);
    const QString text = QFile::decodeName(bytes);
    if (QFile::encodeName(text) != bytes) arguments.mangled.emplace_back(text, bytes);
    arguments.texts << text;
  }
#endif
  return arguments;
}

// Whether the command draws a page (report), which takes Qt's GUI platform
// for its fonts; every other runs on Qt Core alone, display or none. The
// command's name is ASCII, so the bytes as they stand tell.
bool DrawsPage(int argc, char* argv[]) {
  QStringList words;
  for (int i = 1; i < argc; ++i) words << QString::fromLocal8Bit(argv[i]);
  try {
    const Invocation invocation = ParseArguments(words);
    return invocation.command == Command::Report && !invocation.help;
  } catch (const EUsage&) {
    return false;
  }
}

// The application the command needs; the exchange's waits handle its events.
// The page is drawn off screen where there is no display to draw on.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char* argv[]) {
  if (!DrawsPage(argc, argv)) return std::make_unique<QCoreApplication>(argc, argv);
#ifndef Q_OS_WIN
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before anything opens a port or a file.
  GuardStandardStreams();
  const std::unique_ptr<QCoreApplication> application = MakeApplication(argc, argv);
  const Arguments args = ReadArguments(argc, argv);
  StandardConsole console;
  TComPort port;
  Session session(port);
  ChangeHistory history(DefaultHistoryFolder());
  session.RecordChangesIn(&history);
  const ConsoleStop stop(session, port);
  return RunTl8ctl(args, console, session, SystemPortAccess(port, session.StopEvent()));
}
