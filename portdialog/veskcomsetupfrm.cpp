#include "portdialog/veskcomsetupfrm.h"

#include "net/netline.h"
#include "ui/boxes.h"
#include "ui/object_names.h"

#include <QCursor>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

// What the parity and flow-control lists show while the dialog is on the
// screen, item for item in the order of the setting's values.
const QStringList kRussianParity{QStringLiteral("Нет"), QStringLiteral("Нечет"),
                                 QStringLiteral("Чёт"), QStringLiteral("Маркер (1)"),
                                 QStringLiteral("Пробел (0)")};
const QStringList kRussianFlowControl{QStringLiteral("Аппаратный (RTS/CTS)"),
                                      QStringLiteral("Программн.(XON/XOFF)"), QStringLiteral("Нет"),
                                      QStringLiteral("Заказной")};

QStringList ToQt(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& text : texts) list << QString::fromStdString(text);
  return list;
}

// Renames the items one by one; the list keeps its selection by item number.
void RenameItems(QComboBox& combo, const QStringList& texts) {
  for (int i = 0; i < combo.count() && i < texts.size(); ++i) combo.setItemText(i, texts[i]);
}

// What is wrong with a typed network name; nothing for any other name.
std::optional<TNetNameProblem> NetNameProblemOf(const std::string& name) {
  return IsNetPortName(name) ? NetPortNameProblem(name) : std::nullopt;
}

const TStoredGroups kAllGroups{sgLine, sgFlow, sgBuffer, sgTimeouts, sgParity, sgOther};

QString ProblemText(const TNetNameProblem& problem) {
  const QString part = QString::fromStdString(problem.part);
  switch (problem.fault) {
    case TNetNameFault::NoPort:
      return QStringLiteral("не указан порт сервера: ХОСТ:ПОРТ");
    case TNetNameFault::PortNotNumber:
      return QStringLiteral("порт «%1» — не число").arg(part);
    case TNetNameFault::PortOutOfRange:
      return QStringLiteral("порт %1 вне диапазона 1..65535").arg(part);
    case TNetNameFault::EmptyHost:
      return QStringLiteral("не указан хост");
    case TNetNameFault::UnclosedBracket:
      return QStringLiteral("нет закрывающей скобки ]");
    case TNetNameFault::BareIpv6Address:
      return QStringLiteral("адрес IPv6 пишется в скобках: [%1]:ПОРТ").arg(part);
    case TNetNameFault::BadAllowance:
      return QStringLiteral("неверное значение ?allow=«%1»: миллисекунды от 0 до %2")
          .arg(part)
          .arg(kMaxAllowanceMs);
    case TNetNameFault::UnknownOption:
      return QStringLiteral("неизвестный параметр «?%1»: допустим только ?allow=МС").arg(part);
  }
  return {};
}

}  // namespace

std::optional<QString> PortNameRefusal(const QString& name) {
  const std::optional<TNetNameProblem> problem = NetNameProblemOf(name.toStdString());
  if (!problem) return std::nullopt;
  return QStringLiteral("Неверное имя сетевого порта %1:\r%2.").arg(name, ProblemText(*problem));
}

QPoint PlaceNearPointer(const QPoint& pointer, const QSize& frame, const QRect& available) {
  const QPoint wanted = pointer + QPoint(15, 15);
  const QPoint lastFit(available.x() + available.width() - frame.width(),
                       available.y() + available.height() - frame.height());
  return {std::max(available.x(), std::min(wanted.x(), lastFit.x())),
          std::max(available.y(), std::min(wanted.y(), lastFit.y()))};
}

