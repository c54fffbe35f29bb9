#include "windows/koefforpotreb.h"

#include "modbus/boundsfile.h"
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

#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVBoxLayout>

namespace {

constexpr int kBoundDecimals = 2;

// A push button whose text wraps onto several lines, as long captions need.
class WrappingButton final : public QPushButton {
 public:
  using QPushButton::QPushButton;

  QSize sizeHint() const override {
    // About two lines of text.
    const QFontMetrics metrics(font());
    return SizeFor(metrics.horizontalAdvance(text()) / 2 + 2 * metrics.averageCharWidth());
  }
  QSize minimumSizeHint() const override { return SizeFor(LongestWordWidth()); }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override {
    return SizeFor(std::max(width - FrameSize(QSize()).width(), LongestWordWidth())).height();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.drawItemText(area, Qt::AlignCenter | Qt::TextWordWrap, palette(), isEnabled(), text(),
                         QPalette::ButtonText);
  }

 private:
  QSize FrameSize(QSize contents) const {
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, contents, this);
  }
  QSize SizeFor(int textWidth) const {
    const QRect text = fontMetrics().boundingRect(QRect(0, 0, textWidth, 10000),
                                                  Qt::AlignCenter | Qt::TextWordWrap, this->text());
    return FrameSize(text.size());
  }
  int LongestWordWidth() const {
    int widest = 0;
    for (const QString& word : text().split(' ', Qt::SkipEmptyParts))
      widest = std::max(widest, fontMetrics().horizontalAdvance(word));
    return widest;
  }
};

QLabel* Caption(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setStyleSheet(QStringLiteral("font-weight: bold; color: maroon;"));
  return label;
}

// The group of one channel: its two bound boxes under their labels.
QGroupBox* ChannelGroup(const QString& title, QLineEdit*& at20, QLineEdit*& at4, QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* grid = new QGridLayout(group);
  int row = 0;
  for (auto [text, edit] : {std::pair{QStringLiteral("при токе 20 mA"), &at20},
                            std::pair{QStringLiteral("при токе 4 mA"), &at4}}) {
    auto* label = new QLabel(text, group);
    *edit = new QLineEdit(group);
    (*edit)->setAccessibleName(title + ", " + text);
    label->setBuddy(*edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(*edit, row, 1);
    ++row;
  }
  return group;
}

}  // namespace

TKoefForPotreb::TKoefForPotreb(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session) {
  setObjectName(QStringLiteral("KoefForPotreb"));
  setWindowTitle(QStringLiteral("Режим  изменения  границ  параметров ТЛ-8К"));
  BuildControls();
  TL8_NAME_AFTER_MEMBERS(Label1, ZavodNEdit, AdrLabel, AdrEdit, GroupBox1, GroupBox2, GroupBox3,
                         GroupBox4, Canal1_20, Canal1_4, Canal2_20, Canal2_4, Canal3_20, Canal3_4,
                         DataZapLabel, ReadButton, WriteButton, IschodButton, Panel2, Label8,
                         ProgressBar1);
  ButtonsTakeEnter(this);
  ConnectHandlers();
  UpdateButtons();
  setEnabled(false);
  hide();
}

