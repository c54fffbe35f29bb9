// The password gate: which word opens which mode, what stays in the edit, and
// how the dialog is answered and closed.
#include "windows/paswkoefform.h"
#include "modbus/session.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"

#include "tests/support/sim_session.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QWindow>

namespace {

constexpr PasswordRequest Unlock = PasswordRequest::Unlock;
constexpr PasswordRequest Write = PasswordRequest::Write;

class PasswordGate : public ::testing::Test {
 protected:
  // Shows the gate in `mode`, types `word` and confirms it with Enter or "Ok".
  void Answer(PasswordRequest mode, const QString& word, bool withEnter = false) {
    boxes.AnswerDialog([&](QDialog&) {
      gate.PaswKoefEdit->setText(word);
      if (withEnter) {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(gate.PaswKoefEdit, &enter);
      } else {
        gate.Button1->click();
      }
    });
    session.AskPassword(mode);
  }

  bool Refused() const {
    const auto& shown = boxes.Shown();
    return shown.size() >= 2 && shown.back().kind == ShownBox::Message &&
           shown.back().text == QStringLiteral("Пароль введен неверно") &&
           shown.back().pos == QPoint(270, 215) && shown.back().icon == BoxIcon::None;
  }

  QApplication& app = TestApp();  // before any widget
  ScriptedBoxes boxes;
  tl8test::SimSession sim;
  Session& session = sim.session;
  TPaswKoefForm gate{session};
};

TEST_F(PasswordGate, EachModeTakesOnlyItsOwnWordExactly) {
  const struct {
    PasswordRequest mode;
    const char* word;
    bool unlock, write;
    const char* leftInEdit;
  } cases[] = {
      {Unlock, "Rumel", true, false, ""},        {Unlock, "rumel", false, false, ""},
      {Unlock, " Rumel", false, false, ""},      {Unlock, "Rumel ", false, false, ""},
      {Unlock, "Pelmar", false, false, ""},      {Unlock, "", false, false, ""},
      {Write, "Pelmar", false, true, "Pelmar"},  {Write, "Rumel", false, false, "Rumel"},
      {Write, "PELMAR", false, false, "PELMAR"},
  };
  for (const auto& c : cases) {
    boxes.Clear();
    Answer(c.mode, QString::fromUtf8(c.word));
    SCOPED_TRACE(testing::Message()
                 << "mode " << static_cast<int>(c.mode) << " word '" << c.word << "'");
    EXPECT_EQ(session.UnlockGranted(), c.unlock);
    EXPECT_EQ(session.WriteGranted(), c.write);
    EXPECT_EQ(Refused(), !c.unlock && !c.write);
    EXPECT_EQ(gate.PaswKoefEdit->text(), QString::fromUtf8(c.leftInEdit));
    EXPECT_FALSE(gate.isVisible());
  }
}

TEST_F(PasswordGate, EnterPressesOk) {
  Answer(Unlock, QStringLiteral("Rumel"), true);
  EXPECT_TRUE(session.UnlockGranted());
  EXPECT_FALSE(gate.isVisible());
}

TEST_F(PasswordGate, TheCloseBoxRefusesSilentlyAndNoGrantOutlivesItsShowing) {
  Answer(Unlock, QStringLiteral("Rumel"));
  ASSERT_TRUE(session.UnlockGranted());
  boxes.Clear();
  boxes.AnswerDialog([&](QDialog& dialog) {
    EXPECT_TRUE(gate.PaswKoefEdit->text().isEmpty());
    EXPECT_FALSE(session.UnlockGranted());  // cleared when shown
    gate.PaswKoefEdit->setText(QStringLiteral("Rumel"));
    dialog.close();
  });
  session.AskPassword(Unlock);
  EXPECT_FALSE(session.UnlockGranted());
  EXPECT_EQ(boxes.Shown().size(), 1u);  // the dialog itself, no message
}

TEST_F(PasswordGate, ShowsStarsAndNamesItsField) {
  EXPECT_EQ(gate.PaswKoefEdit->echoMode(), QLineEdit::Password);
  EXPECT_EQ(gate.PaswKoefEdit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                  gate.PaswKoefEdit),
            '*');
  EXPECT_EQ(gate.PaswKoefEdit->accessibleName(), QStringLiteral("Введите кодовое слово - пароль"));
  EXPECT_EQ(gate.accessibleName(), QStringLiteral("Введите кодовое слово - пароль"));
  EXPECT_TRUE(gate.Button1->isDefault());
}

// For an empty title Qt gives the window system the application's name, which
// the title bar would show; a blank is sent as it is and shows nothing.
TEST_F(PasswordGate, TheTitleBarShowsNothing) {
  gate.winId();  // the native window, as showing it would make it
  ASSERT_NE(gate.windowHandle(), nullptr);
  const QString sent = gate.windowHandle()->title();
  EXPECT_FALSE(sent.isEmpty());
  EXPECT_TRUE(sent.trimmed().isEmpty()) << sent.toStdString();
}

}  // namespace
