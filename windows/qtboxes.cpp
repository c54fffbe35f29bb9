#include "windows/qtboxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWindow>

#include <utility>

namespace {

QMessageBox::Icon ToQt(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information:
      return QMessageBox::Information;
    case BoxIcon::Warning:
      return QMessageBox::Warning;
    case BoxIcon::Error:
      return QMessageBox::Critical;
    case BoxIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// The tool's texts break lines with a lone carriage return; Qt wants "\n".
QString WithLineBreaks(QString text) {
  return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace('\r', '\n');
}

// The buttons read as the tool's boxes always have, whatever translation of
// Qt is loaded (Qt's Russian one would make "&Да" of "&Yes").
void KeepButtonCaptions(QMessageBox& box) {
  static const std::pair<QMessageBox::StandardButton, const char*> kCaptions[] = {
      {QMessageBox::Ok, "OK"}, {QMessageBox::Yes, "&Yes"}, {QMessageBox::No, "&No"}};
  for (const auto& [which, caption] : kCaptions) {
    if (QAbstractButton* button = box.button(which)) button->setText(QString::fromLatin1(caption));
  }
}

// The window the user is at work in, which asks for the box: the active one.
// Right after a dialog of the window system (a file dialog) has closed, no
// window may be active yet, its owner's activation still on its way: then
// the window that asked last asks again, while it is still on the screen.
QWidget* Asker() {
  static QPointer<QWidget> last;
  if (QWidget* active = QApplication::activeWindow()) last = active;
  return last && last->isVisible() ? last.data() : nullptr;
}

// A box that is given a position keeps its top-left corner there; otherwise Qt
// centres it.
int ExecAt(QMessageBox& box, std::optional<QPoint> pos) {
  Asker();  // noted while it is active: what the box leads to belongs to it too
  KeepButtonCaptions(box);
  if (pos) box.move(*pos);
  return box.exec();
}

// The window that asked for one of the tool's dialogs owns the dialog while it
// is open, so the window system brings that window back when the dialog
// closes. The owner Qt would give it, its parent (the main window for the
// password dialog), would come up instead, over the bounds or calibration
// window and its progress panel. Qt's message boxes, parentless, get the
// active window as owner already.
void OwnedByAsker(QDialog& dialog) {
  QWidget* asker = Asker();
  if (!asker || asker == &dialog) return;
  dialog.winId();  // its native window, which takes the owner
  dialog.windowHandle()->setTransientParent(asker->windowHandle());
}

}  // namespace

void QtBoxes::Message(const QString& text, BoxIcon icon, std::optional<QPoint> pos,
                      const QString& caption) {
  QMessageBox box(ToQt(icon), caption.isEmpty() ? ApplicationTitle() : caption,
                  WithLineBreaks(text), QMessageBox::Ok);
  ExecAt(box, pos);
}

BoxAnswer QtBoxes::Question(const QString& text, std::optional<QPoint> pos) {
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), WithLineBreaks(text),
                  QMessageBox::Yes | QMessageBox::No);
  return ExecAt(box, pos) == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
}

std::optional<QString> QtBoxes::SaveFileName(const QString& proposedName, const QString& filter,
                                             const QString& defaultSuffix) {
  // Owned by the window that asked, which the window system then brings back
  // when it closes; without an owner, the main window would come up instead.
  QFileDialog dialog(Asker());
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilter(filter);
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

std::optional<QString> QtBoxes::OpenFileName(const QString& filter) {
  QFileDialog dialog(Asker());  // owned as the save dialog is
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!filter.isEmpty()) dialog.setNameFilter(filter);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

int QtBoxes::Exec(QDialog& dialog) {
  OwnedByAsker(dialog);
  return dialog.exec();
}
