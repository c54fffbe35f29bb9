// The line monitor window: it shows the session's traffic as it happens and
// only while it is open, keeps the newest 10 000 lines, follows the newest
// line unless the user scrolled up or paused, clears, and saves the lines as
// shown.

#include "windows/linemonitor.h"

#include "modbus/service.h"
#include "modbus/session.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

namespace {

// Handles events for up to `ms` of real time, until `done` holds.
bool HandleEventsUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

class LineMonitor : public ::testing::Test {
 protected:
  // The log's lines as the monitor words them.
  QStringList LogLines() const {
    QStringList lines;
    for (const TrafficEntry& entry : session().Traffic().Since(0)) lines << TrafficLine(entry);
    return lines;
  }
  QStringList Shown() const {
    const QString text = window.Lines->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
  }
  void Record(int count) {
    for (int i = 0; i < count; ++i)
      session().Traffic().Record(TrafficDirection::Sent, std::string(1, char(i)), "x");
  }
  Session& session() const { return sim.session; }
  QScrollBar& Bar() const { return *window.Lines->verticalScrollBar(); }

  QApplication& app = TestApp();  // before any widget
  ScriptedBoxes boxes;
  mutable tl8test::SimSession sim{tl8test::SimulatorSetup({"--address", "2", "--echo"})};
  TLineMonitor window{sim.session};
};

TEST_F(LineMonitor, ShowsTheSessionWhileOpenAsItHappens) {
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Журнал обмена"));
  EXPECT_TRUE(window.isWindow());
  FindAdapterAddress(session(), [] {});  // before the window opens: shown when it does
  window.Open();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(Shown(), LogLines());
  EXPECT_EQ(Shown().size(), 6);  // two addresses, each with its frame, echo and answer

  session().Exchange().DeviceAddress = 2;
  ASSERT_TRUE(ReadAllParameters(
      session(), [](const ParameterReading&) {}, 0));
  // The refresh timer brings the new lines in batches.
  EXPECT_TRUE(HandleEventsUntil([&] { return Shown() == LogLines(); }, 30000));
  EXPECT_TRUE(Shown().last().contains(QStringLiteral("← ")));

  window.hide();  // closed: the view is left alone until it opens again
  ReadAllParameters(
      session(), [](const ParameterReading&) {}, 0);
  HandleEventsUntil([] { return false; }, 300);
  EXPECT_NE(Shown(), LogLines());
  window.Open();
  EXPECT_EQ(Shown(), LogLines());
}

TEST_F(LineMonitor, KeepsTheNewest10000Lines) {
  Record(10005);
  window.Open();
  const QStringList shown = Shown();
  ASSERT_EQ(shown.size(), 10000);
  EXPECT_EQ(shown, LogLines());
  EXPECT_EQ(window.Lines->document()->blockCount(), 10000);
}

TEST_F(LineMonitor, FollowsTheNewestLineUnlessScrolledUpOrPaused) {
  window.resize(600, 300);
  Record(200);
  window.Open();
  QApplication::processEvents();
  ASSERT_GT(Bar().maximum(), 0);
  EXPECT_EQ(Bar().value(), Bar().maximum());

  Record(10);
  window.ShowNewLines();
  EXPECT_EQ(Bar().value(), Bar().maximum()) << "at the bottom: follows";

  Bar().setValue(10);
  Record(10);
  window.ShowNewLines();
  EXPECT_EQ(Bar().value(), 10) << "scrolled up: stays";

  Bar().setValue(Bar().maximum());
  window.PauseButton->click();
  ASSERT_TRUE(window.PauseButton->isChecked());
  const int held = Bar().value();
  Record(10);
  window.ShowNewLines();
  EXPECT_EQ(Shown().size(), 230) << "paused: still recorded";
  EXPECT_EQ(Bar().value(), held);
  EXPECT_LT(Bar().value(), Bar().maximum());

  window.PauseButton->click();
  EXPECT_EQ(Bar().value(), Bar().maximum()) << "resumed: back at the newest line";
}

TEST_F(LineMonitor, ClearsAndSavesTheLinesAsShown) {
  QTemporaryDir dir;
  Record(3);
  session().Traffic().Record(TrafficDirection::Received, "", traffic::kNoAnswer);
  window.Open();
  const QStringList shown = Shown();
  ASSERT_EQ(shown.size(), 4);

  const QString path = dir.filePath(QStringLiteral("журнал.txt"));
  boxes.AnswerFile(path);
  window.SaveButton->click();
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), (shown.join('\n') + '\n').toUtf8());
  EXPECT_TRUE(boxes.Shown().size() == 1 && boxes.Shown()[0].kind == ShownBox::SaveFile);

  boxes.AnswerFile(std::nullopt);  // cancelled: nothing written, nothing said
  window.SaveButton->click();
  EXPECT_EQ(boxes.Shown().size(), 2u);

  const QString nowhere = dir.filePath(QStringLiteral("missing/журнал.txt"));
  boxes.AnswerFile(nowhere);
  window.SaveButton->click();
  ASSERT_EQ(boxes.Shown().size(), 4u);
  EXPECT_EQ(boxes.Shown()[3].icon, BoxIcon::Error);
  EXPECT_TRUE(boxes.Shown()[3].text.startsWith("Cannot save \"" + nowhere + "\": "))
      << boxes.Shown()[3].text.toStdString();
  EXPECT_FALSE(QFile::exists(nowhere));

  window.ClearButton->click();
  EXPECT_TRUE(Shown().isEmpty());
  EXPECT_TRUE(session().Traffic().Since(0).empty());
  Record(1);
  window.ShowNewLines();
  EXPECT_EQ(Shown(), LogLines());
  EXPECT_EQ(Shown().size(), 1);
}

// The bytes line up in columns: every character is as wide as any other.
// Offscreen on Windows Qt knows no fonts: scripts/windows.sh runs this case on
// Qt's windows platform under Wine, which has no Courier New.
TEST_F(LineMonitor, ShowsTheLinesInAFixedPitchFont) {
  if (QFontDatabase::families().isEmpty()) GTEST_SKIP() << "the platform knows no fonts";
  const QFont font = window.Lines->font();
  EXPECT_TRUE(QFontInfo(font).fixedPitch()) << QFontInfo(font).family().toStdString();
  const QFontMetrics metrics(font);
  EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("1111 ....")),
            metrics.horizontalAdvance(QStringLiteral("FFFF WWWW")));
}

TEST_F(LineMonitor, EveryControlHasAnAccessibleName) {
  EXPECT_EQ(window.Lines->accessibleName(), QStringLiteral("Журнал обмена"));
  const std::pair<QPushButton*, const char*> buttons[] = {
      {window.ClearButton, "Очистить"},
      {window.SaveButton, "Сохранить…"},
      {window.PauseButton, "Пауза"},
  };
  for (const auto& [button, text] : buttons) {
    EXPECT_EQ(button->text(), QString::fromUtf8(text));
    EXPECT_EQ(button->accessibleName(), QString::fromUtf8(text));
  }
  EXPECT_TRUE(window.PauseButton->isCheckable());
}

}  // namespace
