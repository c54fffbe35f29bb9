#include "windows/changelogform.h"

#include "modbus/history.h"
#include "modbus/number_text.h"
#include "modbus/params.h"
#include "modbus/session.h"
#include "report/protocol.h"
#include "ui/boxes.h"
#include "ui/object_names.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("Журнал изменений");
const QStringList kColumns = {QStringLiteral("Время"),  QStringLiteral("Пользователь"),
                              QStringLiteral("Откуда"), QStringLiteral("Порт"),
                              QStringLiteral("Адрес"),  QStringLiteral("Изменено"),
                              QStringLiteral("Итог")};
const QString kFileFilter = QStringLiteral("PDF (*.pdf)");
const QString kFileSuffix = QStringLiteral("pdf");

QStringList RowOf(const ChangeEntry& e) {
  const QString address = e.addressBefore == e.addressAfter
                              ? QString::number(e.addressAfter)
                              : QStringLiteral("%1 → %2").arg(e.addressBefore).arg(e.addressAfter);
  const QString changed =
      e.before && e.after
          ? QStringLiteral("%1 из %2").arg(ChangedValues(e).size()).arg(kFloatParamCount)
          : QStringLiteral("—");
  return {e.time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
          e.user,
          e.frontEnd,
          e.port,
          address,
          changed,
          OutcomeWords(e)};
}

}  // namespace

TChangeLogForm::TChangeLogForm(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session) {
  setObjectName(QStringLiteral("ChangeLogForm"));
  setWindowTitle(kTitle);
  resize(860, 380);

  AdapterLabel = new QLabel(this);
  AdapterLabel->setWordWrap(true);
  EntryList = new QTreeWidget(this);
  EntryList->setHeaderLabels(kColumns);
  EntryList->setRootIsDecorated(false);
  EntryList->setUniformRowHeights(true);
  EntryList->setSelectionMode(QAbstractItemView::SingleSelection);
  EntryList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  EntryList->header()->setStretchLastSection(true);
  EntryList->setAccessibleName(kTitle);
  NotesLabel = new QLabel(this);
  NotesLabel->setWordWrap(true);
  NotesLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  NotesLabel->hide();
  SaveProtocolButton = new QPushButton(QStringLiteral("Сохранить протокол…"), this);
  RefreshButton = new QPushButton(QStringLiteral("Обновить"), this);
  CloseButton = new QPushButton(QStringLiteral("Закрыть"), this);
  for (QPushButton* button : {SaveProtocolButton, RefreshButton, CloseButton})
    button->setAccessibleName(button->text());
  TL8_NAME_AFTER_MEMBERS(AdapterLabel, EntryList, NotesLabel, SaveProtocolButton, RefreshButton,
                         CloseButton);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SaveProtocolButton);
  buttons->addWidget(RefreshButton);
  buttons->addStretch();
  buttons->addWidget(CloseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(AdapterLabel);
  layout->addWidget(EntryList, 1);
  layout->addWidget(NotesLabel);
  layout->addLayout(buttons);

  ConnectHandler(SaveProtocolButton, &QPushButton::clicked, this,
                 &TChangeLogForm::SaveProtocolButtonClick);
  ConnectHandler(RefreshButton, &QPushButton::clicked, this, &TChangeLogForm::RefreshButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
  connect(EntryList, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  UpdateButtons();
}

void TChangeLogForm::Open() {
  RefreshButtonClick();
  show();
  raise();
  activateWindow();
}

void TChangeLogForm::RefreshButtonClick() {
  const ChangeHistory* history = session_.History();
  const std::optional<AdapterReading> adapter = session_.LatestReading();
  NotesLabel->hide();
  if (!history) {
    AdapterLabel->setText(QStringLiteral("Журнал изменений не ведётся."));
    return ShowEntries({});
  }
  if (!adapter) {
    AdapterLabel->setText(QStringLiteral(
        "Адаптер ещё не прочитан. Прочитайте его (\"Изм.границ пар-ров\" или \"Технолог.режим\"), "
        "и здесь появятся его записи."));
    return ShowEntries({});
  }
  AdapterLabel->setText(QStringLiteral("Адаптер ТЛ-8К, зав. № %1, адрес %2. Записи в %3")
                            .arg(SerialNumberText(adapter->serialNumber))
                            .arg(adapter->answeringAddress)
                            .arg(history->Folder()));
  ChangeHistory::Listing listing = history->Entries(adapter->serialNumber);
  if (!listing.notes.isEmpty()) {
    NotesLabel->setText(listing.notes.join('\n'));
    NotesLabel->show();
  }
  std::reverse(listing.entries.begin(), listing.entries.end());  // newest first
  ShowEntries(std::move(listing.entries));
}

void TChangeLogForm::ShowEntries(std::vector<ChangeEntry> entries) {
  entries_ = std::move(entries);
  EntryList->clear();
  for (const ChangeEntry& entry : entries_) new QTreeWidgetItem(EntryList, RowOf(entry));
  if (!entries_.empty()) EntryList->setCurrentItem(EntryList->topLevelItem(0));
  UpdateButtons();
}

void TChangeLogForm::UpdateButtons() {
  SaveProtocolButton->setEnabled(EntryList->currentItem() != nullptr);
}

void TChangeLogForm::SaveProtocolButtonClick() {
  const int row = EntryList->indexOfTopLevelItem(EntryList->currentItem());
  if (row < 0) return;
  const ChangeEntry& entry = entries_[static_cast<size_t>(row)];
  const std::optional<QString> name =
      boxes().SaveFileName(QStringLiteral("протокол-%1").arg(entry.id), kFileFilter, kFileSuffix);
  if (!name || name->isEmpty()) return;
  SaveServiceProtocol(entry, *name);
}
