// A whole service session through the tool's real windows, against the
// simulated adapter: start, address search, bounds read and write, calibration
// read, edit, save and write, and the pass-through command that ends the tool,
// on a quiet line and on one that echoes every frame, with the line monitor
// open all along.
// The session talks over the simulated line in virtual time; the main window
// opens its own port, a pseudo-terminal nothing else uses. The windows on
// the real port and the simulator program: tests/serial/replug_test.cpp.
#include "modbus/session.h"
#include "app/tl8form.h"
#include "app/toolwindows.h"
#include "serial/comport.h"
#include "tests/support/adapter_requests.h"
#include "tests/support/password_answer.h"
#include "tests/support/pty_pair.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"
#include "tests/support/test_data.h"
#include "windows/koefforpotreb.h"
#include "windows/linemonitor.h"
#include "windows/netaddrf.h"
#include "windows/paswkoefform.h"
#include "windows/tehform.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <array>

namespace {

class ServiceSessionOnLine : public ::testing::TestWithParam<bool> {};

TEST_P(ServiceSessionOnLine, FromStartToPassThroughAgainstTheSimulatedAdapter) {
  const bool echo = GetParam();
  TestApp();
  tl8test::SimSession sim(tl8test::SimulatorSetup(echo ? std::vector<std::string>{"--echo"}
                                                       : std::vector<std::string>{}));
  QTemporaryDir workDir;
  const QString previousDir = QDir::currentPath();
  QDir::setCurrent(workDir.path());

  ScriptedBoxes boxes;
  const PtyPair line;
  TComPort port;
  Session& session = sim.session;
  // The engineer answers the jumper question with the converter plugged in.
  boxes.OnShow([&](const ShownBox& box) {
    if (box.kind == ShownBox::Question && !port.Connected()) port.SetPort(line.SlavePath());
  });
  boxes.AnswerQuestion(BoxAnswer::Yes);
  {
    ToolWindows windows(session, port);
    ASSERT_TRUE(windows.Tl8Form()->ComPort.Connected());
    windows.Tl8Form()->N9->trigger();  // "Журнал обмена"
    ASSERT_TRUE(windows.LineMonitor()->isVisible());

    // The address search finds the adapter and opens "Режим работы".
    windows.Tl8Form()->N8->trigger();
    EXPECT_EQ(windows.NetAddrF()->ReceivAddr->text(), QStringLiteral("001"));
    EXPECT_TRUE(windows.Tl8Form()->N3->menuAction()->isVisible());
    windows.NetAddrF()->BtClose->click();

    // The bounds window reads the adapter and keeps the bounds in tmp.dat.
    windows.Tl8Form()->N4->trigger();
    EXPECT_TRUE(windows.KoefForPotreb()->isEnabled());
    EXPECT_EQ(windows.KoefForPotreb()->Canal2_20->text(), QStringLiteral("85.00"));
    EXPECT_EQ(FileBytes(workDir.filePath("tmp.dat")), tl8test::kFactoryTmpDat);

    // A changed bound goes into the adapter behind the unlock word.
    windows.KoefForPotreb()->Canal1_20->setText(QStringLiteral("1234.5"));
    AnswerPassword(boxes, QStringLiteral("Rumel"));
    windows.KoefForPotreb()->WriteButton->click();
    EXPECT_EQ(sim.State(1).param(1), AdapterFloatBytes(1234.5f));

    // The calibration window reads what the bounds window wrote.
    AnswerPassword(boxes, QStringLiteral("Rumel"));
    windows.Tl8Form()->N5->trigger();
    ASSERT_TRUE(windows.TehForm()->isVisible());
    EXPECT_EQ(windows.TehForm()->KoefEdit1->text(), QStringLiteral("1234.50"));
    EXPECT_EQ(windows.TehForm()->ZavodEdit->text(), QStringLiteral("0101001"));

    // Coefficients edited, saved to a file and written behind the write word.
    windows.TehForm()->KoefEdit3->setText(QStringLiteral("16.5"));
    windows.TehForm()->Edit21->setText(QStringLiteral("90"));
    windows.TehForm()->ZavodEdit->setText(QStringLiteral("123456"));
    const QString savedFile = workDir.filePath(QStringLiteral("123456.dat"));
    boxes.AnswerQuestion(BoxAnswer::Yes);
    boxes.AnswerFile(savedFile);
    AnswerPassword(boxes, QStringLiteral("Pelmar"));
    windows.TehForm()->WriteButton->click();

    const tl8test::SimState state = sim.State(1);
    EXPECT_EQ(state.param(1), AdapterFloatBytes(1234.5f));
    EXPECT_EQ(state.param(3), AdapterFloatBytes(16.5f));
    EXPECT_EQ(state.param(5), AdapterFloatBytes(190.0f));  // channel 2 is kept plus 100
    EXPECT_EQ(state.param(6), AdapterFloatBytes(60.0f));
    EXPECT_EQ(state.param(13), (std::array<uint8_t, 4>{0x40, 0xE2, 0x01, 0x00}));
    EXPECT_EQ(state.param(15), (std::array<uint8_t, 4>{0x00, 0x01, 0x00, 0x00}));
    EXPECT_TRUE(state.checksumMatches());
    const std::string saved = FileBytes(savedFile.toStdString());
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 15);
    EXPECT_NE(saved.find("\r\n123456\r\n1234.50\r\n630.00\r\n16.5\r\n"), std::string::npos)
        << saved;

    // Pass-through: the adapter echoes, the tool says so and ends.
    windows.Tl8Form()->N7->trigger();
    EXPECT_FALSE(windows.Tl8Form()->isVisible());
    EXPECT_TRUE(sim.link().passThrough());

    // The monitor showed the whole session, each echo marked as one.
    TLineMonitor& monitor = *windows.LineMonitor();
    monitor.ShowNewLines();
    const QStringList shown = monitor.Lines->toPlainText().split('\n');
    QStringList logged;
    for (const TrafficEntry& entry : session.Traffic().Since(0)) logged << TrafficLine(entry);
    EXPECT_EQ(shown, logged);
    const auto count = [&shown](const QString& end) {
      return std::count_if(shown.begin(), shown.end(),
                           [&end](const QString& line) { return line.endsWith(end); });
    };
    EXPECT_GT(shown.filter(QStringLiteral(" → ")).size(), 60);
    EXPECT_EQ(count(QStringLiteral("  эхо")),
              echo ? shown.filter(QStringLiteral(" → ")).size() : 0);
    EXPECT_EQ(count(QStringLiteral("  побайтовая трансляция")), 1);
    // The calibration window's read of the bound the bounds window wrote.
    EXPECT_EQ(count(QStringLiteral("  ответ: 1234.5000")), 1);
  }
  // Every box of the session, in order: the question, the save question and
  // the three password dialogs, and the pass-through verdict; no error at all.
  std::vector<QString> texts;
  for (const ShownBox& box : boxes.Shown())
    if (box.kind == ShownBox::Message) texts.push_back(box.text);
  EXPECT_EQ(texts, std::vector<QString>{
                       QStringLiteral("Адаптер переведен в режим побайтовой трансляции")});
  QDir::setCurrent(previousDir);
}

