#pragma once
// The calibration coefficients window (technological mode): reads all sixteen
// adapter parameters, lets the service engineer edit the twelve calibration
// coefficients, the serial number and the address, writes them back behind
// the write password, and keeps copies in coefficient files (*.dat).

#include <QWidget>

#include <array>
#include <cstdint>

class ProgressPanel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class Session;
struct CoefFileFields;
struct ParameterReading;

class TTehForm : public QWidget {
  Q_OBJECT

 public:
  explicit TTehForm(Session& session, QWidget* parent = nullptr);  // hidden and disabled

  QGroupBox* GroupBox1;  // channel 1
  QLabel* KoefLabel1;
  QLabel* KoefLabel2;
  QLabel* KoefLabel3;
  QLabel* KoefLabel4;
  QLabel* KoefLabel5;
  QLabel* KoefLabel6;
  QLineEdit* KoefEdit1;
  QLineEdit* KoefEdit2;
  QLineEdit* KoefEdit3;
  QLineEdit* KoefEdit4;
  QGroupBox* GroupBox2;  // channel 2
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QLineEdit* Edit21;
  QLineEdit* Edit22;
  QLineEdit* Edit23;
  QLineEdit* Edit24;
  QGroupBox* GroupBox3;  // channel 3
  QLabel* Label10;
  QLabel* Label11;
  QLabel* Label12;
  QLabel* Label13;
  QLabel* Label14;
  QLabel* Label15;
  QLineEdit* Edit31;
  QLineEdit* Edit32;
  QLineEdit* Edit33;
  QLineEdit* Edit34;
  QLabel* ZavodLabel;
  QLineEdit* ZavodEdit;
  QLabel* AdrLabel;
  QLineEdit* AdrEdit;
  QGroupBox* GroupBox4;  // where the shown date comes from
  QLabel* DataLabel;
  QPushButton* ReadButton;
  QPushButton* WriteButton;
  QPushButton* ReadFileButton;
  QPushButton* NachButton;
  ProgressPanel* Panel1;  // progress of a read or write
  QLabel* Label20;
  QProgressBar* ProgressBar1;

  // The twelve coefficient edits, parameter 1 first.
  std::array<QLineEdit*, 12> KoefEdits() const;

  // Reads all sixteen parameters from the adapter and shows them.
  void ReadButtonClick();
  // Optionally saves the coefficient file, then behind the write password
  // builds the image (nothing is sent unless every value converts), gives the
  // adapter the typed address and writes all sixteen parameters.
  void WriteButtonClick();
  // Fills the fields with the initial values of a new adapter.
  void NachButtonClick();
  // Fills the fields from a coefficient file.
  void ReadFileButtonClick();

  // ParamImage from the fields and the current moment; false after
  // "Проверьте данные".
  bool BuildKoefImage();

 signals:
  // A read from the adapter has ended (the bounds window may be used from now on).
  void AdapterRead();

 private:
  void CreateChannelBox(QGroupBox*& box, const QString& caption,
                        const std::array<QLabel**, 6>& labels,
                        const std::array<QLineEdit**, 4>& edits);
  QWidget* CreateDeviceRow();
  QWidget* CreateButtonRow();

  // The fourteen fields a write takes its data from.
  std::array<QLineEdit*, 14> DataFields() const;
  // While an exchange runs nothing may start another one or change the data
  // it is reading or writing; afterwards each button follows its own rule.
  void UpdateControls();
  void AllowWrite();

  void ShowDeviceDateCaption();
  void ShowDateCaption(const QString& caption);
  // A parameter just read, into its field, and the progress.
  void ShowParameter(const ParameterReading& parameter);
  bool SaveFileIfAsked();

  CoefFileFields FileFields() const;
  void ShowFileFields(const CoefFileFields& fields);

  Session& session_;
  bool writeAllowed_ = false;  // set by a read from the adapter or the initial values
};
