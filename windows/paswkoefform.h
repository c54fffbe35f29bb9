#pragma once
// The password gate: a small modal dialog that asks for a code word before the
// tool opens or writes the device's calibration data. It is the session's
// password prompt: a caller asks through Session::AskPassword and reads the
// session's grant flags afterwards.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class Session;

// PasswordMode 1 compares with the unlock word, anything else with the write
// word.
inline const QString kUnlockPassword = QStringLiteral("Rumel");
inline const QString kWritePassword = QStringLiteral("Pelmar");

class TPaswKoefForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPaswKoefForm(Session& session, QWidget* parent = nullptr);
  ~TPaswKoefForm() override;

  QLabel* PaswKoefLabel;
  QLineEdit* PaswKoefEdit;
  QPushButton* Button1;

  void Button1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();

  Session& session_;
};
