#include "app/tl8form.h"

#include "app/passthrough.h"
#include "modbus/boxes.h"
#include "modbus/exchange_gate.h"
#include "modbus/exchange_state.h"
#include "modbus/requests.h"
#include "serial/platform.h"
#include "serial/veskcomsetupfrm.h"
#include "windows/koefforpotreb.h"
#include "windows/netaddrf.h"
#include "windows/tehform.h"
#include "windows/paswkoefform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>

namespace {

const QString kJumperQuestion = QStringLiteral(
    "   Перед работой с протоколом ICP CON нужна перемычка между \"Тест\" и \"GND\". Продолжим ? ");

QString OpenFailureText(const std::string& port) {
  return QStringLiteral("Вероятно, выполняется другая программа,\rоткрывшая порт ") +
         QString::fromStdString(port) +
         QStringLiteral(". Закройте программу,\rзахватившую порт, или укажите другой порт.");
}

}  // namespace

TTl8Form::TTl8Form(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Работа с ТЛ-8К  (Tl8v05)"));
  resize(480, 240);

  // The tool's own port settings: COM1, 9600 8N1; DTR and RTS off until the
  // port is opened.
  ComPort.SetPort("COM1");
  ComPort.SetBaudRate(br9600);
  ComPort.SetDataBits(dbEight);
  ComPort.SetStopBits(sbOneStopBit);
  ComPort.Parity().SetBits(prNone);
  ComPort.FlowControl().SetControlDTR(dtrDisable);
  ComPort.FlowControl().SetControlRTS(rtsDisable);

  N1 = menuBar()->addMenu(QStringLiteral("Настройки"));
  N2 = N1->addAction(QStringLiteral("Настройка порта"));
  N8 = N1->addAction(QStringLiteral("Настройка адреса"));
  N3 = menuBar()->addMenu(QStringLiteral("Режим работы"));
  N4 = N3->addAction(QStringLiteral("Изм.границ пар-ров"));
  N7 = N3->addAction(QStringLiteral("Доп.режим"));
  N5 = N3->addAction(QStringLiteral("Технолог.режим"));
  N6 = menuBar()->addAction(QStringLiteral("Выход"));
  N3->menuAction()->setVisible(false);
  // Every window sends its requests and collects their answers through this port.
  BindRequests(&ComPort);

  ConnectHandler(N2, &QAction::triggered, this, &TTl8Form::N2Click);
  ConnectHandler(N8, &QAction::triggered, this, &TTl8Form::N8Click);
  ConnectHandler(N4, &QAction::triggered, this, &TTl8Form::N4Click);
  ConnectHandler(N7, &QAction::triggered, this, &TTl8Form::N7Click);
  ConnectHandler(N5, &QAction::triggered, this, &TTl8Form::N5Click);
  ConnectHandler(N6, &QAction::triggered, this, &TTl8Form::N6Click);
  // While an exchange runs, nothing may start another one or switch the port.
  connect(&Gate(), &ExchangeGate::BusyChanged, this, [this](bool busy) {
    for (QAction* item : {N2, N8, N4, N7, N5}) item->setEnabled(!busy);
  });
}

TTl8Form::~TTl8Form() {
  // The stop event and this window go next; a later stop request must not reach them.
  UnregisterConsoleHandler(StopEvent_.get());
  BindRequests(nullptr);
}

void TTl8Form::Show() {
  if (!Shown_) {
    Shown_ = true;
    FormShow();
  }
  show();
}

void TTl8Form::FormShow() {
  if (boxes().Question(kJumperQuestion, QPoint(180, 250)) != BoxAnswer::Yes) {
    N1->menuAction()->setVisible(false);
    return;
  }
  OpenComport();
  PasswordMode = 0;
  Exchange().DeviceAddress = 1;
}

void TTl8Form::OpenComport() {
  if (ComPort.Connected()) return;
  try {
    auto stopEvent = std::make_unique<TComStopEvent>();
    RegisterConsoleHandler(stopEvent.get(), [this] { close(); });
    Requests().SetStopEvent(stopEvent.get());
    StopEvent_ = std::move(stopEvent);
    ComPort.SetEvents({});
    ComPort.FlowControl().SetControlDTR(dtrEnable);
    ComPort.FlowControl().SetControlRTS(rtsEnable);
    ComPort.OpenPort();
  } catch (...) {
    boxes().Message(OpenFailureText(ComPort.Port()), BoxIcon::Error, std::nullopt,
                    QStringLiteral("Неудача при открытии порта"));
  }
}

// A fresh dialog each time, so that the port list is read again.
void TTl8Form::N2Click() {
  TVeskComSetupFrm dialog;
  dialog.ExecutePortSetup(ComPort, [this] { OpenComport(); });
}

void TTl8Form::N8Click() { NetAddrF->TaskManager(); }

void TTl8Form::N4Click() {
  KoefForPotreb->show();
  KoefForPotreb->raise();
  KoefForPotreb->activateWindow();
  KoefForPotreb->ReadAndSaveBounds();
  KoefForPotreb->setEnabled(true);
}

void TTl8Form::N7Click() {
  if (SwitchToPassThrough()) close();
}

void TTl8Form::N5Click() {
  AskPassword(1);
  if (UnlockGranted != 1) return;
  TehForm->show();
  TehForm->raise();
  TehForm->activateWindow();
  TehForm->ReadButtonClick();
  TehForm->setEnabled(true);
}

void TTl8Form::N6Click() { close(); }

void TTl8Form::closeEvent(QCloseEvent* event) {
  event->accept();
  QCoreApplication::quit();
}
