#include "windows/paswkoefform.h"

#include "modbus/session.h"
#include "ui/boxes.h"
#include "ui/object_names.h"
#include "ui/tool_texts.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TPaswKoefForm::TPaswKoefForm(Session& session, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      session_(session) {
  setObjectName(QStringLiteral("PaswKoefForm"));
  // No title: an empty one would make Qt give the window system the
  // application's name instead. A single blank is sent as it is and shows
  // as nothing.
  setWindowTitle(QStringLiteral(" "));

  PaswKoefLabel = new QLabel(QStringLiteral("Введите кодовое слово - пароль"), this);
  PaswKoefLabel->setStyleSheet(QStringLiteral("font-weight: bold; color: navy;"));

  PaswKoefEdit = new QLineEdit(this);
  PaswKoefEdit->setEchoMode(QLineEdit::Password);
  PaswKoefEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
  PaswKoefEdit->setAccessibleName(PaswKoefLabel->text());
  setAccessibleName(PaswKoefLabel->text());  // the blank title names nothing
  PaswKoefLabel->setBuddy(PaswKoefEdit);

  Button1 = new QPushButton(QStringLiteral("Ok"), this);
  Button1->setDefault(true);
  Button1->setAutoDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PaswKoefLabel);
  layout->addWidget(PaswKoefEdit);
  layout->addWidget(Button1, 0, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setTabOrder(PaswKoefEdit, Button1);

  TL8_NAME_AFTER_MEMBERS(PaswKoefLabel, PaswKoefEdit, Button1);
  ConnectHandler(Button1, &QPushButton::clicked, this, &TPaswKoefForm::Button1Click);
  session_.SetPasswordPrompt(this, [this] { boxes().Exec(*this); });
}

TPaswKoefForm::~TPaswKoefForm() { session_.TakeBackPasswordPrompt(this); }

void TPaswKoefForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TPaswKoefForm::FormShow() {
  session_.TakeBackGrants();
  PaswKoefEdit->setFocus();
  PaswKoefEdit->clear();
}

void TPaswKoefForm::Button1Click() {
  const bool right = session_.JudgePassword(PaswKoefEdit->text());
  // An unlock word never stays in the edit; a write word does until the
  // dialog is shown again.
  if (session_.PasswordMode() == PasswordRequest::Unlock) PaswKoefEdit->clear();
  if (!right) boxes().Message(kWrongPasswordText, BoxIcon::None, QPoint(270, 215));
  accept();
}
