#pragma once
// The line monitor, "Журнал обмена": a modeless window that lists every frame
// the tool sends and every answer it collects, one line each, from the
// session's traffic log. It takes the new lines in batches on a timer that
// runs only while the window is shown, so an exchange never waits for it and
// a closed window costs nothing.

#include <QWidget>

#include <cstdint>

class QPlainTextEdit;
class QPushButton;
class QTimer;
class Session;

class TLineMonitor : public QWidget {
  Q_OBJECT

 public:
  explicit TLineMonitor(Session& session, QWidget* parent = nullptr);

  QPlainTextEdit* Lines;     // the newest 10 000 lines
  QPushButton* ClearButton;  // "Очистить"
  QPushButton* SaveButton;   // "Сохранить…"
  QPushButton* PauseButton;  // "Пауза": holds the view still; recording goes on

  // Shows, raises and activates the window.
  void Open();
  // Appends what the log recorded since the last call. The timer calls it.
  void ShowNewLines();
  void ClearButtonClick();
  // Asks for a file name and writes the lines as shown, UTF-8.
  void SaveButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  Session& session_;
  QTimer* refresh_;
  uint64_t shownUpTo_ = 0;  // the log's numbering: the next entry not yet shown
};
