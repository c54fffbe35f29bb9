// The port-settings dialog run as "Настройка порта" runs it: the user acts in
// the (offscreen) dialog through the scripted boxes, the ports are
// pseudo-terminals, and the saved settings are read back from the store.

#include "os/platform_unix.h"
#include "portdialog/veskcomsetupfrm.h"
#include "serial/ports_unix.h"
#include "tests/support/pty_pair.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include <unistd.h>

// Readable failure output for Qt texts and points.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QPoint& point, std::ostream* out) {
  *out << "(" << point.x() << ", " << point.y() << ")";
}

namespace {

namespace fs = std::filesystem;

using User = std::function<void(TVeskComSetupFrm&)>;

void PressKey(QWidget& target, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(&target, &press);
}

void Pick(TVeskComSetupFrm& dialog, const std::string& port) {
  const int index = dialog.Combo1->findText(QString::fromStdString(port));
  ASSERT_GE(index, 0) << port;
  dialog.Combo1->setCurrentIndex(index);
}

void ClickOk(TVeskComSetupFrm& dialog) { dialog.Button1->click(); }

// Whether some other holder can open the device now.
bool Free(const std::string& path) {
  TComPort probe("Probe");
  probe.SetPort(path);
  try {
    probe.OpenPort();
  } catch (const EComPort&) {
    return false;
  }
  return true;
}

class PortDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    const char* base = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(base, nullptr);
    configDir = fs::path(base) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(configDir);
    fs::create_directories(configDir);
    setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);

    listed = {{lineA.SlavePath()}, {lineB.SlavePath()}};
    SetPortLister([this] { return listed; });
    // The tool's port: DTR and RTS on, no background events.
    port.FlowControl().SetControlDTR(dtrEnable);
    port.FlowControl().SetControlRTS(rtsEnable);
    port.SetEvents({});
    port.SetPort(lineA.SlavePath());
  }

  void TearDown() override {
    SetPortLister({});
    setenv("XDG_CONFIG_HOME", configDir.parent_path().c_str(), 1);
  }

  // "Настройка порта": a fresh dialog, the user's actions in it, failures to
  // the standard error report.
  void RunDialog(const User& user) {
    boxes.AnswerDialog([&](QDialog& shown) { user(static_cast<TVeskComSetupFrm&>(shown)); });
    RunHandler([&] {
      TVeskComSetupFrm dialog;
      dialog.ExecutePortSetup(port, [this] { OpenComport(); });
    });
  }

  // As the main window's: opens the port unless it is open.
  void OpenComport() {
    ++openCalls;
    port.OpenPort();
  }

  // The message boxes shown, without the dialogs.
  std::vector<ShownBox> Messages() const {
    std::vector<ShownBox> messages;
    for (const ShownBox& box : boxes.Shown())
      if (box.kind == ShownBox::Message) messages.push_back(box);
    return messages;
  }

  bool SettingsSaved() const { return fs::exists(configDir / "Kavrion" / "ZELK.conf"); }

  // The port's values in the settings file, read by the store's own reader.
  std::map<QString, QVariant> SavedValues() const {
    QFile file(QString::fromStdString((configDir / "Kavrion" / "ZELK.conf").string()));
    QSettings::SettingsMap stored;
    EXPECT_TRUE(file.open(QIODevice::ReadOnly) && comdev::ReadTypedSettings(file, stored));
    const QString group = QStringLiteral("Comport Settings/ComPort/");
    std::map<QString, QVariant> values;
    for (auto it = stored.begin(); it != stored.end(); ++it)
      if (it.key().startsWith(group)) values[it.key().mid(group.size())] = it.value();
    return values;
  }

  fs::path configDir;
  PtyPair lineA, lineB;
  std::vector<ComPortInfo> listed;
  TComPort port;
  ScriptedBoxes boxes;
  int openCalls = 0;
};

