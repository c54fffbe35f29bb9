#pragma once
// The address window: finds the Modbus address at which the adapter answers by
// polling every unicast address in turn, and gives the adapter a new address
// with a broadcast write of its address register.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class Session;

class TNetAddrF : public QWidget {
  Q_OBJECT

 public:
  explicit TNetAddrF(Session& session, QWidget* parent = nullptr);

  QLabel* Label1;             // waiting text during the search, the no-answer verdict after it
  QLabel* ReceivAddrCaption;  // shows and hides with ReceivAddr
  QLineEdit* ReceivAddr;      // the address found, three digits
  QLabel* LabInput;
  QLineEdit* MaskEdit1;  // the new address
  QPushButton* BtWritA;
  QPushButton* BtClose;
  QPushButton* BtFindA;

  // "Настройка адреса": shows the window, searches at once, then opens the
  // work menu whatever the search found.
  void TaskManager();
  void FormInitial();
  void BtFindAClick();
  void BtWritAClick();
  // Judges the field's content before `key` takes effect; never swallows it.
  void MaskEdit1KeyPress(QChar key);
  void BtCloseClick();

 private:
  void ShowReceivAddr(bool visible);
  // Lays out what was shown or hidden and paints it now: the search takes no
  // input, so this is all the user sees meanwhile.
  void RepaintNow();
  void ShowFound(int address);
  void ShowNobody();
  // Broadcasts the field's address to the adapter's address register; false
  // when nothing was sent.
  bool WriteNewAddress();

  Session& session_;

 signals:
  // The main window's "Режим работы" menu: shown by every run of TaskManager
  // and hidden by a search that finds nobody.
  void WorkMenuVisible(bool visible);
};

// The address as the window shows it: three digits with leading zeros.
QString ThreeDigitText(int address);
