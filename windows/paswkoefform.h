#pragma once
// The password gate: a small modal dialog that asks for a code word before the
// tool opens or writes the device's calibration data. It is the session's
// password prompt: a caller asks through Session::AskPassword and reads the
// session's grant flags afterwards.

#include "modbus/password.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class Session;

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
