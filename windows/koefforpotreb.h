#pragma once
// The parameter bounds window: reads the adapter's whole parameter set, shows
// the per-channel bounds, the serial number, the answering address and the
// date of the last write, keeps a copy of the bounds in tmp.dat and writes the
// set back behind the unlock password.

#include <QWidget>

#include <array>
#include <functional>
#include <optional>

struct ParameterReading;
struct ReadOutcome;
class Session;
class ProgressPanel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class TKoefForPotreb : public QWidget {
  Q_OBJECT

 public:
  explicit TKoefForPotreb(Session& session, QWidget* parent = nullptr);

  QLabel* Label1;
  QLineEdit* ZavodNEdit;
  QLabel* AdrLabel;
  QLineEdit* AdrEdit;
  QGroupBox* GroupBox1;
  QGroupBox* GroupBox2;
  QGroupBox* GroupBox3;
  QGroupBox* GroupBox4;
  QLineEdit* Canal1_20;
  QLineEdit* Canal1_4;
  QLineEdit* Canal2_20;
  QLineEdit* Canal2_4;
  QLineEdit* Canal3_20;
  QLineEdit* Canal3_4;
  QLabel* DataZapLabel;
  QPushButton* ReadButton;
  QPushButton* WriteButton;
  QPushButton* IschodButton;
  ProgressPanel* Panel2;
  QLabel* Label8;
  QProgressBar* ProgressBar1;

  // The read on opening: also keeps the six bounds in tmp.dat.
  void ReadAndSaveBounds();
  // The read on request: writes no file.
  void ReadButtonClick();
  // Behind the password: builds the image (nothing is sent unless every value
  // converts), writes the address register, then all 16 parameters.
  void WriteButtonClick();
  // Loads the six bound boxes from tmp.dat.
  void IschodButtonClick();

  // Builds the parameter image from the boxes; false after "Проверьте данные".
  bool BuildBoundsImage();

 private:
  struct BoundBox {
    int param;
    QLineEdit* edit;
  };
  // The six bound boxes in tmp.dat's order, with their parameters.
  std::array<BoundBox, 6> BoundBoxes() const;
  QLineEdit* BoundBoxOf(int param) const;

  void BuildControls();
  void ConnectHandlers();
  // The buttons rest while any exchange runs, then follow their own rules.
  void UpdateButtons();
  void AllowWrite();

  // After the first answer: its address into AdrEdit, the progress panel up.
  void StartRead(int answeringAddress);
  // The window's part of a parameter just read: the tmp.dat line it gives.
  std::optional<QString> ShowParameter(const ParameterReading& parameter);
  // Ends a read ("Сбой!" when it stopped early); whether its checksum may be
  // trusted (after "Ошибка ЦИК массива" when not).
  bool FinishRead(const ReadOutcome& outcome);

  Session& session_;
  bool writeAllowed_ = false;
};
