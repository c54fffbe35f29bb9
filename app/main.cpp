// The tool's entry point: sets up the application (icon, Qt's Russian texts),
// creates its windows in their fixed order, with the main window shown (and
// its start-up question asked) first, then runs the message loop until the
// main window closes.

#include "app/application_setup.h"
#include "app/toolwindows.h"
#include "modbus/session.h"
#include "ui/boxes.h"
#include "windows/qtboxes.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  PrepareApplication(application);
  SetApplicationTitle(ApplicationTitleFromPath(QString::fromLocal8Bit(argv[0])));
  QtBoxes qtBoxes;
  SetBoxes(&qtBoxes);
  int result = 0;
  {
    Session session;
    ToolWindows windows(session);
    result = QApplication::exec();
  }
  SetBoxes(nullptr);
  return result;
}
