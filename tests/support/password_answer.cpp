#include "tests/support/password_answer.h"

#include "tests/support/scripted_boxes.h"
#include "windows/paswkoefform.h"

#include <QLineEdit>
#include <QPushButton>

void AnswerPassword(ScriptedBoxes& boxes, const QString& word) {
  boxes.AnswerDialog([word](QDialog& dialog) {
    auto& gate = dynamic_cast<TPaswKoefForm&>(dialog);
    gate.PaswKoefEdit->setText(word);
    gate.Button1->click();
  });
}