INSTANTIATE_TEST_SUITE_P(Line, ServiceSessionOnLine, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& line) {
                           return line.param ? "Echoing" : "Quiet";
                         });

TEST(ServiceSession, WithThePortClosedTheAddressSetupEndsInTheErrorReport) {
  TestApp();
  QTemporaryDir workDir;
  const std::string missingPort = workDir.filePath(QStringLiteral("no-such-port")).toStdString();
  ScriptedBoxes boxes;
  TComPort port;
  Session session{port};
  boxes.OnShow([&](const ShownBox& box) {
    if (box.kind == ShownBox::Question) port.SetPort(missingPort);
  });
  boxes.AnswerQuestion(BoxAnswer::Yes);
  ToolWindows windows(session, port);
  ASSERT_FALSE(windows.Tl8Form()->ComPort.Connected());
  boxes.Clear();

  windows.Tl8Form()->N8->trigger();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].icon, BoxIcon::Error);
  EXPECT_EQ(boxes.Shown()[0].caption, QStringLiteral("Tl8v05"));
  EXPECT_TRUE(boxes.Shown()[0].text.startsWith(
      QStringLiteral("WriteFile function failed (win error code: ")))
      << boxes.Shown()[0].text.toStdString();
  EXPECT_FALSE(windows.Tl8Form()->N3->menuAction()->isVisible());
  EXPECT_FALSE(session.Gate().Busy());
}

}  // namespace
