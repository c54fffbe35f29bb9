// Start-up of the main window: the jumper question, opening the port, and the
// menu that is left for each answer.
#include "app/tl8form.h"
#include "app/toolwindows.h"
#include "modbus/session.h"
#include "serial/ports_unix.h"
#include "tests/support/loopback.h"
#include "tests/support/pty_pair.h"
#include "tests/support/qt_app.h"
#include "tests/support/script_process.h"
#include "tests/support/scripted_boxes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>

namespace {

const QString kQuestion = QStringLiteral(
    "   Перед работой с протоколом ICP CON нужна перемычка между \"Тест\" и \"GND\". Продолжим ? ");

struct SessionHolder {
  TComPort port;
  Session session{port};
};

// A main window with a port and a session of its own, as the tool makes
// them; the window goes first, then its session and port.
struct StartedWindow : SessionHolder, TTl8Form {
  StartedWindow() : TTl8Form(session, port) {}
};

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    form = std::make_unique<StartedWindow>();
    form->session.SetPasswordMode(PasswordRequest::Unlock);
    form->ComPort.SetPort(line.SlavePath());  // never the real COM1
  }

  bool Visible(QMenu* menu) const { return menu->menuAction()->isVisible(); }

  PtyPair line;
  ScriptedBoxes boxes;
  std::unique_ptr<StartedWindow> form;
};

TEST_F(Startup, AsksTheJumperQuestionAtItsPlaceBeforeTheWindowIsShown) {
  bool windowVisibleWhileAsked = true;
  boxes.OnShow([&](const ShownBox&) { windowVisibleWhileAsked = form->isVisible(); });
  boxes.AnswerQuestion(BoxAnswer::No);
  form->Show();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  const ShownBox& question = boxes.Shown()[0];
  EXPECT_EQ(question.kind, ShownBox::Question);
  EXPECT_EQ(question.text, kQuestion);
  EXPECT_EQ(question.text.size(), 88);
  EXPECT_EQ(question.caption, QStringLiteral("Tl8v05"));
  EXPECT_EQ(question.icon, BoxIcon::None);
  EXPECT_EQ(question.pos, QPoint(180, 250));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Работа с ТЛ-8К  (Tl8v05)"));
  EXPECT_FALSE(windowVisibleWhileAsked);
  EXPECT_TRUE(form->isVisible());
}

TEST_F(Startup, YesOpensThePortWithDtrAndRtsRaisedAndSetsTheDefaults) {
  boxes.AnswerQuestion(BoxAnswer::Yes);
  form->Show();
  EXPECT_TRUE(form->ComPort.Connected());
  EXPECT_EQ(form->ComPort.FlowControl().ControlDTR(), dtrEnable);
  EXPECT_EQ(form->ComPort.FlowControl().ControlRTS(), rtsEnable);
  EXPECT_TRUE(form->ComPort.Events().empty());
  EXPECT_NE(form->StopEvent(), nullptr);
  EXPECT_EQ(form->session.Exchange().DeviceAddress, 1);
  EXPECT_EQ(form->session.PasswordMode(), PasswordRequest::Write);
  EXPECT_TRUE(Visible(form->N1));
  EXPECT_FALSE(Visible(form->N3));
  EXPECT_EQ(boxes.Shown().size(), 1u);  // the question only
}

TEST_F(Startup, YesWithABusyPortReportsItAndGoesOnWithThePortClosed) {
  TComPort holder;
  holder.SetPort(line.SlavePath());
  holder.OpenPort();
  boxes.AnswerQuestion(BoxAnswer::Yes);
  form->Show();
  EXPECT_FALSE(form->ComPort.Connected());
  ASSERT_EQ(boxes.Shown().size(), 2u);
  const ShownBox& failure = boxes.Shown()[1];
  EXPECT_EQ(failure.kind, ShownBox::Message);
  EXPECT_EQ(failure.caption, QStringLiteral("Неудача при открытии порта"));
  EXPECT_EQ(failure.icon, BoxIcon::Error);
  EXPECT_FALSE(failure.pos.has_value());
  EXPECT_EQ(
      failure.text,
      QStringLiteral("Вероятно, выполняется другая программа,\rоткрывшая порт ") +
          QString::fromStdString(line.SlavePath()) +
          QStringLiteral(". Закройте программу,\rзахватившую порт, или укажите другой порт."));
  EXPECT_EQ(form->session.Exchange().DeviceAddress, 1);
  EXPECT_TRUE(Visible(form->N1));
  // A second attempt, once the port is free, opens it with a fresh stop event.
  holder.ClosePort();
  form->OpenComport();
  EXPECT_TRUE(form->ComPort.Connected());
}