TEST_F(PortDialog, OkWithoutChangesSavesTheTwentyEightValuesAndOpensAClosedPort) {
  for (bool openBefore : {false, true}) {
    SCOPED_TRACE(openBefore ? "port open" : "port closed");
    if (openBefore) port.OpenPort();
    openCalls = 0;
    RunDialog(ClickOk);

    EXPECT_EQ(openCalls, 1);
    EXPECT_TRUE(port.Connected());
    EXPECT_FALSE(Free(lineA.SlavePath()));
    EXPECT_EQ(port.UpdateDepth(), 0);
    const QString path = QString::fromStdString(lineA.SlavePath());
    const std::map<QString, QVariant> expected{
        {"Port", path},
        {"BaudRate", "9600"},
        {"StopBits", "1"},
        {"DataBits", "8"},
        {"Parity", "None"},
        {"FlowControl", "Custom"},
        {"EventChar", "#0"},
        {"DiscardNull", "No"},
        {"Parity.Check", "No"},
        {"Parity.Replace", "No"},
        {"Parity.ReplaceChar", "#0"},
        {"Buffer.OutputSize", 1024},
        {"Buffer.InputSize", 1024},
        {"Timeouts.ReadInterval", 20},
        {"Timeouts.ReadTotalConstant", 50},
        {"Timeouts.ReadTotalMultiplier", 20},
        {"Timeouts.WriteTotalConstant", 1000},
        {"Timeouts.WriteTotalMultiplier", 100},
        {"FlowControl.ControlRTS", "Enable"},
        {"FlowControl.ControlDTR", "Enable"},
        {"FlowControl.DSRSensitivity", "No"},
        {"FlowControl.OutCTSFlow", "No"},
        {"FlowControl.OutDSRFlow", "No"},
        {"FlowControl.TxContinueOnXoff", "No"},
        {"FlowControl.XonXoffIn", "No"},
        {"FlowControl.XonXoffOut", "No"},
        {"FlowControl.XoffChar", "#19"},
        {"FlowControl.XonChar", "#17"},
    };
    ASSERT_EQ(expected.size(), 28u);
    const std::map<QString, QVariant> saved = SavedValues();
    EXPECT_EQ(saved, expected);
    // Texts stay texts and numbers stay 32-bit integers.
    for (const auto& [name, value] : expected)
      EXPECT_EQ(saved.count(name) ? saved.at(name).typeId() : -1, value.typeId())
          << name.toStdString();
    EXPECT_EQ(boxes.Texts(), std::vector<QString>{"Настройка порта"});
    boxes.Clear();
  }
}

TEST_F(PortDialog, CancelAndTheCloseBoxChangeAndSaveNothing) {
  const std::pair<const char*, User> ways[] = {
      {"Отмена", [](TVeskComSetupFrm& dialog) { dialog.Button2->click(); }},
      {"close box", [](TVeskComSetupFrm& dialog) { dialog.close(); }},
  };
  port.OpenPort();
  const int linePushes = port.AppliedCount(asLine);
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    RunDialog([&, close = close](TVeskComSetupFrm& dialog) {
      Pick(dialog, lineB.SlavePath());
      close(dialog);
      EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_EQ(port.Port(), lineA.SlavePath());
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.AppliedCount(asLine), linePushes);
    EXPECT_TRUE(port.StoredGroups() == TStoredGroups{sgLine});
    EXPECT_EQ(openCalls, 0);
    EXPECT_FALSE(SettingsSaved());
  }
}

