#include "ui/boxes.h"

#include <QFileInfo>

#include <system_error>

namespace {

// Until the tool or a test installs its own, boxes are not shown at all.
class SilentBoxes final : public Boxes {
 public:
  void Message(const QString&, BoxIcon, std::optional<QPoint>, const QString&) override {}
  BoxAnswer Question(const QString&, std::optional<QPoint>) override { return BoxAnswer::No; }
  std::optional<QString> SaveFileName(const QString&, const QString&, const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> OpenFileName(const QString&) override { return std::nullopt; }
  int Exec(QDialog&) override { return 0; }
};

SilentBoxes silentBoxes;
Boxes* current = &silentBoxes;
QString title;

}  // namespace

Boxes& boxes() { return *current; }

void SetBoxes(Boxes* instance) { current = instance ? instance : &silentBoxes; }

QString ApplicationTitleFromPath(const QString& executablePath) {
  QString name = QFileInfo(executablePath).fileName();
  name = name.left(name.indexOf('.') < 0 ? name.size() : name.indexOf('.'));
  return name.left(1) + name.mid(1).toLower();
}

const QString& ApplicationTitle() { return title; }

void SetApplicationTitle(const QString& newTitle) { title = newTitle; }

QString ErrorReportText(const std::exception& failure) {
  QString text = QString::fromUtf8(failure.what());
  if (!text.isEmpty() && text.back() > QChar('.')) text += '.';
  return text;
}

void ReportError(const std::exception& failure) {
  boxes().Message(ErrorReportText(failure), BoxIcon::Error);
}

void RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::system_error& failure) {
    if (failure.code() != std::errc::operation_canceled) ReportError(failure);
  } catch (const std::exception& failure) {
    ReportError(failure);
  }
}
