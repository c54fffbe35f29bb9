#pragma once
// The main window: an empty window with the menu that starts every service
// function. The session's port is its port: it opens it, and the port
// dialog changes it.

#include "serial/comport.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QMenu;
class Session;
class TChangeLogForm;
class TKoefForPotreb;
class TLineMonitor;
class TNetAddrF;
class TTehForm;

// The port the start-up opens unless the tool is started with another.
inline const QString kStartPortName = QStringLiteral("COM1");

class TTl8Form : public QMainWindow {
  Q_OBJECT

 public:
  // `port` is the tool's one port, the line `session` talks through; the
  // start-up opens it under `startPort`.
  TTl8Form(Session& session, TComPort& port, const QString& startPort = kStartPortName,
           QWidget* parent = nullptr);
  ~TTl8Form() override;

  // The windows its menu opens; created after it, so handed in afterwards.
  struct ServiceWindows {
    TNetAddrF* address = nullptr;
    TKoefForPotreb* bounds = nullptr;
    TTehForm* calibration = nullptr;
    TLineMonitor* monitor = nullptr;
    TChangeLogForm* changeLog = nullptr;
  };
  void SetServiceWindows(const ServiceWindows& windows) { windows_ = windows; }

  // Shows the window; the first showing asks the start-up question before the
  // window appears. Stop requests close the window from the question on; one
  // that comes while a start-up box is open takes effect when the box closes:
  // the port is not opened after the question and the window never shows.
  void Show();

  // Whether the window was closed, which ends the tool (also before the
  // message loop runs, when nothing can quit it yet).
  bool Ended() const { return ended_; }

  // Opens ComPort unless it is open; a failure is reported in its own box and
  // leaves the port closed.
  void OpenComport();

  // The event that ends a port wait early; null until the window was first shown.
  TComStopEvent* StopEvent() const { return stopEvent_.get(); }

  TComPort& ComPort;

  QMenu* N1;     // "Настройки"
  QAction* N2;   // "Настройка порта"
  QAction* N8;   // "Настройка адреса"
  QAction* N9;   // "Журнал обмена"
  QAction* N10;  // "Журнал изменений"
  QMenu* N3;     // "Режим работы"
  QAction* N4;   // "Изм.границ пар-ров"
  QAction* N7;   // "Доп.режим"
  QAction* N5;   // "Технолог.режим"
  QAction* N6;   // "Выход"

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void N2Click();
  void N8Click();
  void N9Click();
  void N10Click();
  void N4Click();
  void N7Click();
  void N5Click();
  void N6Click();

  // A fresh stop event for the session, registered with the console's stop
  // requests, which end the tool as "Выход" does.
  void RenewStopEvent();

  Session& session_;
  std::unique_ptr<TComStopEvent> stopEvent_;
  ServiceWindows windows_;
  bool shown_ = false;
  bool ended_ = false;
};
