#include "windows/tehform.h"

#include "modbus/coeffile.h"
#include "modbus/number_text.h"
#include "modbus/recorded_write.h"
#include "modbus/register_map.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "ui/boxes.h"
#include "ui/object_names.h"
#include "windows/keyfilter.h"
#include "windows/outcomeboxes.h"
#include "windows/progresspanel.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>

namespace {

const QString kChannelCaptions[3] = {
    QStringLiteral("      Коэф.по первому каналу"),
    QStringLiteral("      Коэф.по второму каналу"),
    QStringLiteral("      Коэф.по третьему каналу"),
};
// Two headings, each over the rows of its pair of edits.
const QString kChannelLabels[6] = {
    QStringLiteral("Знач. пар-ра 1-го ЦАП"), QStringLiteral("при токе 20 mA"),
    QStringLiteral("при токе 4mA"),          QStringLiteral("Знач.тока без коррекции "),
    QStringLiteral("при коде 16 mA"),        QStringLiteral("при коде 4 mA"),
};
constexpr int kHeadingEvery = 3;

const QString kDeviceDateCaption = QStringLiteral("Дата записи коэф в ТЛ-8К");
const QString kFileDateCaption = QStringLiteral("Дата записи коэф в файл");
const QString kReadStatus = QStringLiteral(" Чтение коэффициентов ");
const QString kWriteStatus = QStringLiteral("Внимание! Идет запись коэффициентов ППЗУ!");
const QString kSaveQuestion = QStringLiteral("Сохранить данные на диске?");
const QString kFileFilter = QStringLiteral("текстовые (*.dat)");
const QString kFileSuffix = QStringLiteral("dat");
// Its writes' change records say it came from here: the menu item's caption.
const QString kFrontEndName = QStringLiteral("Технолог.режим");

// A new adapter's values, as the initial-values button puts them in.
const CoefFileFields kInitialFields{
    QStringLiteral("1"),
    QString(),
    QStringLiteral("0101001"),
    {"1010", "630", "16", "4", "85", "-40", "16", "4", "200", "1.5", "16", "4"}};

}  // namespace

TTehForm::TTehForm(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session) {
  setObjectName(QStringLiteral("TehForm"));
  setWindowTitle(QStringLiteral("Технолог.режим работы с коэффициентами ТЛ-8К"));

  CreateChannelBox(GroupBox1, kChannelCaptions[0],
                   {&KoefLabel1, &KoefLabel2, &KoefLabel3, &KoefLabel4, &KoefLabel5, &KoefLabel6},
                   {&KoefEdit1, &KoefEdit2, &KoefEdit3, &KoefEdit4});
  CreateChannelBox(GroupBox2, kChannelCaptions[1],
                   {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6},
                   {&Edit21, &Edit22, &Edit23, &Edit24});
  CreateChannelBox(GroupBox3, kChannelCaptions[2],
                   {&Label10, &Label11, &Label12, &Label13, &Label14, &Label15},
                   {&Edit31, &Edit32, &Edit33, &Edit34});

  auto* channels = new QHBoxLayout;
  for (QGroupBox* box : {GroupBox1, GroupBox2, GroupBox3}) channels->addWidget(box);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(channels);
  layout->addWidget(CreateDeviceRow());
  layout->addWidget(CreateButtonRow());
  Panel1 = new ProgressPanel(this);
  Label20 = Panel1->Status;
  ProgressBar1 = Panel1->Bar;
  layout->addWidget(Panel1);
  ButtonsTakeEnter(this);

  TL8_NAME_AFTER_MEMBERS(GroupBox1, KoefLabel1, KoefLabel2, KoefLabel3, KoefLabel4, KoefLabel5,
                         KoefLabel6, KoefEdit1, KoefEdit2, KoefEdit3, KoefEdit4, GroupBox2, Label1,
                         Label2, Label3, Label4, Label5, Label6, Edit21, Edit22, Edit23, Edit24,
                         GroupBox3, Label10, Label11, Label12, Label13, Label14, Label15, Edit31,
                         Edit32, Edit33, Edit34, ZavodLabel, ZavodEdit, AdrLabel, AdrEdit,
                         GroupBox4, DataLabel, ReadButton, WriteButton, ReadFileButton, NachButton,
                         Panel1, Label20, ProgressBar1);
  ConnectHandler(ReadButton, &QPushButton::clicked, this, &TTehForm::ReadButtonClick);
  ConnectHandler(WriteButton, &QPushButton::clicked, this, &TTehForm::WriteButtonClick);
  ConnectHandler(NachButton, &QPushButton::clicked, this, &TTehForm::NachButtonClick);
  ConnectHandler(ReadFileButton, &QPushButton::clicked, this, &TTehForm::ReadFileButtonClick);
  connect(&session_.Gate(), &ExchangeGate::BusyChanged, this, [this] { UpdateControls(); });

  UpdateControls();
  setEnabled(false);
}