void TKoefForPotreb::BuildControls() {
  Label1 = Caption(QStringLiteral("Коэффициенты адаптера ТЛ-8К              Зав. №"), this);
  ZavodNEdit = new QLineEdit(this);
  ZavodNEdit->setAccessibleName(QStringLiteral("Зав. №"));
  Label1->setBuddy(ZavodNEdit);
  AdrLabel = Caption(QStringLiteral("Адрес обращения "), this);
  AdrEdit = new QLineEdit(this);
  AdrEdit->setAccessibleName(QStringLiteral("Адрес обращения"));
  AdrLabel->setBuddy(AdrEdit);
  const int numberWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000000000"));
  for (QLineEdit* edit : {ZavodNEdit, AdrEdit}) edit->setMaximumWidth(numberWidth);

  GroupBox1 = ChannelGroup(QStringLiteral("Границы по первому каналу"), Canal1_20, Canal1_4, this);
  GroupBox2 = ChannelGroup(QStringLiteral("Границы по второму каналу"), Canal2_20, Canal2_4, this);
  GroupBox3 = ChannelGroup(QStringLiteral("Границы по третьему каналу"), Canal3_20, Canal3_4, this);

  GroupBox4 = new QGroupBox(QStringLiteral("Дата записи коэф в ТЛ-8К"), this);
  DataZapLabel = new QLabel(GroupBox4);
  // Its text, the date, is its accessible name, announced when it changes;
  // the group's title says what the date is.
  DataZapLabel->setAccessibleDescription(GroupBox4->title());
  const QString widestDate = QStringLiteral("00/00/0000(00:00:00)");
  DataZapLabel->setMinimumWidth(fontMetrics().horizontalAdvance(widestDate));
  (new QVBoxLayout(GroupBox4))->addWidget(DataZapLabel);

  ReadButton = new WrappingButton(
      QStringLiteral("Чтение коэффициентов (сохранение границ в файле  tmp.dat)"), this);
  WriteButton = new QPushButton(QStringLiteral("Запись коэффициентов"), this);
  IschodButton =
      new WrappingButton(QStringLiteral("Прочитать  значения границ из файла tmp"), this);

  Panel2 = new ProgressPanel(this);
  Label8 = Panel2->Status;
  Label8->setText(QStringLiteral("          "));
  ProgressBar1 = Panel2->Bar;

  auto* header = new QGridLayout;
  header->addWidget(Label1, 0, 0, Qt::AlignRight);
  header->addWidget(ZavodNEdit, 0, 1);
  header->addWidget(AdrLabel, 1, 0, Qt::AlignRight);
  header->addWidget(AdrEdit, 1, 1);
  auto* top = new QHBoxLayout;
  top->addLayout(header);
  top->addStretch(1);
  top->addWidget(GroupBox4);

  auto* channels = new QGridLayout;
  const std::array<QWidget*, 3> groups{GroupBox1, GroupBox2, GroupBox3};
  const std::array<QWidget*, 3> buttons{ReadButton, WriteButton, IschodButton};
  for (int column = 0; column < 3; ++column) {
    channels->addWidget(groups[column], 0, column);
    // The three buttons share the height of the tallest caption.
    buttons[column]->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    channels->addWidget(buttons[column], 1, column);
    channels->setColumnStretch(column, 1);
  }

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(channels);
  layout->addWidget(Panel2);
}

void TKoefForPotreb::ConnectHandlers() {
  ConnectHandler(ReadButton, &QPushButton::clicked, this, &TKoefForPotreb::ReadButtonClick);
  ConnectHandler(WriteButton, &QPushButton::clicked, this, &TKoefForPotreb::WriteButtonClick);
  ConnectHandler(IschodButton, &QPushButton::clicked, this, &TKoefForPotreb::IschodButtonClick);
  for (const BoundBox& box : BoundBoxes()) FilterKeys(box.edit, NumberKey);
  FilterKeys(ZavodNEdit, DigitKey);
  connect(&session_.Gate(), &ExchangeGate::BusyChanged, this, [this] { UpdateButtons(); });
}

std::array<TKoefForPotreb::BoundBox, 6> TKoefForPotreb::BoundBoxes() const {
  const std::array<QLineEdit*, 6> boxes{Canal1_20, Canal1_4,  Canal2_20,
                                        Canal2_4,  Canal3_20, Canal3_4};
  std::array<BoundBox, 6> bound;
  for (size_t i = 0; i < bound.size(); ++i) bound[i] = {kBoundParams[i], boxes[i]};
  return bound;
}

QLineEdit* TKoefForPotreb::BoundBoxOf(int param) const {
  for (const BoundBox& box : BoundBoxes())
    if (box.param == param) return box.edit;
  return nullptr;
}

void TKoefForPotreb::UpdateButtons() {
  // Loading tmp.dat waits too: it would change boxes a running exchange
  // fills or is about to write.
  const bool idle = !session_.Gate().Busy();
  ReadButton->setEnabled(idle);
  IschodButton->setEnabled(idle);
  WriteButton->setEnabled(idle && writeAllowed_);
}

void TKoefForPotreb::AllowWrite() {
  writeAllowed_ = true;
  UpdateButtons();
}

void TKoefForPotreb::ReadAndSaveBounds() {
  ExchangeGate::Scope exchange(session_.Gate());
  if (!exchange) return;
  std::optional<BoundsFile> bounds;  // made once the first answer is in
  const ReadPlan plan{ReadPlan::FirstRequest::ParameterOneThenProbe, RetryPause::BeforeRetry, 100};
  const ReadOutcome outcome =
      ReadAdapter(session_, plan,
                  {[&](int answeringAddress) {
                     bounds.emplace();
                     StartRead(answeringAddress);
                   },
                   [&](const ParameterReading& parameter) {
                     if (const std::optional<QString> line = ShowParameter(parameter))
                       bounds->AddLine(*line);
                   }});
  if (outcome.result == ReadResult::NoAnswer) {
    boxes().Message(NoAdapterText(session_.DeviceAddress()), BoxIcon::None, QPoint(230, 390));
    hide();
    return;
  }
  if (outcome.result == ReadResult::UnexpectedAnswer) {
    boxes().Message(QStringLiteral("Нет ожидаемого ответа "), BoxIcon::None, QPoint(374, 390));
    hide();
    return;
  }
  // Only a read that got through and checks out replaces the bounds kept by
  // the last one: tmp.dat may be the only good copy of them.
  if (FinishRead(outcome) && outcome.result == ReadResult::Read) bounds->Finish();
}