TEST_F(PortDialog, EnterPressesOkAndEscDoesNothing) {
  RunDialog([](TVeskComSetupFrm& dialog) {
    PressKey(*dialog.Combo1, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    PressKey(*dialog.Combo1, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  });
  EXPECT_EQ(openCalls, 1);
  EXPECT_TRUE(SettingsSaved());
}

TEST_F(PortDialog, AnotherPortWhileOpenClosesTheOldOneAndAppliesTheSettingsToTheNew) {
  port.OpenPort();
  const int linePushes = port.AppliedCount(asLine);
  RunDialog([&](TVeskComSetupFrm& dialog) {
    Pick(dialog, lineB.SlavePath());
    ClickOk(dialog);
  });
  EXPECT_EQ(port.Port(), lineB.SlavePath());
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(Free(lineA.SlavePath()));
  EXPECT_FALSE(Free(lineB.SlavePath()));
  // Once, at the end of the bracket, not once per list.
  EXPECT_EQ(port.AppliedCount(asLine), linePushes + 1);
  EXPECT_EQ(port.UpdateDepth(), 0);
  EXPECT_EQ(SavedValues()["Port"], QString::fromStdString(lineB.SlavePath()));
  EXPECT_EQ(openCalls, 1);

  // The new port carries bytes.
  port.WriteBytes("\x01\x03", 2);
  EXPECT_EQ(lineB.Read(30000, 2), "\x01\x03");
}

TEST_F(PortDialog, APortThatCannotBeOpenedReportsItsErrorAndEndsTheBracket) {
  TComPort holder("Holder");
  holder.SetPort(lineB.SlavePath());
  holder.OpenPort();
  const std::string vanished = (configDir / "vanished-port").string();
  listed.push_back({vanished});
  const std::pair<std::string, int> cases[] = {
      {lineB.SlavePath(), EBUSY}, {vanished, ENOENT}};  // EBUSY: the holder's lock file

  for (const auto& [target, code] : cases) {
    SCOPED_TRACE(target);
    port.SetPort(lineA.SlavePath());
    port.OpenPort();
    boxes.Clear();
    RunDialog([&, target = target](TVeskComSetupFrm& dialog) {
      Pick(dialog, target);
      ClickOk(dialog);
    });
    ASSERT_EQ(boxes.Shown().size(), 2u);
    const ShownBox& report = boxes.Shown()[1];
    // The report adds no full stop after ")".
    EXPECT_EQ(report.text,
              QStringLiteral("Unable to open com port (win error code: %1)").arg(code));
    EXPECT_EQ(report.icon, BoxIcon::Error);
    EXPECT_EQ(report.caption, ApplicationTitle());
    EXPECT_EQ(port.Port(), target);
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(Free(lineA.SlavePath()));
    EXPECT_EQ(port.UpdateDepth(), 0);
    EXPECT_EQ(openCalls, 0);
    EXPECT_FALSE(SettingsSaved());
  }
}

TEST_F(PortDialog, SavingFailureIsReportedAndTheOpeningSkipped) {
  const fs::path plainFile = configDir / "not-a-directory";
  std::ofstream(plainFile) << "x";
  setenv("XDG_CONFIG_HOME", plainFile.c_str(), 1);
  RunDialog(ClickOk);
  setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);

  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[1].text, "Failed to store settings: Not a directory.");
  EXPECT_EQ(boxes.Shown()[1].icon, BoxIcon::Error);
  EXPECT_EQ(openCalls, 0);
  EXPECT_FALSE(port.Connected());
}

// A settings file that cannot be read is rewritten: the settings are
// stored, so nothing is reported and the port opens.
TEST_F(PortDialog, AnUnreadableSettingsFileIsRewrittenAndThePortOpened) {
  fs::create_directories(configDir / "Kavrion");
  std::ofstream(configDir / "Kavrion" / "ZELK.conf") << "not a settings line\n";
  RunDialog(ClickOk);
  EXPECT_EQ(boxes.Texts(), std::vector<QString>{"Настройка порта"});
  EXPECT_EQ(openCalls, 1);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(SavedValues().size(), 28u);
}

TEST_F(PortDialog, ShowsTheLineSettingsInRussianAndHandsBackTheirOwnTexts) {
  port.SetBaudRate(br19200);
  port.SetDataBits(dbSeven);
  port.SetStopBits(sbTwoStopBits);
  port.Parity().SetBits(prEven);
  RunDialog([&](TVeskComSetupFrm& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Настройка порта");
    EXPECT_EQ(dialog.GroupBox1->title(), "Параметры");
    EXPECT_EQ(dialog.Combo1->Text(), QString::fromStdString(lineA.SlavePath()));
    EXPECT_EQ(dialog.SpeedCombo->Text(), "19200");
    EXPECT_EQ(dialog.Combo3->Text(), "7");
    EXPECT_EQ(dialog.StopBitsCombo->Text(), "2");
    EXPECT_EQ(dialog.Combo5->Text(), "Чёт");
    EXPECT_EQ(dialog.Combo5->itemText(0), "Нет");
    EXPECT_EQ(dialog.Combo5->itemText(4), "Пробел (0)");
    EXPECT_EQ(dialog.Combo6->Text(), "Заказной");
    EXPECT_EQ(dialog.Combo6->itemText(1), "Программн.(XON/XOFF)");

    // Only the port can be chosen; the flow control is not shown at all.
    EXPECT_TRUE(dialog.Combo1->isEnabled());
    for (QWidget* shownOnly :
         {dialog.SpeedCombo, dialog.Combo3, dialog.StopBitsCombo, dialog.Combo5})
      EXPECT_FALSE(shownOnly->isEnabled()) << shownOnly->accessibleName().toStdString();
    EXPECT_FALSE(dialog.Combo6->isVisible());
    EXPECT_FALSE(dialog.Label6->isVisible());
    EXPECT_TRUE(dialog.Label5->isVisible());
    EXPECT_TRUE(dialog.Button1->isDefault());
    EXPECT_EQ(dialog.Combo1->accessibleName(), "Порт");
    EXPECT_EQ(dialog.Label1->buddy(), dialog.Combo1);

    // Tab order as listed, hidden and disabled controls included.
    std::vector<QWidget*> chain;
    const std::vector<QWidget*> controls{dialog.Combo1,        dialog.SpeedCombo, dialog.Combo3,
                                         dialog.StopBitsCombo, dialog.Combo5,     dialog.Combo6,
                                         dialog.Button1,       dialog.Button2};
    QWidget* widget = dialog.Combo1;
    do {
      if (std::find(controls.begin(), controls.end(), widget) != controls.end())
        chain.push_back(widget);
      widget = widget->nextInFocusChain();
    } while (widget != dialog.Combo1);
    EXPECT_EQ(chain, controls);

    ClickOk(dialog);
  });
  // Had the Russian texts reached the port, the parity would have fallen back to none.
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsEnable);
  const std::map<QString, QVariant> saved = SavedValues();
  EXPECT_EQ(saved.at("Parity"), "Even");
  EXPECT_EQ(saved.at("DataBits"), "7");
  EXPECT_EQ(saved.at("StopBits"), "2");
}

