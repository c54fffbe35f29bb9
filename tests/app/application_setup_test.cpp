// The application as the tool sets it up: its windows show its icon, Qt's
// own texts (file dialogs, the edit boxes' context menus) are Russian, and
// the tool's message boxes still read "&Yes", "&No" and "OK". Qt's Russian
// translation comes from the system (Linux: qt6-translations-l10n) or from
// translations/ beside the test program (scripts/windows.sh puts it there, as
// in the zip).

#include "app/application_setup.h"
#include "app/tl8form.h"
#include "app/toolwindows.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "windows/qtboxes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

class ApplicationSetup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { translated = PrepareApplication(TestApp()); }

  static bool translated;
};

bool ApplicationSetup::translated = false;

TEST_F(ApplicationSetup, EveryWindowShowsTheToolsIcon) {
  const QIcon icon = QApplication::windowIcon();
  ASSERT_FALSE(icon.isNull()) << kToolIconPath.toStdString();
  EXPECT_TRUE(icon.availableSizes().contains(QSize(48, 48)));
  ScriptedBoxes boxes;
  boxes.AnswerQuestion(BoxAnswer::No);
  TComPort port;
  Session session(port);
  ToolWindows windows(session, port);
  EXPECT_EQ(windows.Tl8Form()->windowIcon().cacheKey(), icon.cacheKey());
}

TEST_F(ApplicationSetup, QtsOwnDialogsAndMenusSpeakRussian) {
  ASSERT_TRUE(translated) << "qtbase_ru.qm was found nowhere";
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);  // Qt's own, to look into
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Сохранить как"));
  const auto* name = dialog.findChild<QLabel*>(QStringLiteral("fileNameLabel"));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->text(), QStringLiteral("&Имя файла:"));
  const auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  ASSERT_NE(buttons, nullptr);
  std::vector<QString> captions;
  for (QAbstractButton* button : buttons->buttons()) captions.push_back(button->text());
  std::sort(captions.begin(), captions.end());
  EXPECT_EQ(captions,
            (std::vector<QString>{QStringLiteral("&Сохранить"), QStringLiteral("Отмена")}));

  QLineEdit edit;
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  std::vector<QString> items;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) items.push_back(action->text().section('\t', 0, 0));
  EXPECT_NE(std::find(items.begin(), items.end(), QStringLiteral("&Отменить действие")),
            items.end());
  EXPECT_NE(std::find(items.begin(), items.end(), QStringLiteral("Выделить всё")), items.end());
}

// The captions of the open message box's buttons, read by a timer (the box is
// modal meanwhile), which then presses `press`.
std::vector<QString> ButtonsOf(const std::function<void()>& show,
                               QMessageBox::StandardButton press) {
  std::vector<QString> captions;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    for (QAbstractButton* button : box->buttons()) captions.push_back(button->text());
    box->button(press)->click();
  });
  show();
  std::sort(captions.begin(), captions.end());
  return captions;
}

TEST_F(ApplicationSetup, TheToolsBoxesKeepTheirButtonCaptions) {
  ASSERT_TRUE(translated) << "qtbase_ru.qm was found nowhere";
  ASSERT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Да"));
  QtBoxes qtBoxes;
  Boxes& qt = qtBoxes;
  BoxAnswer answer = BoxAnswer::Closed;
  EXPECT_EQ(
      ButtonsOf([&] { answer = qt.Question(QStringLiteral("Продолжим ?")); }, QMessageBox::Yes),
      (std::vector<QString>{QStringLiteral("&No"), QStringLiteral("&Yes")}));
  EXPECT_EQ(answer, BoxAnswer::Yes);
  EXPECT_EQ(
      ButtonsOf([&] { qt.Message(QStringLiteral("Пароль введен неверно")); }, QMessageBox::Ok),
      std::vector<QString>{QStringLiteral("OK")});
}

// Tl8v05's command line (what is left of it once QApplication has taken its
// own options): --port takes a name as the port dialog does, and a name the
// dialog would refuse stops the tool before its windows.
TEST(StartOptions, PortNameAndHelpFromTheCommandLine) {
  const QString usage = QStringLiteral("\rЗапуск: Tl8v05 [--port ИМЯ]");
  const struct {
    QStringList arguments;
    QString port;
    bool help;
    QString error;
  } cases[] = {
      {{}, "COM1", false, ""},
      {{"--port", "ttyUSB0"}, "ttyUSB0", false, ""},
      {{"--port=/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0"},
       "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0",
       false,
       ""},
      {{"--port", "  COM3 (занят) — USB Serial Port  "}, "COM3", false, ""},
      {{"--port", "ttyS1 (консоль)"}, "ttyS1", false, ""},
      {{"--port", "tcp://192.168.1.20:4001"}, "tcp://192.168.1.20:4001", false, ""},
      {{"--port=rfc2217://[fe80::1]:4002"}, "rfc2217://[fe80::1]:4002", false, ""},
      {{"--help"}, "COM1", true, ""},
      {{"--port", "COM2", "-h"}, "COM2", true, ""},
      {{"--port", "tcp://10.0.0.7:0"},
       "",
       false,
       "Неверное имя сетевого порта tcp://10.0.0.7:0:\rпорт 0 вне диапазона 1..65535." + usage},
      {{"--port"}, "", false, "После --port нужно имя порта." + usage},
      {{"--port="}, "", false, "После --port нужно имя порта." + usage},
      {{"--prot", "COM2"}, "", false, "Неизвестный параметр «--prot»." + usage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    const StartOptions options = ParseStartOptions(c.arguments);
    EXPECT_EQ(options.error, c.error);
    if (c.error.isEmpty()) {
      EXPECT_EQ(options.port, c.port);
    }
    EXPECT_EQ(options.help, c.help);
  }
}

// A wrong command line is said in a box and ends the tool with code 2;
// --help prints the usage and ends it with 0; otherwise the tool starts.
TEST(StartOptions, WhatEndsTheToolBeforeItsWindows) {
  TestApp();
  ScriptedBoxes boxes;
  const StartOptions wrong = ParseStartOptions({QStringLiteral("--prot")});
  EXPECT_EQ(EndBeforeStart(wrong), 2);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].kind, ShownBox::Message);
  EXPECT_EQ(boxes.Shown()[0].text, wrong.error);
  EXPECT_EQ(boxes.Shown()[0].icon, BoxIcon::Error);
  EXPECT_EQ(boxes.Shown()[0].caption, QStringLiteral("Tl8v05"));

  testing::internal::CaptureStdout();
  const std::optional<int> afterHelp =
      EndBeforeStart(ParseStartOptions({QStringLiteral("--help")}));
  const QString printed = QString::fromUtf8(testing::internal::GetCapturedStdout().c_str());
  EXPECT_EQ(afterHelp, 0);
  EXPECT_EQ(printed, kStartUsage);

  EXPECT_EQ(EndBeforeStart(ParseStartOptions({QStringLiteral("--port"), QStringLiteral("COM2")})),
            std::nullopt);
  EXPECT_EQ(boxes.Shown().size(), 1u);
}

}  // namespace
