#include "portdialog/comcombobox.h"

#include "ui/boxes.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

namespace {

// A port item's description and busy mark, as the system's list gave them.
constexpr int kDescriptionRole = Qt::UserRole + 2;
constexpr int kBusyRole = Qt::UserRole + 3;

TPortLister& PortLister() {
  static TPortLister lister;
  return lister;
}

std::vector<ComPortInfo> ListPorts() {
  return PortLister() ? PortLister()() : EnumComPortsDescribed();
}

// Draws a list's items as their ShownTextRole says, where they have one.
class ShownTextDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant shown = index.data(TComComboBox::ShownTextRole);
    if (shown.isValid()) option->text = shown.toString();
  }
};

// What a list offers, how it reads the port's current value as text, and how
// a chosen text goes back into the port.
struct PropertyBinding {
  std::vector<std::string> (*items)();
  std::string (*current)(const TCustomComPort&);
  void (*apply)(TCustomComPort&, const std::string&);
};

const PropertyBinding& BindingOf(TComProperty property) {
  static const PropertyBinding bindings[] = {
      // cpNone
      {[] { return std::vector<std::string>{}; },
       [](const TCustomComPort&) { return std::string(); },
       [](TCustomComPort&, const std::string&) {}},
      // cpPort: its items come from ListPorts, with their descriptions
      {[] { return std::vector<std::string>{}; },
       [](const TCustomComPort& port) { return port.Port(); },
       [](TCustomComPort& port, const std::string& text) { port.SetPort(text); }},
      // cpBaudRate
      {[] { return BaudRateTexts(); },
       [](const TCustomComPort& port) { return BaudRateToStr(port.BaudRate()); },
       [](TCustomComPort& port, const std::string& text) {
         port.SetBaudRate(StrToBaudRate(text));
       }},
      // cpDataBits
      {[] { return DataBitsTexts(); },
       [](const TCustomComPort& port) { return DataBitsToStr(port.DataBits()); },
       [](TCustomComPort& port, const std::string& text) {
         port.SetDataBits(StrToDataBits(text));
       }},
      // cpStopBits
      {[] { return StopBitsTexts(); },
       [](const TCustomComPort& port) { return StopBitsToStr(port.StopBits()); },
       [](TCustomComPort& port, const std::string& text) {
         port.SetStopBits(StrToStopBits(text));
       }},
      // cpParity
      {[] { return ParityTexts(); },
       [](const TCustomComPort& port) { return ParityToStr(port.Parity().Bits()); },
       [](TCustomComPort& port, const std::string& text) {
         port.Parity().SetBits(StrToParity(text));
       }},
      // cpFlowControl
      {[] { return FlowControlTexts(); },
       [](const TCustomComPort& port) {
         return FlowControlToStr(port.FlowControl().FlowControl());
       },
       [](TCustomComPort& port, const std::string& text) {
         port.FlowControl().SetFlowControl(StrToFlowControl(text));
       }},
  };
  return bindings[property];
}

}  // namespace

void SetPortLister(TPortLister lister) { PortLister() = std::move(lister); }

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
  ConnectHandler(this, &QComboBox::activated, this, &TComComboBox::ItemChosen);
}

void TComComboBox::SetComPort(TCustomComPort* port) {
  if (port == ComPort_) return;
  ComPort_ = port;
  RefreshFromPort();
}

void TComComboBox::SetComProperty(TComProperty value) {
  ComProperty_ = value;
  clear();
  if (value == cpPort) {
    if (!dynamic_cast<ShownTextDelegate*>(itemDelegate()))
      setItemDelegate(new ShownTextDelegate(this));
    AddPorts(ListPorts());
  }
  for (const std::string& item : BindingOf(value).items()) addItem(QString::fromStdString(item));
  // A list selects its first item when filled; until a port says otherwise, nothing is chosen.
  setCurrentIndex(-1);
  RefreshFromPort();
}

QString TComComboBox::Text() const {
  if (isEditable()) return currentText().trimmed();
  return currentIndex() < 0 ? QString() : currentText();
}

void TComComboBox::RefreshFromPort() {
  if (!ComPort_) return;
  const QString current = QString::fromStdString(BindingOf(ComProperty_).current(*ComPort_));
  int index = findText(current, Qt::MatchFixedString);  // fixed-string matching ignores case
  if (index < 0 && ComProperty_ == cpPort && !current.isEmpty()) index = AddPortName(current);
  setCurrentIndex(index);
  if (ComProperty_ == cpPort) ShowPortDetails();
}

void TComComboBox::ApplyTo(TCustomComPort& port) const {
  BindingOf(ComProperty_).apply(port, Text().toStdString());
}

void TComComboBox::ItemChosen() {
  if (AutoApply_ && ComPort_) ApplyTo(*ComPort_);
}

void TComComboBox::AddPorts(const std::vector<ComPortInfo>& ports) {
  for (const ComPortInfo& port : ports) {
    addItem(QString::fromStdString(port.name));
    setItemData(count() - 1, QString::fromStdString(port.description), kDescriptionRole);
    setItemData(count() - 1, port.busy, kBusyRole);
  }
  ShowPortDetails();
}

// Keeps the list in the system list's order: alphabetical, ignoring case.
int TComComboBox::AddPortName(const QString& name) {
  int index = 0;
  while (index < count() && itemText(index).compare(name, Qt::CaseInsensitive) < 0) ++index;
  insertItem(index, name);
  return index;
}

void TComComboBox::ShowPortDetails() {
  const bool ownOpen = ComPort_ && ComPort_->Connected();
  const QString own = ComPort_ ? QString::fromStdString(ComPort_->Port()) : QString();
  for (int i = 0; i < count(); ++i) {
    const bool ours = ownOpen && itemText(i).compare(own, Qt::CaseInsensitive) == 0;
    QString shown = itemText(i);
    if (itemData(i, kBusyRole).toBool() && !ours) shown += QStringLiteral(" (занят)");
    const QString description = itemData(i, kDescriptionRole).toString();
    if (!description.isEmpty()) shown += QStringLiteral(" — ") + description;
    setItemData(i, shown, ShownTextRole);
    setItemData(i, shown, Qt::ToolTipRole);
  }
  // The drop-down is as wide as its longest line, however narrow the field.
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
}
