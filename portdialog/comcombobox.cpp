#include "portdialog/comcombobox.h"

#include "ui/boxes.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

TPortLister& PortLister() {
  static TPortLister lister;
  return lister;
}

std::vector<ComPortInfo> ListPortsDescribed() {
  return PortLister() ? PortLister()() : EnumComPortsDescribed();
}

// The bare names: what the list holds, read without finding out who holds
// which port (on Windows that means opening it).
std::vector<std::string> ListPortNames() {
  if (!PortLister()) return EnumComPorts();
  std::vector<std::string> names;
  for (const ComPortInfo& port : PortLister()()) names.push_back(port.name);
  return names;
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

// The parts of a port list's shown line after the name.
const QString kBusyMark = QStringLiteral(" (занят)");
const QString kConsoleMark = QStringLiteral(" (консоль)");
const QString kDescriptionSeparator = QStringLiteral(" — ");

QString ShownPortLine(const ComPortInfo& port, bool busy) {
  QString shown = QString::fromStdString(port.name);
  if (busy) shown += kBusyMark;
  if (port.console) shown += kConsoleMark;
  if (!port.description.empty())
    shown += kDescriptionSeparator + QString::fromStdString(port.description);
  return shown;
}

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
      // cpPort
      {ListPortNames, [](const TCustomComPort& port) { return port.Port(); },
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

QString PortNameOfShownLine(const QString& line) {
  QString name = line.trimmed();
  if (const qsizetype separator = name.indexOf(kDescriptionSeparator); separator > 0)
    name.truncate(separator);
  for (bool marked = true; marked;) {
    marked = false;
    for (const QString& mark : {kBusyMark, kConsoleMark}) {
      if (name.size() > mark.size() && name.endsWith(mark)) {
        name.chop(mark.size());
        marked = true;
      }
    }
  }
  return name.trimmed();
}

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
  for (const std::string& item : BindingOf(value).items()) addItem(QString::fromStdString(item));
  // A list selects its first item when filled; until a port says otherwise, nothing is chosen.
  setCurrentIndex(-1);
  RefreshFromPort();
}

QString TComComboBox::Text() const {
  if (isEditable())
    return ComProperty_ == cpPort ? PortNameOfShownLine(currentText()) : currentText().trimmed();
  return currentIndex() < 0 ? QString() : currentText();
}

void TComComboBox::RefreshFromPort() {
  if (!ComPort_) return;
  QString current = QString::fromStdString(BindingOf(ComProperty_).current(*ComPort_));
  // A shown line taken for a name (and saved) before is its port, not an entry of its own.
  if (ComProperty_ == cpPort) current = PortNameOfShownLine(current);
  int index = findText(current, Qt::MatchFixedString);  // fixed-string matching ignores case
  if (index < 0 && ComProperty_ == cpPort && !current.isEmpty()) index = AddPortName(current);
  setCurrentIndex(index);
}

void TComComboBox::ApplyTo(TCustomComPort& port) const {
  BindingOf(ComProperty_).apply(port, Text().toStdString());
}

void TComComboBox::ItemChosen() {
  if (AutoApply_ && ComPort_) ApplyTo(*ComPort_);
}

// Keeps the list in the system list's order: alphabetical, ignoring case.
int TComComboBox::AddPortName(const QString& name) {
  int index = 0;
  while (index < count() && itemText(index).compare(name, Qt::CaseInsensitive) < 0) ++index;
  insertItem(index, name);
  return index;
}

void TComComboBox::ShowPortDetails() {
  const std::vector<ComPortInfo> ports = ListPortsDescribed();
  const bool ownOpen = ComPort_ && ComPort_->Connected();
  const QString own = ComPort_ ? QString::fromStdString(ComPort_->Port()) : QString();
  for (int i = 0; i < count(); ++i) {
    QString shown = itemText(i);
    const auto port = std::find_if(ports.begin(), ports.end(), [&shown](const ComPortInfo& p) {
      return QString::fromStdString(p.name) == shown;
    });
    if (port != ports.end()) {
      const bool ours = ownOpen && shown.compare(own, Qt::CaseInsensitive) == 0;
      shown = ShownPortLine(*port, port->busy && !ours);
    }
    setItemData(i, shown, ShownTextRole);
    setItemData(i, shown, Qt::ToolTipRole);
  }
  if (!dynamic_cast<ShownTextDelegate*>(itemDelegate()))
    setItemDelegate(new ShownTextDelegate(this));
  // The drop-down is as wide as its longest line, however narrow the field.
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
}
