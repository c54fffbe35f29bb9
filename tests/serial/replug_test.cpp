// The converter pulled out and plugged in again while the tool runs: the
// simulated adapter is stopped and started anew on the same link name, and
// the tool, through its real windows, reaches it again without a restart.
// The same for a network line: the device server (tl8sim --tcp) goes away,
// dropping the connection, and comes back at the same port. The windows' one
// run over a real port to the simulator program: the whole session runs on
// the simulated line (tests/app/session_test.cpp).

#include "app/tl8form.h"
#include "app/toolwindows.h"
#include "modbus/session.h"
#include "os/platform.h"
#include "portdialog/veskcomsetupfrm.h"
#include "serial/comport.h"
#include "tests/support/loopback.h"
#include "tests/support/pty_pair.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_process.h"
#include "windows/koefforpotreb.h"
#include "windows/netaddrf.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

enum class Line { Terminal, Network };

class Replug : public ::testing::TestWithParam<Line> {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_TRUE(workDir.isValid());
    previousDir = QDir::currentPath();
    QDir::setCurrent(workDir.path());  // tmp.dat goes here
    PlugIn();
    // The device server comes back where it was.
    if (GetParam() == Line::Network) tcpAt = sim->port().substr(sim->port().rfind('/') + 1);
    portName = GetParam() == Line::Network ? sim->port() : link;
    boxes.OnShow([this](const ShownBox& box) {
      if (box.kind == ShownBox::Question && !port.Connected()) port.SetPort(portName);
    });
    boxes.AnswerQuestion(BoxAnswer::Yes);
    windows = std::make_unique<ToolWindows>(session, port);
  }
  void TearDown() override {
    windows.reset();
    sim.reset();
    QDir::setCurrent(previousDir);
  }

  // The converter is pulled out (the adapter's end of the line goes away)
  // and plugged in again: the same name now leads to a new line.
  void PullOut() { sim.reset(); }
  void PlugIn() {
    sim = std::make_unique<tl8test::SimProcess>(GetParam() == Line::Network
                                                    ? std::vector<std::string>{"--tcp", tcpAt}
                                                    : std::vector<std::string>{"--link", link});
  }
  // What the request that meets the loss reports: a hung-up terminal's
  // error, or the connection's.
  QString LossText() const {
    const int system = GetParam() == Line::Network ? comdev::kNetClosed : 5;
    return QStringLiteral("WriteFile function failed (win error code: %1)").arg(system);
  }

  // "Изм.границ пар-ров": true when the bounds came from the adapter.
  bool ReadBounds() {
    boxes.Clear();
    windows->KoefForPotreb()->Canal2_20->clear();
    windows->Tl8Form()->N4->trigger();
    windows->KoefForPotreb()->hide();
    return windows->KoefForPotreb()->Canal2_20->text() == QStringLiteral("85.00") &&
           boxes.Shown().empty();
  }

  // "Уст.адреса" (one request where the bounds take seventeen): true when
  // the adapter answered the search at its address.
  bool FindAdapter() {
    boxes.Clear();
    windows->NetAddrF()->ReceivAddr->clear();
    windows->Tl8Form()->N8->trigger();
    windows->NetAddrF()->BtClose->click();
    return windows->NetAddrF()->ReceivAddr->text() == QStringLiteral("001") &&
           boxes.Shown().empty();
  }

  void PortSetupOk() {
    boxes.AnswerDialog(
        [](QDialog& dialog) { static_cast<TVeskComSetupFrm&>(dialog).Button1->click(); });
    windows->Tl8Form()->N2->trigger();
  }

  QTemporaryDir workDir;
  QString previousDir;
  const std::string link = workDir.filePath("COM1").toStdString();
  std::string tcpAt = "127.0.0.1:0";  // any free port at first
  std::string portName;
  ScriptedBoxes boxes;
  std::unique_ptr<tl8test::SimProcess> sim;
  TComPort port;
  Session session{port};
  std::unique_ptr<ToolWindows> windows;
};

TEST_P(Replug, AFailedReadThenPortSetupOkReachesTheAdapterAgain) {
  ASSERT_TRUE(windows->Tl8Form()->ComPort.Connected());
  ASSERT_TRUE(FindAdapter());

  PullOut();
  EXPECT_FALSE(windows->Tl8Form()->ComPort.Connected());
  EXPECT_FALSE(ReadBounds());
  EXPECT_EQ(boxes.Texts(), std::vector<QString>{LossText()});

  PlugIn();
  PortSetupOk();
  EXPECT_TRUE(windows->Tl8Form()->ComPort.Connected());
  EXPECT_TRUE(FindAdapter()) << boxes.Texts().size();
}

// Nothing was sent while the converter was out: the loss is seen all the same.
TEST_P(Replug, PortSetupOkOrOpenComportAloneReachesTheAdapterAgain) {
  ASSERT_TRUE(FindAdapter());
  PullOut();
  PlugIn();
  boxes.Clear();
  PortSetupOk();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].kind, ShownBox::Dialog);  // and no error after it
  EXPECT_TRUE(FindAdapter());

  PullOut();
  PlugIn();
  windows->Tl8Form()->OpenComport();
  EXPECT_TRUE(FindAdapter());
}

INSTANTIATE_TEST_SUITE_P(Lines, Replug, ::testing::Values(Line::Terminal, Line::Network),
                         [](const auto& info) {
                           return info.param == Line::Network ? "Network" : "Terminal";
                         });

// The line drops while an answer is being collected (here before its first
// wait, so that no timing decides): the failed wait leaves the collection
// going on with what it waited for, so the next step reports the failure
// instead of taking the silence for "no answer".
TEST(LineLoss, DuringCollectionIsReported) {
  PtyPair pty;
  TComPort port;
  port.SetPort(pty.SlavePath());
  port.OpenPort();
  ExchangeState exchange;
  ParamData params;
  ModbusRequests requests(port, exchange, params);
  pty.CloseMaster();
  EXPECT_THROW(requests.ReadDataModbus(), EComPort);
  EXPECT_FALSE(port.Connected());
}

// Ctrl-C (a termination request) while an RFC 2217 server keeps the
// opening waiting: the opening ends at once, and the tool, stopping, reports
// no failure.
TEST(NetworkOpening, AStopRequestEndsItWithoutAFailureReport) {
  TestApp();
  std::atomic<bool> accepted = false;
  tl8test::ScriptedServer silent([&accepted](tl8test::LoopSocket& listener) {
    const tl8test::LoopSocket client = listener.Accept(tl8test::kLongWait);
    accepted = true;
    client.AwaitClose(tl8test::kLongWait);
  });
  std::thread stopper([&accepted] {
    const auto deadline = std::chrono::steady_clock::now() + tl8test::kLongWait;
    while (!accepted && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (accepted) ::kill(::getpid(), SIGINT);
  });
  ScriptedBoxes boxes;
  TComPort port;
  Session session{port};
  boxes.OnShow([&](const ShownBox& box) {
    if (box.kind == ShownBox::Question) port.SetPort(silent.Name("rfc2217"));
  });
  boxes.AnswerQuestion(BoxAnswer::Yes);
  {
    const ToolWindows windows(session, port);
    stopper.join();
    EXPECT_TRUE(accepted) << "the tool did not connect";
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(boxes.Shown().size(), 1u) << "the start-up question only";
  }
}

}  // namespace