// Another serial program that takes no flock but keeps the usual lock file
// holds the port: the same box, and the port opens once that program is gone.
TEST_F(Startup, YesWithThePortLockedByAnotherProgramReportsIt) {
  const std::string lockDir = comdev::LockDirectory();
  if (lockDir.empty() || access(lockDir.c_str(), W_OK) != 0)
    GTEST_SKIP() << "no writable lock directory";
  // The name minicom locks /dev/pts/N under, and what it writes.
  const std::string lockFile =
      lockDir + "/LCK..pts_" + std::filesystem::path(line.SlavePath()).filename().string();
  const pid_t other = fork();
  if (other == 0) {
    pause();
    _exit(0);
  }
  std::ofstream(lockFile) << "      " << other << " minicom root\n";
  boxes.AnswerQuestion(BoxAnswer::Yes);
  form->Show();
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
  EXPECT_FALSE(form->ComPort.Connected());
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[1].caption, QStringLiteral("Неудача при открытии порта"));

  form->OpenComport();
  EXPECT_TRUE(form->ComPort.Connected());
  form.reset();
  EXPECT_FALSE(std::filesystem::exists(lockFile));
}

TEST_F(Startup, AnyOtherAnswerLeavesOnlyExit) {
  for (BoxAnswer answer : {BoxAnswer::No, BoxAnswer::Closed}) {
    StartedWindow declined;
    declined.ComPort.SetPort(line.SlavePath());
    boxes.AnswerQuestion(answer);
    declined.Show();
    EXPECT_FALSE(Visible(declined.N1));
    EXPECT_FALSE(Visible(declined.N3));
    EXPECT_TRUE(declined.N6->isVisible());
    EXPECT_FALSE(declined.ComPort.Connected());
    EXPECT_EQ(declined.session.Exchange().DeviceAddress, 0);
  }
}

// Tl8v05 --port NAME: the start-up opens that port after the question, a
// serial line or a network one; without it the tool's port is COM1.
TEST_F(Startup, TheStartUpOpensThePortTheToolWasStartedOn) {
  const tl8test::LoopSocket listener = tl8test::LoopSocket::Listen();
  const QString names[] = {QString::fromStdString(line.SlavePath()),
                           QStringLiteral("tcp://127.0.0.1:%1").arg(listener.Port())};
  for (const QString& name : names) {
    SCOPED_TRACE(name.toStdString());
    TComPort port;
    Session session(port);
    boxes.AnswerQuestion(BoxAnswer::Yes);
    ToolWindows windows(session, port, name);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(QString::fromStdString(port.Port()), name);
    EXPECT_EQ(boxes.Shown().size(), 1u) << "the question only";
    boxes.Clear();
  }
  TComPort port;
  Session session(port);
  TTl8Form unnamed(session, port);
  EXPECT_EQ(port.Port(), "COM1");
}

// The program itself: QApplication takes its own options (-platform) out
// before the tool reads the rest, and --help prints the usage and ends it.
TEST(StartupProgram, HelpPrintsTheUsageWithQtsOwnOptionsGiven) {
  const char* binDir = std::getenv("TL8_BIN_DIR");
  ASSERT_NE(binDir, nullptr) << "run by CTest, which names the programs' folder";
  const tl8test::ScriptProcess tool(
      {std::string(binDir) + "/Tl8v05", "-platform", "offscreen", "--help"});
  EXPECT_EQ(tool.FirstLine(), "Запуск: Tl8v05 [--port ИМЯ]");
}

TEST_F(Startup, OpenComportOnAnOpenPortKeepsItsStopEvent) {
  boxes.AnswerQuestion(BoxAnswer::Yes);
  form->Show();
  TComStopEvent* first = form->StopEvent();
  form->OpenComport();
  EXPECT_EQ(form->StopEvent(), first);
}

