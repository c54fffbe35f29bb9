#pragma once
// A drop-down list bound to one setting of a serial port: it offers the
// setting's texts, selects the port's current one, and copies the chosen text
// back into the port when asked (or at once, with AutoApply). A port list
// shows each port with what the system knows of it, while its items stay the
// bare names that are chosen and stored.

#include "serial/comport.h"

#include <QComboBox>

#include <functional>
#include <string>
#include <vector>

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

class TComComboBox : public QComboBox {
  Q_OBJECT

 public:
  // What a port list shows of an item, in its drop-down and as its tool tip:
  // the name, "(занят)" when another program holds the port, "(консоль)"
  // when the kernel writes its console there, and the description
  // ("ttyUSB0 — FTDI FT232R USB UART, ..."). The item's text stays the bare
  // name: a console is still picked and opened when asked for.
  static constexpr int ShownTextRole = Qt::UserRole + 1;

  explicit TComComboBox(QWidget* parent = nullptr);

  TCustomComPort* ComPort() const { return ComPort_; }
  // Binding a port other than the bound one selects its current value.
  void SetComPort(TCustomComPort* port);

  TComProperty ComProperty() const { return ComProperty_; }
  // Rebuilds the item list; for cpPort this lists the system's ports (their
  // names only), which raises "Registry error" when the list cannot be read.
  void SetComProperty(TComProperty value);

  // When on, choosing an item changes the bound port's setting at once.
  bool AutoApply() const { return AutoApply_; }
  void SetAutoApply(bool value) { AutoApply_ = value; }

  // The selected item's text; empty when nothing is selected. For a list
  // that takes typing, the text in its field, without blanks around it.
  QString Text() const;

  // Selects the item matching the port's current value, ignoring letter case;
  // nothing when none matches. A port name the system does not list is added
  // as an entry of its own, so the port in use can always be kept.
  void RefreshFromPort();

  // A port list about to be shown: finds out what the system knows of each
  // listed port and whether another program holds it (see
  // EnumComPortsDescribed), and shows that beside the names (ShownTextRole).
  // The bound port, while open, is not busy: this tool holds it. Raises
  // "Registry error" when the list cannot be read.
  void ShowPortDetails();

  // Sets the bound setting of `port` from Text() through the setting's text
  // conversion (an unknown text gives that setting's fallback value).
  void ApplyTo(TCustomComPort& port) const;

 private:
  void ItemChosen();
  int AddPortName(const QString& name);

  TCustomComPort* ComPort_ = nullptr;
  TComProperty ComProperty_ = cpNone;
  bool AutoApply_ = false;
};

// The bare port name of a line as a port list shows it ("ttyUSB0 (занят) — FTDI
// ..." gives "ttyUSB0"), whatever the marks and description say now: a shown
// line typed or pasted into the field names its port. Any other text is the
// name as it stands, blanks around it left out.
QString PortNameOfShownLine(const QString& line);

// Where the cpPort lists come from: the system's (EnumComPorts for the names,
// EnumComPortsDescribed for what is shown of them) unless replaced (tests
// list their own pseudo-terminals). An empty function restores the system's.
using TPortLister = std::function<std::vector<ComPortInfo>()>;
void SetPortLister(TPortLister lister);