void TKoefForPotreb::ReadButtonClick() {
  ExchangeGate::Scope exchange(session_.Gate());
  if (!exchange) return;
  AdrEdit->clear();
  ZavodNEdit->clear();
  DataZapLabel->clear();
  const ReadPlan plan{ReadPlan::FirstRequest::Probe, RetryPause::BeforeRetry, 50};
  const ReadOutcome outcome =
      ReadAdapter(session_, plan,
                  {[this](int answeringAddress) { StartRead(answeringAddress); },
                   [this](const ParameterReading& parameter) { ShowParameter(parameter); }});
  if (outcome.result == ReadResult::NoAnswer) {
    boxes().Message(NoAdapterText(session_.DeviceAddress()), BoxIcon::None, QPoint(180, 250));
    return;
  }
  FinishRead(outcome);
}

void TKoefForPotreb::StartRead(int answeringAddress) {
  AdrEdit->setText(QString::number(answeringAddress));
  Panel2->Start(QStringLiteral(" Чтение коэффициентов "));
}

std::optional<QString> TKoefForPotreb::ShowParameter(const ParameterReading& parameter) {
  Panel2->ShowParametersDone(parameter.index);
  if (parameter.index == kSerialNumberParam) ZavodNEdit->setText(parameter.shown);
  if (parameter.index == kStampParam) DataZapLabel->setText(parameter.shown);
  // Serial number and stamp reads decode no float: their lines repeat the
  // last float read.
  if (parameter.index == kSerialNumberParam || parameter.index == kStampParam)
    return FixedText(parameter.deviceValue, kBoundDecimals);
  QLineEdit* box = BoundBoxOf(parameter.index);
  if (!box) return std::nullopt;
  // The device keeps channel 2's bounds with an offset; the window and
  // tmp.dat hold the value as the user means it.
  box->setText(parameter.shown);
  return box->text();
}

bool TKoefForPotreb::FinishRead(const ReadOutcome& outcome) {
  if (outcome.result == ReadResult::ParameterFailed) boxes().Message(kReadFailedText);
  Panel2->hide();
  AllowWrite();
  const bool checksumMatches = ChecksumVerify(outcome);
  setEnabled(true);
  AdrEdit->setFocus();
  return checksumMatches;
}

void TKoefForPotreb::WriteButtonClick() {
  ExchangeGate::Scope exchange(session_.Gate());
  if (!exchange) return;
  DataZapLabel->setText(QStringLiteral(" "));
  session_.AskPassword(PasswordRequest::Unlock);
  if (!session_.UnlockGranted()) {
    AdrEdit->setFocus();
    return;
  }
  const int32_t address = StrToInt(AdrEdit->text());
  if (!IsAdapterAddress(address)) {
    boxes().Message(kAddressRangeText);
    AdrEdit->setFocus();
    return;
  }
  // Every value converts before the first frame goes out.
  if (!BuildBoundsImage()) return;
  // Its change records say it came from here: the menu item's caption.
  const RecordedWriteOutcome outcome = WriteImageRecorded(
      session_, {QStringLiteral("Изм.границ пар-ров"), kNoAnswerText}, address,
      {[this] { Panel2->Start(QStringLiteral("Внимание! Идет запись коэффициентов ППЗУ!")); },
       [this](int k) { Panel2->ShowParametersDone(k); }});
  if (!RecordedOrSaySo(outcome.refusal)) return;
  SayIfNotCompleted(outcome.completionError);
  const QPoint noAnswerAt(406, 444);
  if (!WrittenOrSaySo(outcome.write, noAnswerAt, noAnswerAt)) return;
  Panel2->hide();
  AdrEdit->setFocus();
}

void TKoefForPotreb::IschodButtonClick() {
  const auto lines = LoadedOrSaySo([] { return LoadBoundsFile(); });
  if (!lines) return;
  const auto bounds = BoundBoxes();
  for (size_t i = 0; i < bounds.size(); ++i) bounds[i].edit->setText((*lines)[i]);
  AllowWrite();
  AdrEdit->setFocus();
}

bool TKoefForPotreb::BuildBoundsImage() {
  ImageTexts texts;
  for (const BoundBox& box : BoundBoxes()) texts.FloatFields[box.param] = box.edit->text();
  texts.SerialNumber = ZavodNEdit->text();
  texts.Address = AdrEdit->text();
  texts.Moment = QDateTime::currentDateTime();
  return BuildImageOrSaySo(session_, texts);
}