TEST_F(Startup, ExitClosesTheWindowAndEndingTheToolClosesThePort) {
  boxes.AnswerQuestion(BoxAnswer::Yes);
  form->Show();
  ASSERT_TRUE(form->ComPort.Connected());
  form->N6->trigger();
  EXPECT_FALSE(form->isVisible());
  form.reset();
  TComPort next;
  next.SetPort(line.SlavePath());
  EXPECT_NO_THROW(next.OpenPort());
}

TEST_F(Startup, ConsoleStopSignalsTheStopEventAndEndsTheToolAsExitDoes) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    StartedWindow running;
    running.ComPort.SetPort(line.SlavePath());
    boxes.AnswerQuestion(BoxAnswer::Yes);
    running.Show();
    ASSERT_TRUE(running.ComPort.Connected());
    ASSERT_FALSE(running.StopEvent()->IsSignalled());
    raise(signal);
    EXPECT_TRUE(running.StopEvent()->IsSignalled());  // at once, before the UI thread runs
    for (int i = 0; i < 100 && running.isVisible(); ++i)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(running.isVisible()) << "signal " << signal;
  }
}

// A stop request the process was started to ignore (`nohup` for SIGHUP, a
// shell's background job for SIGINT) stays ignored while the tool runs, and
// after it.
TEST_F(Startup, AStopRequestTheProcessWasStartedToIgnoreStaysIgnored) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    struct sigaction ignore {
    }, saved{}, during{}, after{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(sigaction(signal, &ignore, &saved), 0);
    {
      StartedWindow running;
      running.ComPort.SetPort(line.SlavePath());
      boxes.AnswerQuestion(BoxAnswer::Yes);
      running.Show();
      EXPECT_TRUE(running.ComPort.Connected());
      sigaction(signal, nullptr, &during);
      raise(signal);
      EXPECT_FALSE(running.StopEvent()->IsSignalled());
      QCoreApplication::processEvents();
      EXPECT_TRUE(running.isVisible());
    }
    sigaction(signal, &saved, &after);
    EXPECT_EQ(during.sa_handler, SIG_IGN);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
  }
}

// Raises `signal` and runs the user-interface thread, as an open modal box's
// own loop does, until `arrived` says the stop request has been acted on.
void RequestStopDuringABox(int signal, const std::function<bool()>& arrived) {
  raise(signal);
  for (int i = 0; i < 1000 && !arrived(); ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A stop request while a start-up box is open (the question, or the box
// saying the port would not open) cannot quit a message loop that does not
// run yet: it takes effect when the user closes the box. The port is not
// opened after the question, and the window never shows.
TEST_F(Startup, AStopRequestDuringAStartUpBoxEndsTheToolWhenTheBoxCloses) {
  TComPort holder;
  holder.SetPort(line.SlavePath());
  struct Row {
    ShownBox::Kind during;
    int signal;
  };
  const Row rows[] = {{ShownBox::Question, SIGTERM},
                      {ShownBox::Question, SIGHUP},
                      {ShownBox::Message, SIGTERM},
                      {ShownBox::Message, SIGHUP}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.during == ShownBox::Question ? "question" : "port failure");
    SCOPED_TRACE(row.signal);
    // The port failure box needs a busy port.
    if (row.during == ShownBox::Message) holder.OpenPort();
    StartedWindow starting;
    starting.ComPort.SetPort(line.SlavePath());
    boxes.Clear();
    boxes.OnShow([&](const ShownBox& box) {
      if (box.kind == row.during)
        RequestStopDuringABox(row.signal, [&] { return starting.Ended(); });
    });
    boxes.AnswerQuestion(BoxAnswer::Yes);
    starting.Show();
    boxes.OnShow(nullptr);
    holder.ClosePort();
    EXPECT_TRUE(starting.Ended());
    EXPECT_FALSE(starting.isVisible());
    EXPECT_FALSE(starting.ComPort.Connected());
    // After the question no port was opened, so no failure box either.
    EXPECT_EQ(boxes.Shown().back().kind, row.during);
  }
}

// Whether a main window has been closed (the tool's, while its windows are
// still being made).
bool AMainWindowEnded() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (const auto* main = qobject_cast<TTl8Form*>(window); main && main->Ended()) return true;
  }
  return false;
}