void TTehForm::CreateChannelBox(QGroupBox*& box, const QString& caption,
                                const std::array<QLabel**, 6>& labels,
                                const std::array<QLineEdit**, 4>& edits) {
  box = new QGroupBox(caption, this);
  auto* grid = new QGridLayout(box);
  auto edit = edits.begin();
  QString heading;
  for (int row = 0; row < 6; ++row) {
    QLabel* label = *labels[row] = new QLabel(kChannelLabels[row], box);
    if (row % kHeadingEvery == 0) {
      heading = label->text().trimmed();
      grid->addWidget(label, row, 0, 1, 2);
      continue;
    }
    QLineEdit* field = ** edit++ = new QLineEdit(box);
    field->setMinimumWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("-0000.0000")) +
                           16);
    FilterKeys(field, NumberKey);
    field->setAccessibleName(caption.trimmed() + ", " + heading + ", " + label->text());
    label->setBuddy(field);
    label->setIndent(12);  // rows sit under their heading
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
  }
}

QWidget* TTehForm::CreateDeviceRow() {
  auto* row = new QWidget(this);
  ZavodLabel = new QLabel(QStringLiteral("Зав.№ "), row);
  ZavodEdit = new QLineEdit(row);
  AdrLabel = new QLabel(QStringLiteral("Адрес обращения"), row);
  AdrEdit = new QLineEdit(row);
  for (auto [label, field] : {std::pair{ZavodLabel, ZavodEdit}, std::pair{AdrLabel, AdrEdit}}) {
    label->setBuddy(field);
    field->setAccessibleName(label->text().trimmed());
  }

  GroupBox4 = new QGroupBox(QStringLiteral("Дата записи коэф в ТЛ-8К "), row);
  DataLabel = new QLabel(QStringLiteral("DataLabel"), GroupBox4);
  DataLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  DataLabel->setAccessibleDescription(GroupBox4->title());
  (new QVBoxLayout(GroupBox4))->addWidget(DataLabel);

  auto* fields = new QGridLayout;
  fields->addWidget(ZavodLabel, 0, 0);
  fields->addWidget(ZavodEdit, 0, 1);
  fields->addWidget(AdrLabel, 1, 0);
  fields->addWidget(AdrEdit, 1, 1);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(fields);
  layout->addWidget(GroupBox4, 1);
  return row;
}

QWidget* TTehForm::CreateButtonRow() {
  auto* row = new QWidget(this);
  ReadButton = new QPushButton(QStringLiteral("Чтение коэффициентов"), row);
  WriteButton = new QPushButton(QStringLiteral("Запись коэффициентов"), row);
  ReadFileButton = new QPushButton(QStringLiteral("Чтение коэф. из файла"), row);
  NachButton = new QPushButton(QStringLiteral("Начальная установка коэф. "), row);
  auto* layout = new QGridLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(ReadButton, 0, 0);
  layout->addWidget(WriteButton, 0, 1);
  layout->addWidget(ReadFileButton, 1, 0);
  layout->addWidget(NachButton, 1, 1);
  return row;
}

std::array<QLineEdit*, 12> TTehForm::KoefEdits() const {
  return {KoefEdit1, KoefEdit2, KoefEdit3, KoefEdit4, Edit21, Edit22,
          Edit23,    Edit24,    Edit31,    Edit32,    Edit33, Edit34};
}

std::array<QLineEdit*, 14> TTehForm::DataFields() const {
  std::array<QLineEdit*, 14> fields{};
  const auto coefficients = KoefEdits();
  std::copy(coefficients.begin(), coefficients.end(), fields.begin());
  fields[12] = ZavodEdit;
  fields[13] = AdrEdit;
  return fields;
}

void TTehForm::UpdateControls() {
  const bool idle = !session_.Gate().Busy();
  for (QPushButton* button : {ReadButton, ReadFileButton, NachButton}) button->setEnabled(idle);
  WriteButton->setEnabled(idle && writeAllowed_);
  for (QLineEdit* field : DataFields()) field->setReadOnly(!idle);
}

void TTehForm::AllowWrite() {
  writeAllowed_ = true;
  UpdateControls();
}

void TTehForm::ShowDeviceDateCaption() { ShowDateCaption(kDeviceDateCaption); }

void TTehForm::ShowDateCaption(const QString& caption) {
  GroupBox4->setTitle(caption);
  // The label's text, the date, is its accessible name; this says whose.
  DataLabel->setAccessibleDescription(caption);
}

void TTehForm::ShowParameter(const ParameterReading& parameter) {
  Panel1->ShowParametersDone(parameter.index);
  if (IsFloatParam(parameter.index))
    KoefEdits()[parameter.index - 1]->setText(parameter.shown);
  else if (parameter.index == kSerialNumberParam)
    ZavodEdit->setText(parameter.shown);
  else if (parameter.index == kStampParam)
    DataLabel->setText(parameter.shown);
  else if (parameter.index == kAddressCopyParam)
    AdrEdit->setText(parameter.shown);
}

