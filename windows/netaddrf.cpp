#include "windows/netaddrf.h"

#include "modbus/boxes.h"
#include "modbus/delay.h"
#include "modbus/exchange_gate.h"
#include "modbus/exchange_state.h"
#include "modbus/number_text.h"
#include "modbus/requests.h"
#include "modbus/service_steps.h"
#include "windows/keyfilter.h"

#include <QAction>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <initializer_list>


namespace {

const QString kNoAnswer = QStringLiteral("Нет ответа от адаптера");
const QString kWaiting = QStringLiteral("Подождите секунд ..  20 ");

constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 247;  // the highest unicast Modbus address
constexpr int kBroadcast = 0;
constexpr int kAddressRegisterHigh = 0x01, kAddressRegisterLow = 0x77;  // register 375
constexpr QChar kEnter(13);

QLabel* BoldLabel(const QString& text) {
  auto* label = new QLabel(text);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

void SetVisible(std::initializer_list<QWidget*> controls, bool visible) {
  for (QWidget* control : controls) control->setVisible(visible);
}

// Wide enough for three digits and the frame, no wider.
void FitThreeDigits(QLineEdit* edit) {
  edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
}

// Reads parameter 1 (registers 257, 258) from the address; whether an answer
// came from it with a correct CRC. Nothing else of the answer matters.
bool AnswersAt(int address) {
  ExchangeState& x = Exchange();
  Requests().SendOwnFrame({address, 0x03, 0x01, 0x01, 0x00, 0x02});
  return !x.ResponseText.empty() && static_cast<uint8_t>(x.ResponseText[0]) == address &&
         x.ResponseCrcMatches();
}

}  // namespace

int FindAdapterAddress() {
  for (int address = kFirstAddress; address <= kLastAddress; ++address) {
    if (AnswersAt(address)) return address;
    // Keeps the windows painted and the desktop assured the tool is alive,
    // while the user can start nothing.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  return 0;
}

QString ThreeDigitText(int address) { return QStringLiteral("%1").arg(address, 3, 10, QChar(u'0')); }

TNetAddrF::TNetAddrF(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Перебор адресов (до ответа адаптера ТЛ-8)"));

  Label1 = BoldLabel(kNoAnswer);
  ReceivAddrCaption = new QLabel(QStringLiteral("Ответил  ТЛ-8 с адресом "));
  ReceivAddr = new QLineEdit;
  ReceivAddr->setReadOnly(true);
  FitThreeDigits(ReceivAddr);
  ReceivAddr->setAccessibleName(ReceivAddrCaption->text().simplified());
  ReceivAddrCaption->setBuddy(ReceivAddr);

  LabInput = BoldLabel(QStringLiteral("Поле ввода нового знач "));
  MaskEdit1 = new QLineEdit;
  MaskEdit1->setInputMask(QStringLiteral("999; "));
  MaskEdit1->setText(QStringLiteral("2"));
  FitThreeDigits(MaskEdit1);
  MaskEdit1->setAccessibleName(LabInput->text().simplified());
  LabInput->setBuddy(MaskEdit1);

  BtWritA = new QPushButton(QStringLiteral("Записать адр"));
  BtClose = new QPushButton(QStringLiteral("Закрыть окно"));
  BtFindA = new QPushButton(QStringLiteral("Найти адрес"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(Label1, 0, 0, 1, 2);
  grid->addWidget(ReceivAddrCaption, 1, 0);
  grid->addWidget(ReceivAddr, 1, 1, Qt::AlignLeft);
  grid->addWidget(LabInput, 2, 0);
  grid->addWidget(MaskEdit1, 2, 1, Qt::AlignLeft);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {BtWritA, BtFindA, BtClose}) buttons->addWidget(button);
  grid->addLayout(buttons, 3, 0, 1, 2);
  grid->setSizeConstraint(QLayout::SetFixedSize);
  // Controls come and go with the steps of the search and the write; the
  // window keeps one size and every control its place meanwhile.
  for (QWidget* control : findChildren<QWidget*>()) {
    QSizePolicy policy = control->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    control->setSizePolicy(policy);
  }

  // The field's Enter moves the focus to "Записать адр", so that a second
  // Enter writes.
  ButtonsTakeEnter(this);
  ShowReceivAddr(false);
  SetVisible({MaskEdit1, BtWritA, BtClose, BtFindA}, false);

  ConnectHandler(BtFindA, &QPushButton::clicked, this, &TNetAddrF::BtFindAClick);
  ConnectHandler(BtWritA, &QPushButton::clicked, this, &TNetAddrF::BtWritAClick);
  ConnectHandler(BtClose, &QPushButton::clicked, this, &TNetAddrF::BtCloseClick);
  FilterKeys(MaskEdit1, [this](QChar key) {
    RunHandler([this, key] { MaskEdit1KeyPress(key); });
    return key;
  });
  connect(&Gate(), &ExchangeGate::BusyChanged, this, [this](bool busy) {
    for (QPushButton* button : {BtWritA, BtClose, BtFindA}) button->setEnabled(!busy);
  });
}

void TNetAddrF::TaskManager() {
  FormInitial();
  BtFindAClick();
  if (WorkMenu) WorkMenu->setVisible(true);
  MaskEdit1->setFocus();
}

void TNetAddrF::FormInitial() {
  SetVisible({LabInput, MaskEdit1, BtWritA, BtFindA}, false);
  show();
  raise();
  activateWindow();
  RepaintNow();
}

void TNetAddrF::BtFindAClick() {
  ExchangeGate::Scope exchange(Gate());
  if (!exchange) return;
  ShowReceivAddr(false);
  Label1->setText(kWaiting);
  Label1->show();
  BtClose->hide();
  RepaintNow();

  if (const int address = FindAdapterAddress())
    ShowFound(address);
  else
    ShowNobody();
  LabInput->show();
  MaskEdit1->show();
  MaskEdit1->setFocus();
  BtWritA->show();
  BtClose->show();
}

void TNetAddrF::ShowFound(int address) {
  Label1->hide();
  ShowReceivAddr(true);
  ReceivAddr->setText(ThreeDigitText(address));
  MaskEdit1->setText(QString::number(address));
  Exchange().DeviceAddress = static_cast<uint8_t>(address);
}

void TNetAddrF::ShowNobody() {
  Label1->setText(kNoAnswer);
  MaskEdit1->setText(QStringLiteral("1"));
  Exchange().DeviceAddress = 1;
  if (WorkMenu) WorkMenu->setVisible(false);
}

void TNetAddrF::BtWritAClick() {
  if (!WriteNewAddress()) return;
  ReceivAddr->clear();
  // The buttons are enabled again only now that the exchange has ended, and
  // only an enabled button takes the focus.
  BtFindA->show();
  BtFindA->setFocus();
}

bool TNetAddrF::WriteNewAddress() {
  ExchangeGate::Scope exchange(Gate());
  if (!exchange) return false;
  const int32_t address = StrToInt(MaskEdit1->displayText().trimmed());
  // Address 0 and 248 and above cannot be polled again: an adapter given one
  // would be lost to the tool.
  if (!IsAdapterAddress(address)) {
    boxes().Message(kAddressRangeText);
    return false;
  }
  Exchange().DeviceAddress = static_cast<uint8_t>(address);
  // Every adapter on the line takes a broadcast and none answers it; the
  // collection only waits out the silence.
  Requests().SendOwnFrame({kBroadcast, 0x06, kAddressRegisterHigh, kAddressRegisterLow, 0x00, address});
  Delay(50);
  return true;
}

void TNetAddrF::MaskEdit1KeyPress(QChar key) {
  // The mask lets the cursor skip a position, so the content may hold a blank
  // between digits; the conversion then refuses it.
  const QString content = MaskEdit1->displayText().trimmed();
  if (content.isEmpty()) return;
  const int32_t value = StrToInt(content);
  if (value == 0 || value > kLastAddress)
    MaskEdit1->clear();
  else if (key == kEnter)
    BtWritA->setFocus();
}

void TNetAddrF::BtCloseClick() { close(); }

void TNetAddrF::ShowReceivAddr(bool visible) {
  SetVisible({ReceivAddrCaption, ReceivAddr}, visible);
}

void TNetAddrF::RepaintNow() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  repaint();
}