TEST_F(PortDialog, AfterClosingTheListsHoldTheirOwnTextsWithTheSameSelection) {
  TVeskComSetupFrm dialog;
  boxes.AnswerDialog([](QDialog& shown) { shown.close(); });
  dialog.ExecutePortSetup(port, [this] { OpenComport(); });
  EXPECT_EQ(dialog.Combo5->Text(), "None");
  EXPECT_EQ(dialog.Combo5->currentIndex(), 0);
  EXPECT_EQ(dialog.Combo5->itemText(2), "Even");
  EXPECT_EQ(dialog.Combo6->Text(), "Custom");
  EXPECT_EQ(dialog.Combo6->currentIndex(), 3);
  EXPECT_EQ(dialog.Combo6->itemText(0), "Hardware");
}

TEST_F(PortDialog, AppearsFifteenPixelsRightOfAndBelowTheMousePointer) {
  for (const QPoint pointer : {QPoint(300, 200), QPoint(17, 140)}) {
    QCursor::setPos(pointer);
    ASSERT_EQ(QCursor::pos(), pointer) << "the platform cannot move the pointer";
    boxes.Clear();
    RunDialog([](TVeskComSetupFrm& dialog) { dialog.close(); });
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].pos, pointer + QPoint(15, 15));
  }
}

// Near an edge of the area windows may take, the whole frame stays in it.
TEST(PortDialogPlace, NearAnEdgeTheFrameIsMovedBackIntoTheArea) {
  const QSize frame(324, 264);
  const QRect belowTaskBar(0, 40, 1024, 728);  // a task bar 40 px high at the top
  const QRect secondScreen(1024, -100, 1280, 1024);
  const struct {
    QPoint pointer;
    QRect available;
    QPoint place;
  } cases[] = {
      {{300, 200}, belowTaskBar, {315, 215}},    // room enough: beside the pointer
      {{300, 760}, belowTaskBar, {315, 504}},    // bottom edge: the frame's bottom on it
      {{1020, 300}, belowTaskBar, {700, 315}},   // right edge
      {{1023, 767}, belowTaskBar, {700, 504}},   // bottom right corner
      {{10, 5}, belowTaskBar, {25, 40}},         // the pointer on the task bar
      {{2290, 910}, secondScreen, {1980, 660}},  // a screen of its own place
      {{1030, -95}, secondScreen, {1045, -80}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.pointer.x() << "," << c.pointer.y());
    const QPoint place = PlaceNearPointer(c.pointer, frame, c.available);
    EXPECT_EQ(place, c.place);
    EXPECT_TRUE(c.available.contains(QRect(place, frame)));
  }
  // Larger than the area: its top-left corner, with the title bar, stays in it.
  EXPECT_EQ(PlaceNearPointer({500, 500}, {2000, 900}, belowTaskBar), QPoint(0, 40));
}