// Run after such a stop: the message loop would wait for ever for a window
// that is already closed.
TEST_F(Startup, TheToolEndsAtOnceWhenAStopRequestCameDuringTheStartUp) {
  TComPort port;
  Session session(port);
  boxes.OnShow([](const ShownBox&) { RequestStopDuringABox(SIGHUP, AMainWindowEnded); });
  boxes.AnswerQuestion(BoxAnswer::No);  // no port is opened: the tool's own is COM1
  ToolWindows windows(session, port);
  boxes.OnShow(nullptr);
  EXPECT_FALSE(windows.Tl8Form()->isVisible());
  bool hung = false;
  QTimer guard;  // only a loop that runs reaches it
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    hung = true;
    QCoreApplication::quit();
  });
  guard.start(std::chrono::seconds(60));
  EXPECT_EQ(windows.Run(), 0);
  EXPECT_FALSE(hung);
}

// Stands in for whatever the process did on a stop request before the tool
// registered its handler: counts the requests instead of ending the test.
class CountingStopRequests {
 public:
  CountingStopRequests() {
    count = 0;
    struct sigaction counting {};
    counting.sa_handler = [](int) { count.fetch_add(1); };
    sigemptyset(&counting.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &counting, &saved_[i]);
  }
  ~CountingStopRequests() {
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &saved_[i], nullptr);
  }
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  static inline std::atomic<int> count{0};

 private:
  struct sigaction saved_[std::size(kSignals)];
};

// Once the main window and its session are gone, so are the stop event and
// the close action: a stop request then gets what it had before the tool (under the address
// sanitizer a handler left behind is a use after free).
TEST_F(Startup, StopRequestsAfterTheMainWindowIsGoneGetWhatWasThereBefore) {
  CountingStopRequests previous;
  boxes.AnswerQuestion(BoxAnswer::Yes);
  form->Show();
  ASSERT_TRUE(form->ComPort.Connected());
  raise(SIGTERM);
  EXPECT_EQ(CountingStopRequests::count, 0);  // the tool's handler took it
  EXPECT_TRUE(form->StopEvent()->IsSignalled());
  form.reset();
  for (int signal : CountingStopRequests::kSignals) raise(signal);
  QCoreApplication::processEvents();
  EXPECT_EQ(CountingStopRequests::count, 3);

  // A session that never registered leaves another one's registration alone.
  StartedWindow registered;
  registered.ComPort.SetPort(line.SlavePath());
  boxes.AnswerQuestion(BoxAnswer::Yes);
  registered.Show();
  { StartedWindow declined; }
  raise(SIGINT);
  EXPECT_TRUE(registered.StopEvent()->IsSignalled());
  EXPECT_EQ(CountingStopRequests::count, 3);
  QCoreApplication::processEvents();  // no stop request left over for a later window
}

// Stop requests keep arriving on another thread while main windows come and
// go (and each opening replaces the stop event): none may reach a stop event
// that is being destroyed.
TEST_F(Startup, StopRequestsDuringTeardownTouchNothingDestroyed) {
  CountingStopRequests previous;
  std::atomic<bool> done{false};
  std::thread requests([&] {
    while (!done) raise(SIGINT);  // handled on this thread
  });
  for (int round = 0; round < 30; ++round) {
    StartedWindow running;
    running.ComPort.SetPort(line.SlavePath());
    boxes.AnswerQuestion(BoxAnswer::Yes);
    running.Show();
    ASSERT_TRUE(running.ComPort.Connected());
    running.ComPort.ClosePort();
    running.OpenComport();  // a fresh stop event replaces the first
    ASSERT_TRUE(running.ComPort.Connected());
  }
  done = true;
  requests.join();
  QCoreApplication::processEvents();  // no stop request left over for a later window
  const int before = CountingStopRequests::count;
  raise(SIGINT);
  EXPECT_EQ(CountingStopRequests::count, before + 1);
}

}  // namespace
