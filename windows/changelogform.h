#pragma once
// "Журнал изменений": the change records of the adapter read last, newest
// first, from the session's history; the selected one can be saved as its
// service protocol (PDF). It reads the records afresh each time it opens.

#include "modbus/history.h"

#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;
class Session;

class TChangeLogForm : public QWidget {
  Q_OBJECT

 public:
  explicit TChangeLogForm(Session& session, QWidget* parent = nullptr);

  QLabel* AdapterLabel;             // whose records these are, or why there are none
  QTreeWidget* EntryList;           // one row per entry, newest first
  QLabel* NotesLabel;               // damaged lines skipped; hidden when there are none
  QPushButton* SaveProtocolButton;  // "Сохранить протокол…"
  QPushButton* RefreshButton;       // "Обновить"
  QPushButton* CloseButton;         // "Закрыть"

  // Reads the records, shows, raises and activates the window.
  void Open();
  // Reads the records of the adapter read last again.
  void RefreshButtonClick();
  // Asks for a file name and saves the selected entry's protocol there.
  void SaveProtocolButtonClick();

  // The entries shown, in the list's order.
  const std::vector<ChangeEntry>& Entries() const { return entries_; }

 private:
  void ShowEntries(std::vector<ChangeEntry> entries);
  void UpdateButtons();

  Session& session_;
  std::vector<ChangeEntry> entries_;
};