// The dialog at the bottom right corner of its screen: its OK button is on the screen.
TEST_F(PortDialog, NearTheScreensCornerTheWholeDialogShows) {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint pointer = available.bottomRight() - QPoint(2, 2);
  QCursor::setPos(pointer);
  ASSERT_EQ(QCursor::pos(), pointer) << "the platform cannot move the pointer";
  RunDialog([&](TVeskComSetupFrm& dialog) {
    const QRect frame = dialog.frameGeometry();
    EXPECT_EQ(frame.topLeft(), PlaceNearPointer(pointer, frame.size(), available));
    EXPECT_TRUE(available.contains(frame)) << "the frame reaches past the screen";
    EXPECT_TRUE(
        available.contains(dialog.Button1->mapToGlobal(dialog.Button1->rect().bottomRight())));
    dialog.close();
  });
}

TEST_F(PortDialog, TheCurrentPortIsOfferedAndKeptWhenTheSystemDoesNotListIt) {
  const std::vector<ComPortInfo> lists[] = {{{lineB.SlavePath()}}, {}};
  for (const std::vector<ComPortInfo>& systemList : lists) {
    SCOPED_TRACE(systemList.size());
    listed = systemList;
    RunDialog([&](TVeskComSetupFrm& dialog) {
      EXPECT_EQ(dialog.Combo1->count(), static_cast<int>(systemList.size()) + 1);
      EXPECT_EQ(dialog.Combo1->Text(), QString::fromStdString(lineA.SlavePath()));
      ClickOk(dialog);
    });
    EXPECT_EQ(port.Port(), lineA.SlavePath());
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(SavedValues()["Port"], QString::fromStdString(lineA.SlavePath()));
    port.ClosePort();
  }
}

// The list shows what the system knows of each port, which ones another
// program holds and which one is the kernel's console; its items, and what is picked, handed to the
// port and saved, stay the bare names. The tool's own open port is not busy to it. A dialog only
// built (as one is at start-up) finds out nothing of the ports: on Windows that means opening them.
TEST_F(PortDialog, ShowsEachPortWithItsDescriptionBusyAndConsoleMarksButHandsOnTheBareName) {
  port.OpenPort();
  const QString a = QString::fromStdString(lineA.SlavePath());
  const QString b = QString::fromStdString(lineB.SlavePath());
  const std::string usb =
      "FTDI FT232R USB UART, s/n A10K3B2C, USB 0403:6001, "
      "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3B2C-if00-port0";
  listed = {{"COM3", "", true},
            {lineA.SlavePath(), "→ /dev/pts/7", true},
            {lineB.SlavePath(), usb},
            {"ttyS0", "UART 16550A at 0x3F8", false, true}};
  const std::pair<QString, QString> expected[] = {
      // the item's text, what the list shows
      {"COM3", "COM3 (занят)"},
      {a, a + " — → /dev/pts/7"},
      {b, b + " — " + QString::fromStdString(usb)},
      {"ttyS0", "ttyS0 (консоль) — UART 16550A at 0x3F8"},
  };
  {
    const TVeskComSetupFrm built;
    ASSERT_EQ(built.Combo1->count(), 4);
    for (int i = 0; i < 4; ++i)
      EXPECT_FALSE(built.Combo1->itemData(i, TComComboBox::ShownTextRole).isValid());
  }
  RunDialog([&](TVeskComSetupFrm& dialog) {
    TComComboBox& combo = *dialog.Combo1;
    ASSERT_EQ(combo.count(), 4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(combo.itemText(i), expected[i].first);
      EXPECT_EQ(combo.itemData(i, TComComboBox::ShownTextRole).toString(), expected[i].second);
      EXPECT_EQ(combo.itemData(i, Qt::ToolTipRole).toString(), expected[i].second);
    }
    EXPECT_EQ(combo.Text(), a);
    // The drop-down draws the shown lines, and is wide enough for the longest.
    combo.showPopup();
    EXPECT_GE(combo.view()->width(),
              combo.view()->fontMetrics().horizontalAdvance(expected[2].second));
    combo.hidePopup();
    Pick(dialog, lineB.SlavePath());
    ClickOk(dialog);
  });
  EXPECT_EQ(port.Port(), lineB.SlavePath());
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(SavedValues()["Port"], b);
}

