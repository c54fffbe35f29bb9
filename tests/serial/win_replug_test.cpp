// The converter pulled out and plugged in again while the Windows tool runs:
// TL8_REPLUG_PORT names a COM port behind a simulator started with --unplug
// (scripts/windows.sh: the 20th request takes the line away, and a moment
// later a new line comes up under the same name). The tool, through its real
// windows, must reach the adapter again with "Настройка порта" → OK, whatever
// code the driver answered, and stay usable while the port will not open.

#include "app/tl8form.h"
#include "app/toolwindows.h"
#include "modbus/session.h"
#include "portdialog/veskcomsetupfrm.h"
#include "serial/comport.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "ui/tool_texts.h"
#include "windows/koefforpotreb.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

std::string ReplugPort() {
  const char* port = std::getenv("TL8_REPLUG_PORT");
  return port ? port : "";
}

class WinReplug : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ReplugPort().empty()) GTEST_SKIP() << "TL8_REPLUG_PORT names no simulator port";
    TestApp();
    ASSERT_TRUE(workDir.isValid());
    previousDir = QDir::currentPath();
    QDir::setCurrent(workDir.path());  // tmp.dat goes here
    boxes.OnShow([this](const ShownBox& box) {
      if (box.kind == ShownBox::Question) port.SetPort(ReplugPort());
    });
    boxes.AnswerQuestion(BoxAnswer::Yes);
    // The port dialog lists the simulator's port alone: finding out who holds
    // a port opens it on Windows, and Wine's other ports may be the host's own.
    SetPortLister([] { return std::vector<ComPortInfo>{{ReplugPort()}}; });
    windows = std::make_unique<ToolWindows>(session, port);
  }
  void TearDown() override {
    SetPortLister({});
    windows.reset();
    if (!previousDir.isEmpty()) QDir::setCurrent(previousDir);
  }

  // "Изм.границ пар-ров" (seventeen requests): true when the bounds came
  // from the adapter.
  bool ReadBounds() {
    boxes.Clear();
    windows->KoefForPotreb()->Canal2_20->clear();
    windows->Tl8Form()->N4->trigger();
    windows->KoefForPotreb()->hide();
    return windows->KoefForPotreb()->Canal2_20->text() == QStringLiteral("85.00") &&
           boxes.Shown().empty();
  }

  // "Настройка порта" → OK; true when no box followed the dialog.
  bool PortSetupOk() {
    boxes.Clear();
    boxes.AnswerDialog(
        [](QDialog& dialog) { static_cast<TVeskComSetupFrm&>(dialog).Button1->click(); });
    windows->Tl8Form()->N2->trigger();
    return boxes.Shown().size() == 1;
  }

  QTemporaryDir workDir;
  QString previousDir;
  ScriptedBoxes boxes;
  TComPort port;
  Session session{port};
  std::unique_ptr<ToolWindows> windows;
};

TEST_F(WinReplug, PortSetupOkOpensTheLineAnewAfterItWentAway) {
  ASSERT_TRUE(port.Connected());
  ASSERT_TRUE(ReadBounds());

  // The third request of this read takes the line away.
  EXPECT_FALSE(ReadBounds());
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].icon, BoxIcon::Error) << boxes.Shown()[0].text.toStdString();
  EXPECT_FALSE(port.Connected()) << "the dead handle still counts as open";

  // Until the new line is there, OK reports the port that would not open and
  // leaves the tool ready for the next try.
  int refused = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!PortSetupOk() && std::chrono::steady_clock::now() < deadline) {
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[1].caption, kPortOpenFailureCaption);
    EXPECT_FALSE(port.Connected());
    ++refused;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(port.Connected()) << "the port did not open again within 30 s";
  EXPECT_TRUE(ReadBounds()) << "after " << refused << " refused openings";
}

}  // namespace
