#include "windows/keyfilter.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr QChar kBackspace(8);

// Keys whose text is a control character but which type nothing: Tab moves
// the focus, Delete deletes.
bool IsEditingKey(int key) {
  return key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Delete;
}

class KeyFilter final : public QObject {
 public:
  KeyFilter(QLineEdit* edit, KeyRule rule) : QObject(edit), edit_(edit), rule_(std::move(rule)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != edit_ || event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (text.size() != 1 || IsEditingKey(key->key())) return false;
    const std::optional<QChar> passed = rule_(text[0]);
    if (passed == text[0]) return false;  // the box handles the key itself
    if (passed && !edit_->isReadOnly()) edit_->insert(QString(*passed));
    return true;
  }

 private:
  QLineEdit* edit_;
  KeyRule rule_;
};

bool IsExponentLetter(QChar c) {
  return c == u'E' || c == u'e' || c == u'\u0415' || c == u'\u0435';  // Latin, Cyrillic
}

}  // namespace

void FilterKeys(QLineEdit* edit, KeyRule rule) {
  edit->installEventFilter(new KeyFilter(edit, std::move(rule)));
}

void ButtonsTakeEnter(QWidget* window) {
  for (QPushButton* button : window->findChildren<QPushButton*>()) button->setAutoDefault(true);
}

std::optional<QChar> NumberKey(QChar typed) {
  if (typed == u',') return QChar(u'.');
  if (IsExponentLetter(typed)) return QChar(u'E');
  if (typed.isDigit() && typed.unicode() < 128) return typed;
  if (typed == u'-' || typed == u'.' || typed == kBackspace) return typed;
  return std::nullopt;
}

std::optional<QChar> DigitKey(QChar typed) {
  if ((typed.isDigit() && typed.unicode() < 128) || typed == kBackspace) return typed;
  return std::nullopt;
}