// A name typed into the port field becomes the port on OK as a picked one
// does, without joining the list: a stable name (a link to the device, as
// under /dev/serial/by-id/), locked under the device it leads to, or a
// network address.
TEST_F(PortDialog, ATypedPortNameBecomesThePortOnOk) {
  const fs::path stableName = configDir / "usb-FTDI_FT232R_USB_UART_A10K3B2C-if00-port0";
  fs::create_symlink(lineB.SlavePath(), stableName);
  // The lock file is made where this user may write one.
  const std::string lockDir = comdev::LockDirectory();
  const bool locking = !lockDir.empty() && access(lockDir.c_str(), W_OK) == 0;
  const fs::path lockFile =
      fs::path(lockDir) / ("LCK..pts_" + fs::path(lineB.SlavePath()).filename().string());
  const struct {
    QString typed;
    std::string port;
    bool opens;
  } cases[] = {
      {" " + QString::fromStdString(stableName.string()) + " ", stableName.string(), true},
      {"tcp://127.0.0.1:1", "tcp://127.0.0.1:1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    port.ClosePort();
    RunDialog([&](TVeskComSetupFrm& dialog) {
      QLineEdit* field = dialog.Combo1->lineEdit();
      ASSERT_NE(field, nullptr);
      const int listed = dialog.Combo1->count();
      field->clear();
      field->insert(c.typed);
      PressKey(*dialog.Combo1, Qt::Key_Return);
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      EXPECT_EQ(dialog.Combo1->count(), listed);
    });
    EXPECT_EQ(port.Port(), c.port);
    EXPECT_EQ(SavedValues()["Port"], QString::fromStdString(c.port));
    EXPECT_EQ(port.Connected(), c.opens);
    if (c.opens) {
      EXPECT_EQ(fs::exists(lockFile), locking) << lockFile;
    }
  }
}

// A line typed or pasted as the list shows it (the name, its marks, its
// description) names its port: the bare name becomes the port, is saved, and
// the next dialog shows each port once. So does such a line saved as the port
// before. (The names other than the two terminals lead to no device.)
TEST_F(PortDialog, APastedShownLineIsItsBareName) {
  const QString a = QString::fromStdString(lineA.SlavePath());
  const QString b = QString::fromStdString(lineB.SlavePath());
  const QString usb = QStringLiteral("FTDI FT232R USB UART, s/n A10K3B2C, USB 0403:6001");
  listed = {{"ttyTL8BUSY", "", true},
            {lineA.SlavePath(), "→ /dev/pts/7"},
            {lineB.SlavePath(), usb.toStdString()},
            {"ttyTL8CONSOLE", "UART 16550A at 0x3F8", false, true}};
  const struct {
    QString pasted;
    QString port;
  } cases[] = {
      {b + " — " + usb, b},                        // as shown
      {"  " + b + " (занят) — " + usb + "\n", b},  // busy when it was copied; blanks around
      {a + " — → /dev/pts/7", a},
      {"ttyTL8BUSY (занят)", "ttyTL8BUSY"},
      {"ttyTL8CONSOLE (консоль) — UART 16550A at 0x3F8", "ttyTL8CONSOLE"},
      {"ttyTL8CONSOLE (занят) (консоль)", "ttyTL8CONSOLE"},
      {"ttyTL8GONE — USB-SERIAL CH340, USB 1a86:7523", "ttyTL8GONE"},  // not listed now
  };
  // Each port once in the list, the bare name in the field.
  const auto shownOnce = [&](TVeskComSetupFrm& dialog, const QString& port) {
    TComComboBox& combo = *dialog.Combo1;
    const bool isListed = std::any_of(listed.begin(), listed.end(), [&](const ComPortInfo& p) {
      return QString::fromStdString(p.name) == port;
    });
    QStringList shown;
    for (int i = 0; i < combo.count(); ++i)
      shown << combo.itemData(i, TComComboBox::ShownTextRole).toString();
    EXPECT_EQ(shown.removeDuplicates(), 0) << shown.join(" | ").toStdString();
    EXPECT_EQ(combo.count(), static_cast<int>(listed.size()) + (isListed ? 0 : 1));
    EXPECT_EQ(combo.Text(), port);
  };
  // As an earlier version saved it.
  port.SetPort((b + " — " + usb).toStdString());
  RunDialog([&](TVeskComSetupFrm& dialog) {
    EXPECT_EQ(dialog.Combo1->count(), static_cast<int>(listed.size()));
    shownOnce(dialog, b);
    ClickOk(dialog);
  });
  EXPECT_EQ(port.Port(), lineB.SlavePath());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pasted.toStdString());
    port.ClosePort();
    RunDialog([&](TVeskComSetupFrm& dialog) {
      QLineEdit* field = dialog.Combo1->lineEdit();
      ASSERT_NE(field, nullptr);
      field->clear();
      field->insert(c.pasted);
      ClickOk(dialog);
    });
    EXPECT_EQ(QString::fromStdString(port.Port()), c.port);
    EXPECT_EQ(SavedValues()["Port"], c.port);
    RunDialog([&](TVeskComSetupFrm& dialog) {
      shownOnce(dialog, c.port);
      dialog.close();
    });
  }
}

