#include "tests/support/scripted_boxes.h"

#include <gtest/gtest.h>

#include <QDialog>

namespace {

template <typename T>
std::optional<T> TakeFront(std::deque<T>& queue) {
  if (queue.empty()) return std::nullopt;
  T front = std::move(queue.front());
  queue.pop_front();
  return front;
}

// The next scripted file answer, nullopt for a cancelled dialog. Not
// TakeFront: moving an optional QString out of the queue makes GCC warn that
// the text may be read uninitialized, so only a QString is moved here.
std::optional<QString> TakeFile(std::deque<std::optional<QString>>& files, const char* dialog) {
  if (files.empty()) {
    ADD_FAILURE() << "unexpected " << dialog << " dialog";
    return std::nullopt;
  }
  const bool chosen = files.front().has_value();
  QString name = chosen ? std::move(*files.front()) : QString();
  files.pop_front();
  if (!chosen) return std::nullopt;
  return name;
}

}  // namespace

ScriptedBoxes::ScriptedBoxes() { SetBoxes(this); }

ScriptedBoxes::~ScriptedBoxes() { SetBoxes(nullptr); }

std::vector<QString> ScriptedBoxes::Texts() const {
  std::vector<QString> texts;
  for (const ShownBox& box : shown_) texts.push_back(box.text);
  return texts;
}

void ScriptedBoxes::Record(ShownBox box) {
  shown_.push_back(std::move(box));
  if (onShow_) onShow_(shown_.back());
}

void ScriptedBoxes::Message(const QString& text, BoxIcon icon, std::optional<QPoint> pos,
                            const QString& caption) {
  Record({ShownBox::Message, text, caption.isEmpty() ? ApplicationTitle() : caption, icon, pos});
}

BoxAnswer ScriptedBoxes::Question(const QString& text, std::optional<QPoint> pos) {
  Record({ShownBox::Question, text, ApplicationTitle(), BoxIcon::None, pos});
  const auto answer = TakeFront(questions_);
  if (!answer) ADD_FAILURE() << "unexpected question: " << text.toStdString();
  return answer.value_or(BoxAnswer::No);
}

std::optional<QString> ScriptedBoxes::SaveFileName(const QString& proposedName, const QString&,
                                                   const QString&) {
  Record({ShownBox::SaveFile, proposedName, QString(), BoxIcon::None, std::nullopt});
  return TakeFile(files_, "save");
}

std::optional<QString> ScriptedBoxes::OpenFileName(const QString&) {
  Record({ShownBox::OpenFile, QString(), QString(), BoxIcon::None, std::nullopt});
  return TakeFile(files_, "open");
}

int ScriptedBoxes::Exec(QDialog& dialog) {
  const auto user = TakeFront(dialogs_);
  dialog.setResult(QDialog::Rejected);
  dialog.setModal(true);
  dialog.show();
  Record(
      {ShownBox::Dialog, dialog.windowTitle(), dialog.windowTitle(), BoxIcon::None, dialog.pos()});
  // Whether the user ended it, rather than whether it is still on the screen:
  // a window system may take it off only once events are handled (Qt's
  // windows platform under Wine without a display does).
  bool finished = false;
  const QMetaObject::Connection ends =
      QObject::connect(&dialog, &QDialog::finished, [&finished] { finished = true; });
  if (user) {
    (*user)(dialog);
  } else {
    ADD_FAILURE() << "unexpected dialog: " << dialog.metaObject()->className();
  }
  QObject::disconnect(ends);
  if (!finished) dialog.reject();
  dialog.hide();
  return dialog.result();
}
