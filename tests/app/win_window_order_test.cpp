// Which window is in front once the password dialog closes, on the Windows
// window system: the window that asked (here the bounds window, in front of
// the main window) must stay there, whether the word was right, wrong (and
// its box answered) or the dialog was closed. Needs Qt's windows platform
// and a display (scripts/windows.sh runs it so under Wine on a virtual
// display); elsewhere, as under CTest's offscreen platform, it is skipped.

#include "app/tl8form.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/qt_app.h"
#include "windows/koefforpotreb.h"
#include "windows/paswkoefform.h"
#include "windows/qtboxes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <windows.h>

#include <functional>

namespace {

HWND Handle(const QWidget& window) { return reinterpret_cast<HWND>(window.winId()); }

// Handles events until `done` holds, for at most 10 s; returns whether it held.
bool HandleEventsUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 10'000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

class WindowOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QStringLiteral("windows"))
      GTEST_SKIP() << "needs the windows platform on a display, not "
                   << qPrintable(QGuiApplication::platformName());
    SetBoxes(&qtBoxes);
    main.show();
    bounds.show();
    bounds.raise();
    bounds.activateWindow();
    ASSERT_TRUE(HandleEventsUntil([this] {
      return ::GetForegroundWindow() == Handle(bounds) && QApplication::activeWindow() == &bounds;
    }));
  }
  void TearDown() override { SetBoxes(nullptr); }

  // The user at the screen: answers the wrong-word box, and types `word` into
  // the password dialog and confirms it, or closes the dialog when `word` is
  // empty.
  void PlayUser(const QString& word) {
    user.setInterval(20);
    QObject::connect(&user, &QTimer::timeout, [this, word, answered = false]() mutable {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (box && box->isVisible()) box->button(QMessageBox::Ok)->click();
      }
      if (answered || !gate.isVisible()) return;
      answered = true;
      // Queued: the box a wrong word brings runs its own event loop, in which
      // this timer, still in its slot, would never fire again.
      gate.PaswKoefEdit->setText(word);
      if (word.isEmpty())
        QMetaObject::invokeMethod(&gate, &QWidget::close, Qt::QueuedConnection);
      else
        QMetaObject::invokeMethod(gate.Button1, &QAbstractButton::click, Qt::QueuedConnection);
    });
    user.start();
  }

  // The window in front once the dialog has gone: one of the two tool windows.
  HWND FrontWindowAfterwards() {
    HandleEventsUntil([this] {
      const HWND front = ::GetForegroundWindow();
      return front == Handle(bounds) || front == Handle(main);
    });
    return ::GetForegroundWindow();
  }

  QApplication& app = TestApp();
  QtBoxes qtBoxes;
  TComPort port;
  Session session{port};
  TTl8Form main{session, port};
  TKoefForPotreb bounds{session};
  TPaswKoefForm gate{session, &main};  // as the tool makes it
  QTimer user;
};

TEST_F(WindowOrder, TheAskingWindowStaysInFrontAfterTheRightWord) {
  PlayUser(QStringLiteral("Rumel"));
  session.AskPassword(PasswordRequest::Unlock);
  EXPECT_TRUE(session.UnlockGranted());
  EXPECT_EQ(FrontWindowAfterwards(), Handle(bounds)) << "the main window came to the front";
}

TEST_F(WindowOrder, TheAskingWindowStaysInFrontAfterAWrongWordAndItsBox) {
  PlayUser(QStringLiteral("wrong"));
  session.AskPassword(PasswordRequest::Unlock);
  EXPECT_FALSE(session.UnlockGranted());
  EXPECT_EQ(FrontWindowAfterwards(), Handle(bounds)) << "the main window came to the front";
}

TEST_F(WindowOrder, TheAskingWindowStaysInFrontWhenTheDialogIsClosed) {
  PlayUser(QString());
  session.AskPassword(PasswordRequest::Unlock);
  EXPECT_EQ(FrontWindowAfterwards(), Handle(bounds)) << "the main window came to the front";
}

}  // namespace