void TTehForm::ReadButtonClick() {
  ExchangeGate::Scope exchange(session_.Gate());
  if (!exchange) return;
  ShowDeviceDateCaption();
  DataLabel->clear();
  ZavodEdit->clear();
  AdrEdit->clear();

  const ReadPlan plan{ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50};
  const ReadOutcome outcome =
      ReadAdapter(session_, plan,
                  {[this](int) { Panel1->Start(kReadStatus); },
                   [this](const ParameterReading& parameter) { ShowParameter(parameter); }});
  if (outcome.result == ReadResult::NoAnswer) {
    boxes().Message(NoAdapterText(session_.DeviceAddress()), BoxIcon::None, QPoint(230, 390));
    close();
    return;
  }
  if (outcome.result == ReadResult::ParameterFailed) boxes().Message(kReadFailedText);
  Panel1->hide();

  ChecksumVerify(outcome);
  emit AdapterRead();
  AllowWrite();
}

void TTehForm::WriteButtonClick() {
  ExchangeGate::Scope exchange(session_.Gate());
  if (!exchange) return;
  ShowDeviceDateCaption();
  DataLabel->clear();
  session_.SetPasswordMode(PasswordRequest::Write);

  // Checked before anything is saved or asked: a file or a password for an
  // address the adapter cannot take would only have to be thrown away.
  const int32_t address = StrToInt(AdrEdit->text());
  if (!IsAdapterAddress(address)) {
    boxes().Message(kAddressRangeText);
    return;
  }
  if (!SaveFileIfAsked()) return;

  session_.AskPassword(PasswordRequest::Write);
  if (!session_.WriteGranted()) {
    Panel1->hide();
    return;
  }
  // Every value converts before the first frame goes out.
  if (!BuildKoefImage()) return;
  const RecordedWriteOutcome outcome = WriteImageRecorded(
      session_, {kFrontEndName, kNoAnswerText}, address,
      {[this] { Panel1->Start(kWriteStatus); }, [this](int i) { Panel1->ShowParametersDone(i); }});
  if (!RecordedOrSaySo(outcome.refusal)) return;
  SayIfNotCompleted(outcome.completionError);
  // The panel stays to show where a failed write stopped.
  if (!WrittenOrSaySo(outcome.write, QPoint(406, 444), QPoint(392, 470))) return;
  Panel1->hide();
}

// False when the handler is to end here: the user chose an empty file name.
bool TTehForm::SaveFileIfAsked() {
  if (boxes().Question(kSaveQuestion, QPoint(232, 250)) != BoxAnswer::Yes) return true;
  const std::optional<QString> name =
      boxes().SaveFileName(ZavodEdit->text(), kFileFilter, kFileSuffix);
  if (!name) return true;  // cancelled: the write goes on without a file
  if (name->isEmpty()) return false;
  SaveCoefFile(*name, FileFields());
  return true;
}

bool TTehForm::BuildKoefImage() {
  ImageTexts texts;
  const auto edits = KoefEdits();
  for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = edits[i - 1]->text();
  texts.SerialNumber = ZavodEdit->text();
  texts.Address = AdrEdit->text();
  texts.Moment = QDateTime::currentDateTime();
  return BuildImageOrSaySo(session_, texts);
}

void TTehForm::NachButtonClick() {
  ShowDeviceDateCaption();
  ShowFileFields(kInitialFields);
  AllowWrite();
}

void TTehForm::ReadFileButtonClick() {
  AdrEdit->clear();
  ZavodEdit->clear();
  DataLabel->clear();
  const std::optional<QString> name = boxes().OpenFileName(QString());
  if (!name || name->isEmpty()) return;
  const std::optional<CoefFileFields> fields = LoadedOrSaySo([&] { return LoadCoefFile(*name); });
  if (!fields) return;
  ShowFileFields(*fields);
  ShowDateCaption(kFileDateCaption);
}

CoefFileFields TTehForm::FileFields() const {
  CoefFileFields fields{
      AdrEdit->text(), CoefFileDateText(QDateTime::currentDateTime()), ZavodEdit->text(), {}};
  const auto edits = KoefEdits();
  for (size_t i = 0; i < edits.size(); ++i) fields.Coefficients[i] = edits[i]->text();
  return fields;
}

void TTehForm::ShowFileFields(const CoefFileFields& fields) {
  AdrEdit->setText(fields.Address);
  DataLabel->setText(fields.Date);
  ZavodEdit->setText(fields.SerialNumber);
  const auto edits = KoefEdits();
  for (size_t i = 0; i < edits.size(); ++i) edits[i]->setText(fields.Coefficients[i]);
}
