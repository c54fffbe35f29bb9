#include "windows/netaddrf.h"

#include "modbus/number_text.h"
#include "modbus/recorded_write.h"
#include "modbus/register_map.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "ui/boxes.h"
#include "ui/object_names.h"
#include "windows/keyfilter.h"
#include "windows/outcomeboxes.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <initializer_list>

namespace {

const QString kNoAnswer = kNoAdapterOnLineText;
const QString kWaiting = QStringLiteral("Подождите секунд ..  20 ");

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

}  // namespace

QString ThreeDigitText(int address) {
  return QStringLiteral("%1").arg(address, 3, 10, QChar(u'0'));
}

TNetAddrF::TNetAddrF(Session& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName(QStringLiteral("NetAddrF"));
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

  TL8_NAME_AFTER_MEMBERS(Label1, ReceivAddrCaption, ReceivAddr, LabInput, MaskEdit1, BtWritA,
                         BtClose, BtFindA);
  ConnectHandler(BtFindA, &QPushButton::clicked, this, &TNetAddrF::BtFindAClick);
  ConnectHandler(BtWritA, &QPushButton::clicked, this, &TNetAddrF::BtWritAClick);
  ConnectHandler(BtClose, &QPushButton::clicked, this, &TNetAddrF::BtCloseClick);
  FilterKeys(MaskEdit1, [this](QChar key) {
    RunHandler([this, key] { MaskEdit1KeyPress(key); });
    return key;
  });
  connect(&session_.Gate(), &ExchangeGate::BusyChanged, this, [this](bool busy) {
    for (QPushButton* button : {BtWritA, BtClose, BtFindA}) button->setEnabled(!busy);
  });
}

void TNetAddrF::TaskManager() {
  FormInitial();
  BtFindAClick();
  emit WorkMenuVisible(true);
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
  ExchangeGate::Scope exchange(session_.Gate());
  if (!exchange) return;
  ShowReceivAddr(false);
  Label1->setText(kWaiting);
  Label1->show();
  BtClose->hide();
  RepaintNow();

  // Keeps the windows painted and the desktop assured the tool is alive,
  // while the user can start nothing.
  const auto repaint = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
  if (const int address = FindAdapterAddress(session_, repaint))
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
  session_.TalkTo(static_cast<uint8_t>(address));
}

void TNetAddrF::ShowNobody() {
  Label1->setText(kNoAnswer);
  MaskEdit1->setText(QStringLiteral("1"));
  session_.TalkTo(1);
  emit WorkMenuVisible(false);
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
  ExchangeGate::Scope exchange(session_.Gate());
  if (!exchange) return false;
  const int32_t address = StrToInt(MaskEdit1->displayText().trimmed());
  // Address 0 and 248 and above cannot be polled again: an adapter given one
  // would be lost to the tool.
  if (!IsAdapterAddress(address)) {
    boxes().Message(kAddressRangeText);
    return false;
  }
  // Its change record says it came from here: the menu item's caption. The
  // broadcast has no answer to wait for; through a Modbus TCP gateway, which
  // may drop it, a read at the new address confirms it.
  const bool throughGateway = session_.Requests().ThroughGateway();
  const RecordedAddressOutcome outcome = BroadcastNewAddressRecorded(
      session_,
      {QStringLiteral("Настройка адреса"),
       throughGateway ? GatewayUnconfirmedText(address) : kNoAnswerText},
      address, throughGateway);
  if (!RecordedOrSaySo(outcome.refusal)) return false;
  SayIfNotCompleted(outcome.completionError);
  if (throughGateway && !outcome.confirmed) boxes().Message(GatewayUnconfirmedText(address));
  return true;
}

void TNetAddrF::MaskEdit1KeyPress(QChar key) {
  // The mask lets the cursor skip a position, so the content may hold a blank
  // between digits; the conversion then refuses it.
  const QString content = MaskEdit1->displayText().trimmed();
  if (content.isEmpty()) return;
  const int32_t value = StrToInt(content);
  if (value == 0 || value > kLastAdapterAddress)
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
