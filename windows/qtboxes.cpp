#include "windows/qtboxes.h"

#include <QFileDialog>
#include <QMessageBox>

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

// A box that is given a position keeps its top-left corner there; otherwise Qt
// centres it.
int ExecAt(QMessageBox& box, std::optional<QPoint> pos) {
  if (pos) box.move(*pos);
  return box.exec();
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
  QFileDialog dialog;
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
  QFileDialog dialog;
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!filter.isEmpty()) dialog.setNameFilter(filter);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

int QtBoxes::Exec(QDialog& dialog) { return dialog.exec(); }
