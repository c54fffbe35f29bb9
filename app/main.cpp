// The tool's entry point: sets up the application (icon, font, Qt's Russian
// texts), creates its windows in their fixed order, with the main window shown
// (and its start-up question asked) first, then runs the message loop until
// the main window closes (not at all when it closed already). The writes
// that change an adapter are recorded in the user's change records.

#include "app/application_setup.h"
#include "app/toolwindows.h"
#include "modbus/history.h"
#include "modbus/session.h"
#include "os/platform.h"
#include "serial/comport.h"
#include "ui/boxes.h"
#include "windows/qtboxes.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  GuardStandardStreams();  // before anything opens a port or a file
  QApplication application(argc, argv);
  PrepareApplication(application);
  SetApplicationTitle(ApplicationTitleFromPath(QString::fromLocal8Bit(argv[0])));
  QtBoxes qtBoxes;
  SetBoxes(&qtBoxes);
  const StartOptions options = ParseStartOptions(QCoreApplication::arguments().mid(1));
  int result = 0;
  if (const std::optional<int> ended = EndBeforeStart(options)) {
    result = *ended;
  } else {
    TComPort port;  // the tool's one port, owned by the main window's side
    Session session(port);
    // The writes' change records, where tl8ctl keeps them too.
    ChangeHistory history(DefaultHistoryFolder());
    session.RecordChangesIn(&history);
    session.SetPortName([&port] { return QString::fromStdString(port.Port()); });
    ToolWindows windows(session, port, options.port);
    result = windows.Run();
  }
  SetBoxes(nullptr);
  return result;
}
