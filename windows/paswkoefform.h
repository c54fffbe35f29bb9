#pragma once
// The password gate: a small modal dialog that asks for a code word before the
// tool opens or writes the device's calibration data. The caller sets
// PasswordMode, shows the dialog and reads the grant flag afterwards.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// 1: unlock request (compared with the unlock word); anything else: write
// confirmation (compared with the write word).
inline int PasswordMode = 0;
inline int UnlockGranted = 0;  // 1 after the unlock word in unlock mode
inline int WriteGranted = 0;   // 1 after the write word in write-confirmation mode

inline const QString kUnlockPassword = QStringLiteral("Rumel");
inline const QString kWritePassword = QStringLiteral("Pelmar");

class TPaswKoefForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPaswKoefForm(QWidget* parent = nullptr);

  QLabel* PaswKoefLabel;
  QLineEdit* PaswKoefEdit;
  QPushButton* Button1;

  void Button1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
};

// The process-wide instance, created at start-up.
inline TPaswKoefForm* PaswKoefForm = nullptr;

// Shows the gate modally in the given mode; the caller then reads the flags.
void AskPassword(int mode);
