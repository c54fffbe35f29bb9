// The password gate: which word opens which mode, what stays in the edit, and
// how the dialog is answered and closed.
#include "windows/paswkoefform.h"
#include "modbus/session.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QWindow>

namespace {

class PasswordGate : public ::testing::Test {
 protected:
  // Shows the gate in `mode`, types `word` and confirms it with Enter or "Ok".
  void Answer(int mode, const QString& word, bool withEnter = false) {
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
  Session session;
  TPaswKoefForm gate{session};
};

TEST_F(PasswordGate, EachModeTakesOnlyItsOwnWordExactly) {
  const struct {
    int mode;
    const char* word;
    int unlock, write;
    const char* leftInEdit;
  } cases[] = {
      {1, "Rumel", 1, 0, ""},        {1, "rumel", 0, 0, ""},      {1, " Rumel", 0, 0, ""},
      {1, "Rumel ", 0, 0, ""},       {1, "Pelmar", 0, 0, ""},     {1, "", 0, 0, ""},
      {0, "Pelmar", 0, 1, "Pelmar"}, {0, "Rumel", 0, 0, "Rumel"}, {0, "PELMAR", 0, 0, "PELMAR"},
      {7, "Pelmar", 0, 1, "Pelmar"},  // any mode but 1 asks for the write word
  };
  for (const auto& c : cases) {
    boxes.Clear();
    Answer(c.mode, QString::fromUtf8(c.word));
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " word '" << c.word << "'");
    EXPECT_EQ(session.UnlockGranted, c.unlock);
    EXPECT_EQ(session.WriteGranted, c.write);
    EXPECT_EQ(Refused(), c.unlock + c.write == 0);
    EXPECT_EQ(gate.PaswKoefEdit->text(), QString::fromUtf8(c.leftInEdit));
    EXPECT_FALSE(gate.isVisible());
  }
}

TEST_F(PasswordGate, EnterPressesOk) {
  Answer(1, QStringLiteral("Rumel"), true);
  EXPECT_EQ(session.UnlockGranted, 1);
  EXPECT_FALSE(gate.isVisible());
}

TEST_F(PasswordGate, TheCloseBoxRefusesSilentlyAndNoGrantOutlivesItsShowing) {
  Answer(1, QStringLiteral("Rumel"));
  ASSERT_EQ(session.UnlockGranted, 1);
  boxes.Clear();
  boxes.AnswerDialog([&](QDialog& dialog) {
    EXPECT_TRUE(gate.PaswKoefEdit->text().isEmpty());
    EXPECT_EQ(session.UnlockGranted, 0);  // cleared when shown
    gate.PaswKoefEdit->setText(QStringLiteral("Rumel"));
    dialog.close();
  });
  session.AskPassword(1);
  EXPECT_EQ(session.UnlockGranted, 0);
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
