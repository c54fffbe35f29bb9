#include "app/tl8form.h"

#include "app/passthrough.h"
#include "modbus/session.h"
#include "net/netline.h"
#include "os/platform.h"
#include "portdialog/veskcomsetupfrm.h"
#include "ui/boxes.h"
#include "ui/object_names.h"
#include "ui/tool_texts.h"
#include "windows/changelogform.h"
#include "windows/koefforpotreb.h"
#include "windows/linemonitor.h"
#include "windows/netaddrf.h"
#include "windows/tehform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QPointer>

namespace {

const QString kJumperQuestion = QStringLiteral(
    "   Перед работой с протоколом ICP CON нужна перемычка между \"Тест\" и \"GND\". Продолжим ? ");

}  // namespace

TTl8Form::TTl8Form(Session& session, TComPort& port, const QString& startPort, QWidget* parent)
    : QMainWindow(parent), ComPort(port), session_(session) {
  setObjectName(QStringLiteral("Tl8Form"));
  setWindowTitle(QStringLiteral("Работа с ТЛ-8К  (Tl8v05)"));
  resize(480, 240);

  // The tool's own port settings: COM1 (or the port it was started on),
  // 9600 8N1; DTR and RTS off until the port is opened.
  ComPort.SetPort(startPort.toStdString());
  ComPort.SetBaudRate(br9600);
  ComPort.SetDataBits(dbEight);
  ComPort.SetStopBits(sbOneStopBit);
  ComPort.Parity().SetBits(prNone);
  ComPort.FlowControl().SetControlDTR(dtrDisable);
  ComPort.FlowControl().SetControlRTS(rtsDisable);

  N1 = menuBar()->addMenu(QStringLiteral("Настройки"));
  N2 = N1->addAction(QStringLiteral("Настройка порта"));
  N8 = N1->addAction(QStringLiteral("Настройка адреса"));
  N10 = N1->addAction(QStringLiteral("Журнал изменений"));
  N9 = N1->addAction(QStringLiteral("Журнал обмена"));
  N3 = menuBar()->addMenu(QStringLiteral("Режим работы"));
  N4 = N3->addAction(QStringLiteral("Изм.границ пар-ров"));
  N7 = N3->addAction(QStringLiteral("Доп.режим"));
  N5 = N3->addAction(QStringLiteral("Технолог.режим"));
  N6 = menuBar()->addAction(QStringLiteral("Выход"));
  N3->menuAction()->setVisible(false);

  TL8_NAME_AFTER_MEMBERS(N1, N2, N8, N9, N10, N3, N4, N7, N5, N6);
  ConnectHandler(N2, &QAction::triggered, this, &TTl8Form::N2Click);
  ConnectHandler(N8, &QAction::triggered, this, &TTl8Form::N8Click);
  ConnectHandler(N9, &QAction::triggered, this, &TTl8Form::N9Click);
  ConnectHandler(N10, &QAction::triggered, this, &TTl8Form::N10Click);
  ConnectHandler(N4, &QAction::triggered, this, &TTl8Form::N4Click);
  ConnectHandler(N7, &QAction::triggered, this, &TTl8Form::N7Click);
  ConnectHandler(N5, &QAction::triggered, this, &TTl8Form::N5Click);
  ConnectHandler(N6, &QAction::triggered, this, &TTl8Form::N6Click);
  // While an exchange runs, nothing may start another one or switch the port;
  // watching the line stays possible.
  connect(&session_.Gate(), &ExchangeGate::BusyChanged, this, [this](bool busy) {
    for (QAction* item : {N2, N8, N4, N7, N5}) item->setEnabled(!busy);
  });
}

TTl8Form::~TTl8Form() {
  // The stop event goes with the window; a later stop request must not reach it.
  UnregisterConsoleHandler(stopEvent_.get());
  session_.SetStopEvent(nullptr);
  ComPort.SetStopEvent(nullptr);
}

void TTl8Form::RenewStopEvent() {
  // The new event is registered before the old one goes, so a stop request
  // never reaches a freed event.
  auto fresh = std::make_unique<TComStopEvent>();
  RegisterConsoleHandler(fresh.get(), [window = QPointer<TTl8Form>(this)] {
    if (window) window->close();
  });
  session_.SetStopEvent(fresh.get());
  ComPort.SetStopEvent(fresh.get());  // it ends the opening of a network port
  stopEvent_ = std::move(fresh);
}

void TTl8Form::Show() {
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  // A stop request during the start-up boxes closed the window before it ever showed.
  if (!ended_) show();
}

void TTl8Form::FormShow() {
  // Stop requests reach the window from the start-up question on.
  RenewStopEvent();
  if (boxes().Question(kJumperQuestion, QPoint(180, 250)) != BoxAnswer::Yes) {
    N1->menuAction()->setVisible(false);
    return;
  }
  if (ended_) return;
  OpenComport();
  session_.SetPasswordMode(PasswordRequest::Write);
  session_.TalkTo(1);
}

void TTl8Form::OpenComport() {
  if (ComPort.Connected()) return;
  try {
    RenewStopEvent();
    ComPort.SetEvents({});
    ComPort.FlowControl().SetControlDTR(dtrEnable);
    ComPort.FlowControl().SetControlRTS(rtsEnable);
    ComPort.OpenPort();
  } catch (...) {
    if (stopEvent_ && stopEvent_->IsSignalled()) return;  // the tool is stopping: no report
    // A network line's failure says what its opening met.
    std::optional<TNetOpenFailure> network;
    try {
      throw;
    } catch (const EComPort& failure) {
      network = NetOpenFailureOf(ComPort.Port(), failure);
    } catch (...) {
    }
    boxes().Message(PortOpenFailureText(ComPort.Port(), network), BoxIcon::Error, std::nullopt,
                    kPortOpenFailureCaption);
  }
}

// A fresh dialog each time, so that the port list is read again.
void TTl8Form::N2Click() {
  TVeskComSetupFrm dialog;
  dialog.ExecutePortSetup(ComPort, [this] { OpenComport(); });
}

void TTl8Form::N8Click() { windows_.address->TaskManager(); }

void TTl8Form::N9Click() { windows_.monitor->Open(); }

void TTl8Form::N10Click() { windows_.changeLog->Open(); }

void TTl8Form::N4Click() {
  TKoefForPotreb* bounds = windows_.bounds;
  bounds->show();
  bounds->raise();
  bounds->activateWindow();
  bounds->ReadAndSaveBounds();
  bounds->setEnabled(true);
}

void TTl8Form::N7Click() {
  if (SwitchToPassThrough(session_)) close();
}

void TTl8Form::N5Click() {
  session_.AskPassword(PasswordRequest::Unlock);
  if (!session_.UnlockGranted()) return;
  TTehForm* calibration = windows_.calibration;
  calibration->show();
  calibration->raise();
  calibration->activateWindow();
  calibration->ReadButtonClick();
  calibration->setEnabled(true);
}

void TTl8Form::N6Click() { close(); }

void TTl8Form::closeEvent(QCloseEvent* event) {
  event->accept();
  ended_ = true;
  // Whatever waits on the line ends at once, as on a stop request.
  if (stopEvent_) stopEvent_->Signal();
  // Before the message loop runs this does nothing: the tool's loop then asks Ended().
  QCoreApplication::quit();
}
