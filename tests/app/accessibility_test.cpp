// Every input field of every window carries an accessible name taken from its
// label, so screen readers and UI automation can find it.
#include "app/toolwindows.h"
#include "modbus/session.h"
#include "serial/veskcomsetupfrm.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "windows/koefforpotreb.h"
#include "windows/netaddrf.h"
#include "windows/paswkoefform.h"
#include "windows/tehform.h"

#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSet>

namespace {

TEST(Accessibility, EveryInputFieldIsNamedAndNamesDoNotRepeatWithinAWindow) {
  TestApp();
  ScriptedBoxes boxes;
  boxes.AnswerQuestion(BoxAnswer::No);  // no port is opened
  Session session;
  ToolWindows windows(session);
  SetPortLister([] { return std::vector<std::string>{"ttyS0", "ttyUSB0"}; });
  TVeskComSetupFrm portDialog;
  SetPortLister({});

  const std::vector<QWidget*> all{windows.KoefForPotreb(), windows.PaswKoefForm(), windows.TehForm(),
                                  windows.NetAddrF(), &portDialog};
  for (QWidget* window : all) {
    QSet<QString> names;
    std::vector<QWidget*> fields;
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
      if (!qobject_cast<QComboBox*>(edit->parent())) fields.push_back(edit);
    for (QComboBox* combo : window->findChildren<QComboBox*>()) fields.push_back(combo);
    ASSERT_FALSE(fields.empty()) << window->metaObject()->className();
    for (QWidget* field : fields) {
      const QString name = field->accessibleName();
      EXPECT_FALSE(name.isEmpty()) << window->metaObject()->className() << " "
                                   << field->objectName().toStdString();
      EXPECT_FALSE(names.contains(name)) << window->metaObject()->className() << " repeats "
                                         << name.toStdString();
      names.insert(name);
    }
  }
}

}  // namespace
