#include "windows/linemonitor.h"

#include "modbus/session.h"
#include "modbus/textfile.h"
#include "modbus/traffic.h"
#include "ui/boxes.h"
#include "ui/object_names.h"
#include "windows/fonts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Often enough to look live, rare enough to batch a search's lines.
constexpr int kRefreshMs = 100;

const QString kTitle = QStringLiteral("Журнал обмена");
const QString kFileFilter = QStringLiteral("текстовые (*.txt)");
const QString kFileSuffix = QStringLiteral("txt");

}  // namespace

TLineMonitor::TLineMonitor(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), refresh_(new QTimer(this)) {
  setObjectName(QStringLiteral("LineMonitor"));
  setWindowTitle(kTitle);
  resize(760, 420);

  Lines = new QPlainTextEdit(this);
  Lines->setReadOnly(true);
  Lines->setLineWrapMode(QPlainTextEdit::NoWrap);
  Lines->setMaximumBlockCount(static_cast<int>(TrafficLog::kCapacity));
  // The system's fixed-pitch font, so that the bytes line up in columns (no
  // font is called "monospace" on Windows).
  Lines->setFont(
      RussianFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), FontPitch::Fixed));
  Lines->setAccessibleName(kTitle);
  ClearButton = new QPushButton(QStringLiteral("Очистить"), this);
  SaveButton = new QPushButton(QStringLiteral("Сохранить…"), this);
  PauseButton = new QPushButton(QStringLiteral("Пауза"), this);
  PauseButton->setCheckable(true);
  for (QPushButton* button : {ClearButton, SaveButton, PauseButton})
    button->setAccessibleName(button->text());
  TL8_NAME_AFTER_MEMBERS(Lines, ClearButton, SaveButton, PauseButton);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ClearButton);
  buttons->addWidget(SaveButton);
  buttons->addWidget(PauseButton);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Lines);
  layout->addLayout(buttons);

  ConnectHandler(ClearButton, &QPushButton::clicked, this, &TLineMonitor::ClearButtonClick);
  ConnectHandler(SaveButton, &QPushButton::clicked, this, &TLineMonitor::SaveButtonClick);
  refresh_->setInterval(kRefreshMs);
  connect(refresh_, &QTimer::timeout, this, &TLineMonitor::ShowNewLines);
  // Leaving the pause catches up with the newest line.
  connect(PauseButton, &QPushButton::toggled, this, [this](bool paused) {
    if (!paused) Lines->verticalScrollBar()->setValue(Lines->verticalScrollBar()->maximum());
  });
}

void TLineMonitor::Open() {
  show();
  raise();
  activateWindow();
}

void TLineMonitor::showEvent(QShowEvent* event) {
  ShowNewLines();
  refresh_->start();
  QWidget::showEvent(event);
}

void TLineMonitor::hideEvent(QHideEvent* event) {
  refresh_->stop();
  QWidget::hideEvent(event);
}

void TLineMonitor::ShowNewLines() {
  const TrafficLog& log = session_.Traffic();
  if (log.End() == shownUpTo_) return;
  QString batch;
  for (const TrafficEntry& entry : log.Since(shownUpTo_)) {
    if (!batch.isEmpty()) batch += '\n';
    batch += TrafficLine(entry);
  }
  shownUpTo_ = log.End();
  if (batch.isEmpty()) return;
  // The newest line stays in view unless the user scrolled up or paused.
  QScrollBar* bar = Lines->verticalScrollBar();
  const bool follow = !PauseButton->isChecked() && bar->value() == bar->maximum();
  const int kept = bar->value();
  Lines->appendPlainText(batch);
  bar->setValue(follow ? bar->maximum() : kept);
}

void TLineMonitor::ClearButtonClick() {
  session_.Traffic().Clear();
  Lines->clear();
}

void TLineMonitor::SaveButtonClick() {
  const std::optional<QString> name =
      boxes().SaveFileName(QStringLiteral("журнал.txt"), kFileFilter, kFileSuffix);
  if (!name || name->isEmpty()) return;
  FileReplacement file(*name, QStringLiteral("save"));
  file.Append(Lines->toPlainText().toUtf8());
  if (!Lines->document()->isEmpty()) file.Append("\n");
  file.Commit();
}
