#include "windows/progresspanel.h"

#include "modbus/params.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

ProgressPanel::ProgressPanel(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  Status = new QLabel(this);
  QFont bold = Status->font();
  bold.setBold(true);
  Status->setFont(bold);
  Bar = new QProgressBar(this);
  Bar->setRange(0, 100);
  Bar->setAccessibleName(QStringLiteral("Ход операции"));
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(Status);
  layout->addWidget(Bar, 1);
  QSizePolicy policy = sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  setSizePolicy(policy);
  hide();
}

void ProgressPanel::Start(const QString& operation) {
  Status->setText(operation);
  Bar->setValue(0);
  show();
}

void ProgressPanel::ShowParametersDone(int done) { Bar->setValue(done * 100 / kParamCount); }
