#include "tests/support/qt_app.h"

#include "ui/boxes.h"

#include <QApplication>

QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "Tl8v05";
  static char* argv[] = {name, nullptr};
  // Never destroyed: widgets of finished tests may outlive any static order.
  static QApplication* app = [] {
    auto* created = new QApplication(argc, argv);
    SetApplicationTitle(ApplicationTitleFromPath(QStringLiteral("Tl8v05")));
    return created;
  }();
  return *app;
}