// A network name that cannot be opened as it stands: OK says what is wrong
// with it and leaves the dialog up, with nothing saved; corrected, it goes.
TEST_F(PortDialog, AMalformedNetworkNameIsRefusedWithWhatIsWrong) {
  const struct {
    QString typed;
    QString problem;
  } cases[] = {
      {"tcp://10.0.0.7:0", "порт 0 вне диапазона 1..65535"},
      {"rfc2217://:4001", "не указан хост"},
      {"modbus-tcp://10.0.0.7:0", "порт 0 вне диапазона 1..65535"},
      {"tcp://[fd00::17:4001", "нет закрывающей скобки ]"},
      {"tcp://10.0.0.7:4001?allow=soon",
       "неверное значение ?allow=«soon»: миллисекунды от 0 до 10000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    boxes.Clear();
    RunDialog([&](TVeskComSetupFrm& dialog) {
      QLineEdit* field = dialog.Combo1->lineEdit();
      ASSERT_NE(field, nullptr);
      field->clear();
      field->insert(c.typed);
      ClickOk(dialog);
      EXPECT_TRUE(dialog.isVisible()) << "the dialog stays";
      const std::vector<ShownBox> shown = Messages();
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].text, "Неверное имя сетевого порта " + c.typed + ":\r" + c.problem + ".");
      EXPECT_EQ(shown[0].caption, QStringLiteral("Настройка порта"));
      field->clear();
      field->insert(QStringLiteral("tcp://127.0.0.1:1"));
      ClickOk(dialog);
    });
    EXPECT_EQ(Messages().size(), 2u) << "the box, and the corrected name's failure to open";
    EXPECT_EQ(SavedValues()["Port"], QStringLiteral("tcp://127.0.0.1:1"));
  }
}

TEST_F(PortDialog, AListingFailureStopsTheDialogBeingBuilt) {
  SetPortLister([]() -> std::vector<ComPortInfo> { throw EComPort(ceRegistryError, ENOENT); });
  RunHandler([] { TVeskComSetupFrm dialog; });
  EXPECT_EQ(boxes.Texts(), std::vector<QString>{
                               QStringLiteral("Registry error (win error code: %1)").arg(ENOENT)});
}

TEST(ComComboBox, SelectsThePortsValueIgnoringCase) {
  TestApp();
  SetPortLister([] { return std::vector<ComPortInfo>{{"/dev/ttyX1"}, {"/DEV/TTYX2"}}; });
  TComPort port;
  port.SetPort("/dev/ttyx2");
  port.SetBaudRate(br115200);
  port.FlowControl().SetFlowControl(fcSoftware);
  const std::pair<TComProperty, QString> cases[] = {
      {cpPort, "/DEV/TTYX2"}, {cpBaudRate, "115200"},      {cpDataBits, "8"}, {cpStopBits, "1"},
      {cpParity, "None"},     {cpFlowControl, "Software"}, {cpNone, ""},
  };
  for (const auto& [property, text] : cases) {
    TComComboBox combo;
    combo.SetComProperty(property);
    EXPECT_EQ(combo.currentIndex(), -1);
    combo.SetComPort(&port);
    EXPECT_EQ(combo.Text(), text) << property;
    if (property == cpPort) {
      EXPECT_EQ(combo.count(), 2);  // matched, so nothing added
    }
  }
  SetPortLister({});
}

TEST(ComComboBox, ChoosingAnItemChangesThePortOnlyWithAutoApply) {
  TestApp();
  TComPort port;
  port.SetPort("/nonexistent/tl8-port");  // never opened; no default device either
  TComComboBox combo;
  combo.SetComProperty(cpBaudRate);
  combo.SetComPort(&port);
  for (bool autoApply : {false, true}) {
    combo.SetAutoApply(autoApply);
    const int index = combo.findText("4800");
    combo.setCurrentIndex(index);
    emit combo.activated(index);
    EXPECT_EQ(port.BaudRate(), autoApply ? br4800 : br9600) << autoApply;
  }
}

}  // namespace
