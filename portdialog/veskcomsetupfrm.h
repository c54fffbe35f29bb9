#pragma once
// The port-settings dialog: the user picks the serial port from the system's
// list (each shown with its description and a busy mark) or types its name;
// the line settings are shown greyed out. "OK" copies the choice into the port, saves all of the
// port's settings and has the caller open the port; a malformed network name is refused first.
// Build a fresh dialog for each use, so the port list is read again.

#include "portdialog/comcombobox.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>
#include <string>

class QGridLayout;
class QGroupBox;
class QLabel;
class QPushButton;

// Where "OK" saves the port's settings (the port's name is appended as a subkey).
inline const std::string PortSettingsKey = "\\Software\\Kavrion\\ZELK\\Comport Settings";

// Why a port name typed into the dialog (or given to the tool's --port) cannot
// be opened as it stands: a malformed network name (port 0, no host, an
// unclosed "[", a bad "?allow=") gets the box text that says what is wrong;
// any other name nothing.
std::optional<QString> PortNameRefusal(const QString& name);

// Where the dialog's frame goes: 15 px right of and below the pointer, moved
// back as far as it takes for the whole frame to lie in `available` (the
// area of the pointer's screen that windows may take, without task bars).
// A frame larger than the area keeps its top-left corner, with the title
// bar, in the area.
QPoint PlaceNearPointer(const QPoint& pointer, const QSize& frame, const QRect& available);

class TVeskComSetupFrm : public QDialog {
  Q_OBJECT

 public:
  // Lists the system's ports by name: raises "Registry error" when the list
  // cannot be read.
  explicit TVeskComSetupFrm(QWidget* parent = nullptr);

  // Runs the dialog for `port`, its ports shown with their descriptions and
  // busy marks. After "OK" the port holds the chosen settings, they are
  // saved, and `openComport` is called to open the port if it is closed.
  // Failures of the port escape as EComPort.
  void ExecutePortSetup(TCustomComPort& port, const std::function<void()>& openComport);

  // Copies the six list texts into the port within one settings bracket,
  // which is ended also when switching to the new port fails.
  void ApplyPortSetup(TCustomComPort& port);

  QGroupBox* GroupBox1;
  QLabel* Label1;
  TComComboBox* Combo1;  // port: a list that takes typing
  QLabel* Label2;
  TComComboBox* SpeedCombo;
  QLabel* Label3;
  TComComboBox* Combo3;  // data bits
  QLabel* Label4;
  TComComboBox* StopBitsCombo;
  QLabel* Label5;
  TComComboBox* Combo5;  // parity
  QLabel* Label6;
  TComComboBox* Combo6;  // flow control, hidden
  QPushButton* Button1;  // "OK"
  QPushButton* Button2;  // "Отмена"

 public slots:
  // "OK": a typed network name that cannot be opened as it stands (port 0,
  // no host, an unclosed "[", a bad "?allow=") is refused with a box that
  // says what is wrong, and the dialog stays.
  void accept() override;

 protected:
  // Esc must not close the dialog: it has no cancel button.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TComComboBox* AddRow(QGridLayout& grid, QLabel*& label, const QString& caption,
                       TComProperty property);
  // The six lists in binding and applying order.
  std::array<TComComboBox*, 6> Combos() const;
  // Near the pointer, within its screen (see PlaceNearPointer).
  void MoveNearPointer();
  // The size of the whole window, its frame included, as it is about to show.
  QSize FrameSize();
  void ShowChoiceTexts(const QStringList& parity, const QStringList& flowControl);
};