TVeskComSetupFrm::TVeskComSetupFrm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("VeskComSetupFrm"));
  setWindowTitle(QStringLiteral("Настройка порта"));

  GroupBox1 = new QGroupBox(QStringLiteral("Параметры"), this);
  auto* grid = new QGridLayout(GroupBox1);
  Combo1 = AddRow(*grid, Label1, QStringLiteral("Порт:"), cpPort);
  SpeedCombo = AddRow(*grid, Label2, QStringLiteral("Скорость передачи:"), cpBaudRate);
  Combo3 = AddRow(*grid, Label3, QStringLiteral("Биты данных:"), cpDataBits);
  StopBitsCombo = AddRow(*grid, Label4, QStringLiteral("Стоповые биты:"), cpStopBits);
  Combo5 = AddRow(*grid, Label5, QStringLiteral("Чётность:"), cpParity);
  Combo6 = AddRow(*grid, Label6, QStringLiteral("Контроль передачи:"), cpFlowControl);
  // The port may be typed too: a stable name (/dev/serial/by-id/...) or a
  // network address (tcp://HOST:PORT, rfc2217://HOST:PORT, a Modbus TCP
  // gateway's modbus-tcp://HOST[:PORT]). What is typed
  // becomes the port as a picked name does; it is never added to the list.
  Combo1->setEditable(true);
  Combo1->setInsertPolicy(QComboBox::NoInsert);
  Combo1->setMinimumContentsLength(24);
  // Only the port can be chosen; the line settings are shown for reference.
  for (TComComboBox* shownOnly : {SpeedCombo, Combo3, StopBitsCombo, Combo5})
    shownOnly->setEnabled(false);
  Label6->setVisible(false);
  Combo6->setVisible(false);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("Отмена"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(GroupBox1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  QWidget* previous = Combo1;
  for (QWidget* next : std::initializer_list<QWidget*>{SpeedCombo, Combo3, StopBitsCombo, Combo5,
                                                       Combo6, Button1, Button2}) {
    setTabOrder(previous, next);
    previous = next;
  }

  TL8_NAME_AFTER_MEMBERS(GroupBox1, Label1, Combo1, Label2, SpeedCombo, Label3, Combo3, Label4,
                         StopBitsCombo, Label5, Combo5, Label6, Combo6, Button1, Button2);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

TComComboBox* TVeskComSetupFrm::AddRow(QGridLayout& grid, QLabel*& label, const QString& caption,
                                       TComProperty property) {
  const int row = grid.rowCount();
  label = new QLabel(caption, GroupBox1);
  auto* combo = new TComComboBox(GroupBox1);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  combo->setAccessibleName(QString(caption).remove(QLatin1Char(':')));
  label->setBuddy(combo);
  grid.addWidget(label, row, 0);
  grid.addWidget(combo, row, 1);
  combo->SetComProperty(property);
  return combo;
}

std::array<TComComboBox*, 6> TVeskComSetupFrm::Combos() const {
  return {Combo1, SpeedCombo, Combo3, StopBitsCombo, Combo5, Combo6};
}

void TVeskComSetupFrm::ShowChoiceTexts(const QStringList& parity, const QStringList& flowControl) {
  RenameItems(*Combo5, parity);
  RenameItems(*Combo6, flowControl);
}

void TVeskComSetupFrm::MoveNearPointer() {
  const QPoint pointer = QCursor::pos();
  const QScreen* screen = QGuiApplication::screenAt(pointer);
  if (!screen) screen = QGuiApplication::primaryScreen();
  move(PlaceNearPointer(pointer, FrameSize(), screen->availableGeometry()));
}

QSize TVeskComSetupFrm::FrameSize() {
  adjustSize();  // the layout's size with the lists as they are now filled
  winId();       // the native window, whose frame the window system may know already
  QMargins frame = windowHandle()->frameMargins();
  // Where the window manager frames the window only once it shows (X11), its
  // title bar is allowed for.
  if (frame.isNull()) frame.setTop(style()->pixelMetric(QStyle::PM_TitleBarHeight));
  return size().grownBy(frame);
}

void TVeskComSetupFrm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TVeskComSetupFrm::accept() {
  if (const std::optional<QString> refusal = PortNameRefusal(Combo1->Text())) {
    boxes().Message(*refusal, BoxIcon::Warning, std::nullopt, windowTitle());
    Combo1->setFocus();
    return;
  }
  QDialog::accept();
}

void TVeskComSetupFrm::ExecutePortSetup(TCustomComPort& port,
                                        const std::function<void()>& openComport) {
  for (TComComboBox* combo : Combos()) combo->SetComPort(&port);
  for (TComComboBox* combo : Combos()) combo->RefreshFromPort();
  // Only now, as the list is about to be shown: on Windows finding out who
  // holds a port means opening it.
  Combo1->ShowPortDetails();
  ShowChoiceTexts(kRussianParity, kRussianFlowControl);
  MoveNearPointer();
  const int result = boxes().Exec(*this);
  // The port takes the texts of its own settings, not the Russian ones.
  ShowChoiceTexts(ToQt(ParityTexts()), ToQt(FlowControlTexts()));
  if (result != QDialog::Accepted) return;
  ApplyPortSetup(port);
  port.SetStoredGroups(kAllGroups);
  port.SaveSettings(PortSettingsKey);
  openComport();
}

void TVeskComSetupFrm::ApplyPortSetup(TCustomComPort& port) {
  port.BeginSettingsUpdate();
  try {
    for (TComComboBox* combo : Combos()) combo->ApplyTo(port);
  } catch (...) {
    // A port left inside a bracket would never get its settings pushed again.
    port.EndSettingsUpdate();
    throw;
  }
  port.EndSettingsUpdate();
}
