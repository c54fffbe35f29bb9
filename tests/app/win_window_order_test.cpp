// Which window is in front once the password dialog closes, on the Windows
// window system: the window that asked (here the bounds window, in front of
// the main window) must stay there, whether the word was right, wrong (and
// its box answered) or the dialog was closed; and the calibration window
// stays in front through a write that saves its file first (the question,
// Windows' own file dialog, the password) and through the write itself.
// Needs Qt's windows platform and a display (scripts/windows.sh runs it so
// under Wine on a virtual display); elsewhere, as under CTest's offscreen
// platform, it is skipped.

#include "app/tl8form.h"
#include "modbus/password.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/qt_app.h"
#include "tests/support/sim_session.h"
#include "windows/koefforpotreb.h"
#include "windows/paswkoefform.h"
#include "windows/qtboxes.h"
#include "windows/tehform.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

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

// The calibration window's write with a file saved first: the save question,
// Windows' own file dialog, the password dialog, then the write with its
// progress panel. The calibration window must stay in front all the way.
class CalibrationWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QStringLiteral("windows"))
      GTEST_SKIP() << "needs the windows platform on a display, not "
                   << qPrintable(QGuiApplication::platformName());
    SetBoxes(&qtBoxes);
    sim.Restart(tl8test::SimulatorSetup({}));
    session.Exchange().DeviceAddress = 1;
    main.show();
    calibration.show();
    calibration.raise();
    calibration.activateWindow();
    calibration.NachButtonClick();
    calibration.setEnabled(true);
    ASSERT_TRUE(HandleEventsUntil([this] {
      return ::GetForegroundWindow() == Handle(calibration) &&
             QApplication::activeWindow() == &calibration;
    }));
  }
  void TearDown() override { SetBoxes(nullptr); }

  QApplication& app = TestApp();
  QtBoxes qtBoxes;
  tl8test::SimSession sim;
  Session& session = sim.session;
  TComPort port;
  TTl8Form main{session, port};
  TTehForm calibration{session};
  TPaswKoefForm gate{session, &main};  // as the tool makes it
  QTimer user;
  QTemporaryDir files;
};

// The name field of Windows' own file dialogs.
constexpr int kFileNameField = 1152;

// Windows' own file dialog of this thread, when one is open.
HWND OpenFileDialog() {
  HWND found = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM result) -> BOOL {
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, 16);
        if (std::wstring(name) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Whether `upper` lies above `lower` in the window system's order.
bool Above(HWND upper, HWND lower) {
  for (HWND window = ::GetWindow(lower, GW_HWNDPREV); window;
       window = ::GetWindow(window, GW_HWNDPREV))
    if (window == upper) return true;
  return false;
}

TEST_F(CalibrationWrite, TheCalibrationWindowStaysInFrontThroughASavedFileAndTheWrite) {
  // The user: "Yes" to the save question, a name typed into the file dialog
  // and "Save", the write word into the password dialog.
  QString fileName;
  user.setInterval(20);
  QObject::connect(&user, &QTimer::timeout, [&] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(window);
      if (box && box->isVisible() && box->button(QMessageBox::Yes))
        box->button(QMessageBox::Yes)->click();
    }
    if (const HWND dialog = OpenFileDialog()) {
      ::SetDlgItemTextW(dialog, kFileNameField,
                        QDir::toNativeSeparators(fileName).toStdWString().c_str());
      ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
    }
    if (gate.isVisible() && gate.PaswKoefEdit->text().isEmpty()) {
      gate.PaswKoefEdit->setText(kWritePassword);
      QMetaObject::invokeMethod(gate.Button1, &QAbstractButton::click, Qt::QueuedConnection);
    }
  });
  // Where the write stands while its progress panel moves.
  std::vector<HWND> frontDuringWrite;
  QObject::connect(calibration.ProgressBar1, &QProgressBar::valueChanged,
                   [&] { frontDuringWrite.push_back(::GetForegroundWindow()); });
  user.start();
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    fileName = files.filePath(QStringLiteral("round%1.dat").arg(round));
    frontDuringWrite.clear();
    calibration.WriteButtonClick();
    EXPECT_TRUE(QFileInfo::exists(fileName)) << "the file dialog was not answered";
    EXPECT_EQ(sim.Received().size(), std::size_t(17 * round)) << "the write did not go out";
    ASSERT_FALSE(frontDuringWrite.empty());
    EXPECT_EQ(std::count(frontDuringWrite.begin(), frontDuringWrite.end(), Handle(calibration)),
              std::ptrdiff_t(frontDuringWrite.size()))
        << "another window came to the front during the write";
    HandleEventsUntil([this] {
      const HWND front = ::GetForegroundWindow();
      return front == Handle(calibration) || front == Handle(main);
    });
    EXPECT_EQ(::GetForegroundWindow(), Handle(calibration)) << "the main window came to the front";
    EXPECT_FALSE(Above(Handle(main), Handle(calibration))) << "the main window covers it";
  }
}

}  // namespace
