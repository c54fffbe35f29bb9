#pragma once
// The main window: an empty window with the menu that starts every service
// function. It owns the tool's one serial port.

#include "serial/comport.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QMenu;

class TTl8Form : public QMainWindow {
  Q_OBJECT

 public:
  explicit TTl8Form(QWidget* parent = nullptr);
  ~TTl8Form() override;

  // Shows the window; the first showing asks the start-up question before the
  // window appears.
  void Show();

  // Opens ComPort unless it is open; a failure is reported in its own box and
  // leaves the port closed.
  void OpenComport();

  // The event that ends a port wait early; null until the port was opened.
  TComStopEvent* StopEvent() const { return StopEvent_.get(); }

  TComPort ComPort;

  QMenu* N1;    // "Настройки"
  QAction* N2;  // "Настройка порта"
  QAction* N8;  // "Настройка адреса"
  QMenu* N3;    // "Режим работы"
  QAction* N4;  // "Изм.границ пар-ров"
  QAction* N7;  // "Доп.режим"
  QAction* N5;  // "Технолог.режим"
  QAction* N6;  // "Выход"

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void N2Click();
  void N8Click();
  void N4Click();
  void N7Click();
  void N5Click();
  void N6Click();

  std::unique_ptr<TComStopEvent> StopEvent_;
  bool Shown_ = false;
};

// The process-wide main window.
inline TTl8Form* Tl8Form = nullptr;
