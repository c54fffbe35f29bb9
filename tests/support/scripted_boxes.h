#pragma once
// Boxes for tests: every box shown is recorded (kind, text, caption, icon,
// position) and answered from a script queued beforehand. A box that nobody
// scripted fails the running test and gets the negative answer.

#include "ui/boxes.h"

#include <deque>
#include <functional>
#include <vector>

struct ShownBox {
  enum Kind { Message, Question, SaveFile, OpenFile, Dialog };
  Kind kind = Message;
  QString text;     // message or question text; proposed name for SaveFile
  QString caption;  // the caption as shown (the application title when none was given)
  BoxIcon icon = BoxIcon::None;
  std::optional<QPoint> pos;
};

class ScriptedBoxes final : public Boxes {
 public:
  ScriptedBoxes();            // installs itself as the process-wide boxes
  ~ScriptedBoxes() override;  // and restores the silent ones

  void AnswerQuestion(BoxAnswer answer) { questions_.push_back(answer); }
  void AnswerFile(std::optional<QString> name) { files_.push_back(std::move(name)); }
  // The callback plays the user in a modal dialog, which is on the (offscreen)
  // screen meanwhile: it types, clicks "OK" or closes it. Exec returns the
  // dialog's result and leaves it hidden.
  void AnswerDialog(std::function<void(QDialog&)> user) { dialogs_.push_back(std::move(user)); }
  // Runs whenever a box is shown, while it is "on the screen".
  void OnShow(std::function<void(const ShownBox&)> hook) { onShow_ = std::move(hook); }

  const std::vector<ShownBox>& Shown() const { return shown_; }
  std::vector<QString> Texts() const;  // texts of every box shown, in order
  void Clear() { shown_.clear(); }

  void Message(const QString& text, BoxIcon icon, std::optional<QPoint> pos,
               const QString& caption) override;
  BoxAnswer Question(const QString& text, std::optional<QPoint> pos) override;
  std::optional<QString> SaveFileName(const QString& proposedName, const QString& filter,
                                      const QString& defaultSuffix) override;
  std::optional<QString> OpenFileName(const QString& filter) override;
  int Exec(QDialog& dialog) override;

 private:
  std::vector<ShownBox> shown_;
  std::deque<BoxAnswer> questions_;
  std::deque<std::optional<QString>> files_;
  std::deque<std::function<void(QDialog&)>> dialogs_;
  std::function<void(const ShownBox&)> onShow_;

  void Record(ShownBox box);
};
