// Start-up of the main window: the jumper question, opening the port, and the
// menu that is left for each answer.
#include "app/tl8form.h"
#include "modbus/exchange_state.h"
#include "tests/support/pty_pair.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "windows/paswkoefform.h"

#include <gtest/gtest.h>

#include <csignal>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

namespace {

const QString kQuestion = QStringLiteral(
    "   Перед работой с протоколом ICP CON нужна перемычка между \"Тест\" и \"GND\". Продолжим ? ");

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    Exchange().DeviceAddress = 0;
    PasswordMode = 7;
    form = std::make_unique<TTl8Form>();
    form->ComPort.SetPort(line.SlavePath());  // never the real COM1
  }

  bool Visible(QMenu* menu) const { return menu->menuAction()->isVisible(); }

  PtyPair line;
  ScriptedBoxes boxes;
  std::unique_ptr<TTl8Form> form;
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
  EXPECT_EQ(Exchange().DeviceAddress, 1);
  EXPECT_EQ(PasswordMode, 0);
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
  EXPECT_EQ(failure.text, QStringLiteral("Вероятно, выполняется другая программа,\rоткрывшая порт ") +
                              QString::fromStdString(line.SlavePath()) +
                              QStringLiteral(". Закройте программу,\rзахватившую порт, или укажите другой порт."));
  EXPECT_EQ(Exchange().DeviceAddress, 1);
  EXPECT_TRUE(Visible(form->N1));
  // A second attempt, once the port is free, opens it with a fresh stop event.
  holder.ClosePort();
  form->OpenComport();
  EXPECT_TRUE(form->ComPort.Connected());
}

TEST_F(Startup, AnyOtherAnswerLeavesOnlyExit) {
  for (BoxAnswer answer : {BoxAnswer::No, BoxAnswer::Closed}) {
    TTl8Form declined;
    declined.ComPort.SetPort(line.SlavePath());
    boxes.AnswerQuestion(answer);
    declined.Show();
    EXPECT_FALSE(Visible(declined.N1));
    EXPECT_FALSE(Visible(declined.N3));
    EXPECT_TRUE(declined.N6->isVisible());
    EXPECT_FALSE(declined.ComPort.Connected());
    EXPECT_EQ(Exchange().DeviceAddress, 0);
  }
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
  for (int signal : {SIGINT, SIGTERM}) {
    TTl8Form running;
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

}  // namespace
