// Every input field of every window carries an accessible name taken from its
// label, so screen readers and UI automation can find it.
#include "app/tl8form.h"
#include "app/toolwindows.h"
#include "modbus/session.h"
#include "portdialog/veskcomsetupfrm.h"
#include "serial/comport.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "windows/koefforpotreb.h"
#include "windows/netaddrf.h"
#include "windows/paswkoefform.h"
#include "windows/tehform.h"

#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>

namespace {

TEST(Accessibility, EveryInputFieldIsNamedAndNamesDoNotRepeatWithinAWindow) {
  TestApp();
  ScriptedBoxes boxes;
  boxes.AnswerQuestion(BoxAnswer::No);  // no port is opened
  TComPort port;
  Session session{port};
  ToolWindows windows(session, port);
  SetPortLister([] { return std::vector<ComPortInfo>{{"ttyS0"}, {"ttyUSB0"}}; });
  TVeskComSetupFrm portDialog;
  SetPortLister({});

  const std::vector<QWidget*> all{windows.KoefForPotreb(), windows.PaswKoefForm(),
                                  windows.TehForm(), windows.NetAddrF(), &portDialog};
  for (QWidget* window : all) {
    QSet<QString> names;
    std::vector<QWidget*> fields;
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
      if (!qobject_cast<QComboBox*>(edit->parent())) fields.push_back(edit);
    for (QComboBox* combo : window->findChildren<QComboBox*>()) fields.push_back(combo);
    ASSERT_FALSE(fields.empty()) << window->metaObject()->className();
    for (QWidget* field : fields) {
      const QString name = field->accessibleName();
      EXPECT_FALSE(name.isEmpty())
          << window->metaObject()->className() << " " << field->objectName().toStdString();
      EXPECT_FALSE(names.contains(name))
          << window->metaObject()->className() << " repeats " << name.toStdString();
      names.insert(name);
    }
  }
}

// UI automation finds a window and its controls by the names the code uses.
TEST(ObjectNames, WindowsAndControlsAreNamedAfterTheirMembers) {
  TestApp();
  ScriptedBoxes boxes;
  boxes.AnswerQuestion(BoxAnswer::No);
  TComPort port;
  Session session{port};
  ToolWindows windows(session, port);
  const struct {
    QObject* window;
    const char* name;
    const char* child;
    QObject* member;
  } cases[] = {
      {windows.Tl8Form(), "Tl8Form", "N4", windows.Tl8Form()->N4},
      {windows.KoefForPotreb(), "KoefForPotreb", "Canal2_20", windows.KoefForPotreb()->Canal2_20},
      {windows.PaswKoefForm(), "PaswKoefForm", "PaswKoefEdit",
       windows.PaswKoefForm()->PaswKoefEdit},
      {windows.TehForm(), "TehForm", "Edit34", windows.TehForm()->Edit34},
      {windows.NetAddrF(), "NetAddrF", "BtWritA", windows.NetAddrF()->BtWritA},
      {windows.VeskComSetupFrm(), "VeskComSetupFrm", "StopBitsCombo",
       windows.VeskComSetupFrm()->StopBitsCombo},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.window, nullptr) << c.name;
    EXPECT_EQ(c.window->objectName(), QString::fromLatin1(c.name));
    EXPECT_EQ(c.window->findChild<QObject*>(QString::fromLatin1(c.child)), c.member) << c.child;
  }
}

}  // namespace
