// The calibration window against the simulated adapter: what it shows after a
// read, what goes over the line on a write, and its coefficient files.

#include "windows/tehform.h"
#include "windows/progresspanel.h"

#include "modbus/session.h"
#ifndef _WIN32
#include "tests/support/file_faults.h"
#endif
#include "tests/support/adapter_requests.h"
#include "tests/support/password_answer.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"
#include "tests/support/test_data.h"
#include "ui/boxes.h"
#include "windows/koefforpotreb.h"
#include "windows/paswkoefform.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>
#include <stdexcept>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using tl8test::FullRead;
using tl8test::FullWrite;
using tl8test::Probe;
using tl8test::Request;
using tl8test::RequestsOf;

const QStringList kInitialCoefficients = {"1010", "630", "16",  "4",   "85", "-40",
                                          "16",   "4",   "200", "1.5", "16", "4"};
const std::vector<int> kProgress = {0,  6,  12, 18, 25, 31, 37, 43, 50,
                                    56, 62, 68, 75, 81, 87, 93, 100};

class TehFormTest : public ::testing::Test {
 protected:
  TehFormTest() { TestApp(); }

  void SetUp() override {
    password = std::make_unique<TPaswKoefForm>(session);
    form = std::make_unique<TTehForm>(session);
    QObject::connect(form.get(), &TTehForm::AdapterRead, [this] { ++adapterReads; });
    QObject::connect(form->ProgressBar1, &QProgressBar::valueChanged,
                     [this](int value) { progress.push_back(value); });
  }

  // The adapter on the line; the tool talks to address 1, as after start-up.
  void StartAdapter(const std::vector<std::string>& args = {}) {
    sim.Restart(tl8test::SimulatorSetup(args));
    session.Exchange().DeviceAddress = 1;
  }

  // As the main menu opens the window.
  void OpenAndRead() {
    form->show();
    form->ReadButtonClick();
    form->setEnabled(true);
  }

  void AnswerPassword(const QString& word) { ::AnswerPassword(boxes, word); }

  // A write as the user does it: no file, the right password.
  void WriteWithoutFile() {
    boxes.AnswerQuestion(BoxAnswer::No);
    AnswerPassword(kWritePassword);
    form->WriteButtonClick();
  }

  QStringList Coefficients() const {
    QStringList texts;
    for (QLineEdit* edit : form->KoefEdits()) texts << edit->text();
    return texts;
  }

  // Enabled by its own rule: the window itself stays disabled until the main
  // menu's first read has run.
  bool Usable(QWidget* control) const { return control->isEnabledTo(form.get()); }

  std::vector<ShownBox::Kind> ShownKinds() const {
    std::vector<ShownBox::Kind> kinds;
    for (const ShownBox& box : boxes.Shown()) kinds.push_back(box.kind);
    return kinds;
  }

  ScriptedBoxes boxes;
  tl8test::SimSession sim;
  Session& session = sim.session;
  std::unique_ptr<TPaswKoefForm> password;
  std::unique_ptr<TTehForm> form;
  int adapterReads = 0;  // reads that let the bounds window be used
  std::vector<int> progress;
  QTemporaryDir files;
};

TEST_F(TehFormTest, ReadShowsEveryParameterInItsForm) {
  StartAdapter();  // the factory set
  ASSERT_FALSE(Usable(form->WriteButton));
  form->NachButtonClick();  // allows a write, but not while the read runs
  struct Busy {
    bool read, write, file, initial, editable;
  };
  std::optional<Busy> midway;  // the controls while the read runs
  QObject::connect(form->ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
    if (value != 50 || midway) return;
    midway = Busy{Usable(form->ReadButton), Usable(form->WriteButton), Usable(form->ReadFileButton),
                  Usable(form->NachButton), !form->KoefEdit1->isReadOnly()};
    form->ReadButtonClick();  // a second exchange may not start meanwhile
  });

  OpenAndRead();

  EXPECT_EQ(Coefficients(),
            QStringList({"1010.00", "630.00", "16.0000", "4.0000", "85.00", "-40.00", "16.0000",
                         "4.0000", "200.00", "1.50", "16.0000", "4.0000"}));
  EXPECT_EQ(form->ZavodEdit->text(), "0101001");
  EXPECT_EQ(form->AdrEdit->text(), "1");
  const QDateTime stamp = QDateTime::fromString(form->DataLabel->text(), "dd/MM/yyyy(HH:mm:ss)");
  EXPECT_TRUE(stamp.isValid()) << form->DataLabel->text().toStdString();
  EXPECT_EQ(form->GroupBox4->title(), "Дата записи коэф в ТЛ-8К");
  EXPECT_EQ(session.Params().ParamText[1], "1010.0000");
  EXPECT_EQ(session.Params().ParamText[5], "85.0000");
  EXPECT_EQ(session.Params().ParamText[10], "1.5000");
  EXPECT_EQ(progress, kProgress);
  EXPECT_TRUE(boxes.Shown().empty()) << "no failure and a matching checksum";
  EXPECT_FALSE(form->Panel1->isVisible());
  EXPECT_EQ(adapterReads, 1);

  ASSERT_TRUE(midway);
  EXPECT_FALSE(midway->read || midway->write || midway->file || midway->initial ||
               midway->editable);
  EXPECT_EQ(RequestsOf(sim.Received()), FullRead(1))
      << "the probe and sixteen reads, nothing in between";
  for (QPushButton* button :
       {form->ReadButton, form->WriteButton, form->ReadFileButton, form->NachButton})
    EXPECT_TRUE(Usable(button)) << button->text().toStdString();
  EXPECT_FALSE(form->KoefEdit1->isReadOnly());
}

TEST_F(TehFormTest, NoAdapterClosesTheWindow) {
  StartAdapter({"--address", "2"});
  form->ZavodEdit->setText("123");
  form->AdrEdit->setText("4");
  form->DataLabel->setText("01/01/2024(00:00:00)");

  OpenAndRead();

  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text, "Нет ответа от ТЛ-8 с адресом  001");
  EXPECT_EQ(boxes.Shown()[0].pos, QPoint(230, 390));
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(form->ZavodEdit->text().isEmpty() && form->AdrEdit->text().isEmpty() &&
              form->DataLabel->text().isEmpty());
  EXPECT_FALSE(Usable(form->WriteButton));
  EXPECT_EQ(adapterReads, 0);
  EXPECT_EQ(RequestsOf(sim.Received()), std::vector<Request>(2, Probe(1))) << "the probe, twice";
}

TEST_F(TehFormTest, ReadGivesUpOnAParameterThatFailsTwice) {
  StartAdapter({"--fault", "silent,fn=3,reg=265"});  // parameter 5
  form->NachButtonClick();
  form->KoefEdit1->setText("old");
  form->Edit21->setText("old");

  OpenAndRead();

  ASSERT_EQ(boxes.Texts(), std::vector<QString>{"Сбой!"});
  EXPECT_EQ(boxes.Shown()[0].pos, std::nullopt);
  EXPECT_EQ(session.Params().ReadFailed, 1);
  EXPECT_EQ(form->KoefEdit1->text(), "1010.00");
  EXPECT_EQ(form->Edit21->text(), "old");
  EXPECT_EQ(progress.back(), 25);
  EXPECT_TRUE(Usable(form->WriteButton));
  EXPECT_EQ(adapterReads, 1);
  EXPECT_FALSE(form->Panel1->isVisible());
}

TEST_F(TehFormTest, InitialValuesThenWriteSendExactlyThem) {
  StartAdapter();
  form->show();
  form->NachButtonClick();
  EXPECT_TRUE(Usable(form->WriteButton));
  EXPECT_EQ(Coefficients(), kInitialCoefficients);
  EXPECT_EQ(form->ZavodEdit->text(), "0101001");
  EXPECT_EQ(form->AdrEdit->text(), "1");

  WriteWithoutFile();

  EXPECT_EQ(RequestsOf(sim.Received()), FullWrite(1, 1));
  const tl8test::SimState state = sim.State(1);
  const float expected[12] = {1010, 630, 16, 4, 185, 60, 16, 4, 200, 1.5, 16, 4};
  for (int i = 1; i <= 12; ++i) EXPECT_EQ(AdapterFloat(state.param(i)), expected[i - 1]) << i;
  EXPECT_EQ(LsbFirstValue(state.param(13)), 101001u);
  EXPECT_EQ(state.param(15), (std::array<uint8_t, 4>{0, 1, 0, 0}));
  EXPECT_EQ(state.address, 1);
  EXPECT_TRUE(state.checksumMatches());
  EXPECT_EQ(progress, kProgress);
  EXPECT_FALSE(form->Panel1->isVisible());
  EXPECT_TRUE(form->DataLabel->text().isEmpty());
  EXPECT_EQ(session.PasswordMode(), PasswordRequest::Write);
}

TEST_F(TehFormTest, WrittenValuesReadBackInTheirForms) {
  StartAdapter();
  form->NachButtonClick();
  form->ZavodEdit->setText("5");
  form->KoefEdit3->setText("0.1");
  form->Edit22->setText("20");
  WriteWithoutFile();
  boxes.Clear();

  OpenAndRead();

  EXPECT_EQ(form->ZavodEdit->text(), "05");
  EXPECT_EQ(form->KoefEdit3->text(), "0.1000");
  EXPECT_EQ(form->Edit22->text(), "20.00");
  EXPECT_EQ(session.Params().ParamText[6], "20.0000");
  EXPECT_TRUE(boxes.Shown().empty()) << "the checksum written matches";
}

TEST_F(TehFormTest, NewAddressGoesToTheOldOneAndParametersToTheNew) {
  StartAdapter();
  form->NachButtonClick();
  form->AdrEdit->setText("5");

  WriteWithoutFile();

  EXPECT_EQ(RequestsOf(sim.Received()), FullWrite(1, 5));
  EXPECT_EQ(session.Exchange().DeviceAddress, 5);
  EXPECT_THROW(sim.link().memory(1), std::out_of_range);
  EXPECT_EQ(sim.State(5).address, 5);
  EXPECT_EQ(sim.State(5).param(15)[1], 5);
}

TEST_F(TehFormTest, WriteStopsWhereTheAdapterFallsSilent) {
  const struct {
    const char* fault;
    QPoint messageAt;
    std::vector<Request> sent;
    int addressAfter;
    bool panelShown;
  } cases[] = {
      {"silent,fn=6", QPoint(406, 444), {{1, 6, 375}, {1, 6, 375}}, 1, false},
      {"silent,fn=16,reg=265",
       QPoint(392, 470),
       {{1, 6, 375},
        {2, 16, 257},
        {2, 16, 259},
        {2, 16, 261},
        {2, 16, 263},
        {2, 16, 265},
        {2, 16, 265}},
       2,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    SetUp();
    StartAdapter({"--fault", c.fault});
    form->show();
    form->NachButtonClick();
    form->AdrEdit->setText("2");

    WriteWithoutFile();

    EXPECT_EQ(boxes.Shown().back().text, "Нет ответа");
    EXPECT_EQ(boxes.Shown().back().pos, c.messageAt);
    EXPECT_EQ(RequestsOf(sim.Received()), c.sent);
    EXPECT_EQ(session.Exchange().DeviceAddress, c.addressAfter);
    EXPECT_EQ(form->Panel1->isVisible(), c.panelShown);
    boxes.Clear();
  }
}

TEST_F(TehFormTest, SavedFileLoadsBackAndARefusedPasswordSendsNothing) {
  StartAdapter();
  form->show();
  form->NachButtonClick();
  form->ZavodEdit->setText("Зав-7");
  form->Edit32->setText("1.5E-3");
  const QString path = files.filePath("coef.dat");
  WriteFile(path, "an older file\r\n");

  boxes.AnswerQuestion(BoxAnswer::Yes);
  boxes.AnswerFile(path);
  AnswerPassword("Pelmar ");
  // The file's date line has whole seconds.
  const QDateTime started = QDateTime::currentDateTime().addMSecs(-999);
  form->WriteButtonClick();
  const QDateTime ended = QDateTime::currentDateTime();

  ASSERT_EQ(ShownKinds(), (std::vector{ShownBox::Question, ShownBox::SaveFile, ShownBox::Dialog,
                                       ShownBox::Message}));
  EXPECT_EQ(boxes.Shown()[0].text, "Сохранить данные на диске?");
  EXPECT_EQ(boxes.Shown()[0].pos, QPoint(232, 250));
  EXPECT_EQ(boxes.Shown()[1].text, "Зав-7") << "the serial number is the proposed name";
  EXPECT_EQ(boxes.Shown()[3].text, "Пароль введен неверно");
  EXPECT_TRUE(sim.NothingReceived());
  EXPECT_FALSE(form->Panel1->isVisible());

  const QList<QByteArray> lines = FileBytes(path).split('\n');
  ASSERT_EQ(lines.size(), 16) << "fifteen lines, each ended by CR LF";
  EXPECT_EQ(lines[0], "1\r");
  EXPECT_EQ(lines[2], "\xC7\xE0\xE2-7\r") << "Windows-1251";
  EXPECT_EQ(lines[12], "1.5E-3\r");
  const QString dateLine = QString::fromLatin1(lines[1].chopped(1));
  const QDateTime written = QDateTime::fromString(dateLine, "dd/MM/yyyy(HH:mm:ss)");
  EXPECT_TRUE(started <= written && written <= ended) << dateLine.toStdString();

  // Loaded back into emptied fields.
  for (QLineEdit* edit : form->KoefEdits()) edit->setText("x");
  boxes.AnswerFile(path);
  form->ReadFileButtonClick();
  QStringList expected = kInitialCoefficients;
  expected[9] = "1.5E-3";
  EXPECT_EQ(Coefficients(), expected);
  EXPECT_EQ(form->ZavodEdit->text(), "Зав-7");
  EXPECT_EQ(form->AdrEdit->text(), "1");
  EXPECT_EQ(form->DataLabel->text(), dateLine);
  EXPECT_EQ(form->GroupBox4->title(), "Дата записи коэф в файл");
}

TEST_F(TehFormTest, ThreeLineFileEmptiesTheCoefficients) {
  const QString path = files.filePath("short.dat");
  WriteFile(path, "7\r\n01/02/2024(10:20:30)\r\n123\r\n");
  for (QLineEdit* edit : form->KoefEdits()) edit->setText("9");

  boxes.AnswerFile(path);
  form->ReadFileButtonClick();

  EXPECT_EQ(form->AdrEdit->text(), "7");
  EXPECT_EQ(form->DataLabel->text(), "01/02/2024(10:20:30)");
  EXPECT_EQ(form->ZavodEdit->text(), "123");
  EXPECT_EQ(Coefficients(), QStringList(12, QString()));
  EXPECT_FALSE(Usable(form->WriteButton)) << "a file read alone does not allow a write";
}

// A coefficient written past the line limit ("0.<1030 zeros>5e1030" is 0.5)
// is bad data: nothing of the file reaches the fields, never a value cut short.
TEST_F(TehFormTest, AFileWithALineTooLongFillsNoField) {
  const QString path = files.filePath("long.dat");
  WriteFile(path, "7\r\n01/02/2024(10:20:30)\r\n123\r\n0." + QByteArray(1030, '0') + "5e1030\r\n");
  for (QLineEdit* edit : form->KoefEdits()) edit->setText("9");
  form->AdrEdit->setText("5");
  form->ZavodEdit->setText("6");
  form->DataLabel->setText("01/01/2020(00:00:00)");

  boxes.AnswerFile(path);
  RunHandler([this] { form->ReadFileButtonClick(); });

  ASSERT_EQ(ShownKinds(), (std::vector{ShownBox::OpenFile, ShownBox::Message}));
  EXPECT_EQ(boxes.Shown()[1].text, "Проверьте данные");
  EXPECT_EQ(Coefficients(), QStringList(12, "9"));
  // Cleared before the open dialog, as always.
  EXPECT_EQ(form->AdrEdit->text(), "");
  EXPECT_EQ(form->ZavodEdit->text(), "");
  EXPECT_EQ(form->DataLabel->text(), "");
}

// A name as long as a name may be (255 bytes, 255 characters on Windows) is
// saved like any other: the new file beside it has a short name of its own.
TEST_F(TehFormTest, ANameAtTheLengthLimitIsSaved) {
  StartAdapter();
  form->NachButtonClick();
  const QString path = files.filePath(QString(251, u'a') + ".dat");
  WriteFile(path, "old content");

  boxes.AnswerQuestion(BoxAnswer::Yes);
  boxes.AnswerFile(path);
  AnswerPassword("Pelmar ");  // refused: the write ends after the save
  RunHandler([this] { form->WriteButtonClick(); });

  ASSERT_EQ(ShownKinds(), (std::vector{ShownBox::Question, ShownBox::SaveFile, ShownBox::Dialog,
                                       ShownBox::Message}));
  EXPECT_EQ(boxes.Shown()[3].text, "Пароль введен неверно");
  EXPECT_TRUE(sim.NothingReceived());
  EXPECT_EQ(FileBytes(path).split('\n').size(), 16) << "fifteen lines, each ended by CR LF";
  EXPECT_EQ(QDir(files.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
            QStringList{QString(251, u'a') + ".dat"})
      << "no new file left beside it";
}

#ifdef _WIN32
// A file another program holds open cannot be replaced: the old file stays,
// the standard report says why, and the adapter is not asked.
TEST_F(TehFormTest, AFileHeldOpenKeepsItsContentAndSendsNothing) {
  StartAdapter();
  form->NachButtonClick();
  const QString path = files.filePath("coef.dat");
  WriteFile(path, "old content");
  QFile holder(path);
  ASSERT_TRUE(holder.open(QIODevice::ReadOnly));

  boxes.AnswerQuestion(BoxAnswer::Yes);
  boxes.AnswerFile(path);
  RunHandler([this] { form->WriteButtonClick(); });

  ASSERT_EQ(ShownKinds(), (std::vector{ShownBox::Question, ShownBox::SaveFile, ShownBox::Message}));
  EXPECT_EQ(boxes.Shown()[2].icon, BoxIcon::Error);
  EXPECT_TRUE(boxes.Shown()[2].text.startsWith("Cannot save \"" + path + "\": "))
      << boxes.Shown()[2].text.toStdString();
  EXPECT_EQ(FileBytes(path), "old content");
  EXPECT_TRUE(sim.NothingReceived());
  EXPECT_FALSE(session.Gate().Busy());
  EXPECT_TRUE(Usable(form->WriteButton));
}
#endif

TEST_F(TehFormTest, UnusableAddressStopsTheWriteBeforeAnything) {
  StartAdapter();
  form->NachButtonClick();
  const struct {
    QString typed, message;
    BoxIcon icon;
  } cases[] = {
      {"0", "Адрес должен быть от 1 до 247", BoxIcon::None},
      {"248", "Адрес должен быть от 1 до 247", BoxIcon::None},
      {"1a", "'1a' is not a valid integer value.", BoxIcon::Error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    boxes.Clear();
    form->AdrEdit->setText(c.typed);
    RunHandler([this] { form->WriteButtonClick(); });
    ASSERT_EQ(boxes.Shown().size(), 1u) << "no save question, no password";
    EXPECT_EQ(boxes.Shown()[0].text, c.message);
    EXPECT_EQ(boxes.Shown()[0].icon, c.icon);
  }
  EXPECT_TRUE(sim.NothingReceived());
}

TEST_F(TehFormTest, CoefficientEditsFilterTheirKeys) {
  form->show();
  form->setEnabled(true);
  const auto type = [](QLineEdit* edit, const QString& keys) {
    for (QChar key : keys) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(key));
      QApplication::sendEvent(edit, &press);
    }
  };
  // "," -> "."; exponent letters of both layouts -> "E"; "+", blanks and
  // other letters swallowed.
  const QString keys = QStringLiteral("1,5eEеЕ+ aж-7");
  for (QLineEdit* edit : form->KoefEdits()) {
    SCOPED_TRACE(edit->accessibleName().toStdString());
    edit->clear();
    type(edit, keys);
    EXPECT_EQ(edit->text(), "1.5EEEE-7");
  }
  for (QLineEdit* unfiltered : {form->ZavodEdit, form->AdrEdit}) {
    unfiltered->clear();
    type(unfiltered, keys);
    EXPECT_EQ(unfiltered->text(), keys);
  }
}

// Keys as X11 delivers them: Delete carries DEL (on the keypad too),
// Backspace BS, cursor keys no text. A read-only box (as during an exchange)
// takes no character, a replaced one neither.
TEST_F(TehFormTest, EditingKeysWorkAndReadOnlyBoxesTakeNothing) {
  form->show();
  form->setEnabled(true);
  const struct {
    const char* name;
    int cursor;
    int key;
    QString text;
    Qt::KeyboardModifiers modifiers;
    bool readOnly;
    QString after;
    int cursorAfter;
  } cases[] = {
      {"Delete", 0, Qt::Key_Delete, "\x7f", {}, false, "2.5", 0},
      {"keypad Delete", 0, Qt::Key_Delete, "\x7f", Qt::KeypadModifier, false, "2.5", 0},
      {"Delete without text", 0, Qt::Key_Delete, "", {}, false, "2.5", 0},
      {"Backspace", 4, Qt::Key_Backspace, "\b", {}, false, "12.", 3},
      {"Home", 4, Qt::Key_Home, "", {}, false, "12.5", 0},
      {"End", 0, Qt::Key_End, "", {}, false, "12.5", 4},
      {"Left", 4, Qt::Key_Left, "", {}, false, "12.5", 3},
      {"Right", 0, Qt::Key_Right, "", {}, false, "12.5", 1},
      {"comma", 4, Qt::Key_Comma, ",", {}, false, "12.5.", 5},
      {"read-only: comma", 4, Qt::Key_Comma, ",", {}, true, "12.5", 4},
      {"read-only: Cyrillic e", 4, Qt::Key_unknown, "е", {}, true, "12.5", 4},
      {"read-only: e", 4, Qt::Key_E, "e", {}, true, "12.5", 4},
      {"read-only: digit", 4, Qt::Key_1, "1", {}, true, "12.5", 4},
      {"read-only: Delete", 0, Qt::Key_Delete, "\x7f", {}, true, "12.5", 0},
  };
  for (QLineEdit* edit : form->KoefEdits()) {
    for (const auto& c : cases) {
      SCOPED_TRACE(edit->accessibleName().toStdString() + ": " + c.name);
      edit->setReadOnly(c.readOnly);
      edit->setText("12.5");
      edit->setCursorPosition(c.cursor);
      QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, c.text);
      QApplication::sendEvent(edit, &press);
      EXPECT_EQ(edit->text(), c.after);
      EXPECT_EQ(edit->cursorPosition(), c.cursorAfter);
    }
    edit->setReadOnly(false);
  }
}

#ifndef _WIN32  // a mounted tmpfs, FIFOs and /dev/zero
// A disk that fills up during the save: the old file stays, the standard
// report says why, and neither the password nor the adapter is asked.
TEST_F(TehFormTest, AFullDiskKeepsTheOldFileAndSendsNothing) {
  TinyDisk disk;
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  StartAdapter();
  form->NachButtonClick();
  const QString path = disk.FilePath("coef.dat");
  WriteFile(path, "old content");
  disk.Fill();

  boxes.AnswerQuestion(BoxAnswer::Yes);
  boxes.AnswerFile(path);
  RunHandler([this] { form->WriteButtonClick(); });

  ASSERT_EQ(ShownKinds(), (std::vector{ShownBox::Question, ShownBox::SaveFile, ShownBox::Message}));
  EXPECT_EQ(boxes.Shown()[2].icon, BoxIcon::Error);
  EXPECT_EQ(boxes.Shown()[2].text, "Cannot save \"" + path + "\": No space left on device.");
  EXPECT_EQ(FileBytes(path), "old content");
  EXPECT_TRUE(sim.NothingReceived());
  EXPECT_FALSE(session.Gate().Busy());
}

// Refused before it is opened: a FIFO would freeze the tool for good,
// /dev/zero would never end.
TEST_F(TehFormTest, LoadingSomethingThatIsNoRegularFileIsRefused) {
  const QString fifo = files.filePath("fifo.dat");
  ASSERT_EQ(mkfifo(qPrintable(fifo), 0644), 0);
  for (const QString& path : {fifo, QStringLiteral("/dev/zero")}) {
    SCOPED_TRACE(path.toStdString());
    form->NachButtonClick();
    boxes.Clear();
    boxes.AnswerFile(path);
    RunHandler([this] { form->ReadFileButtonClick(); });
    ASSERT_EQ(ShownKinds(), (std::vector{ShownBox::OpenFile, ShownBox::Message}));
    EXPECT_EQ(boxes.Shown()[1].text, "Cannot read \"" + path + "\": Not a regular file.");
    EXPECT_EQ(Coefficients(), kInitialCoefficients);
    EXPECT_TRUE(form->AdrEdit->text().isEmpty() && form->ZavodEdit->text().isEmpty());
  }
}

#endif
TEST_F(TehFormTest, FocusedButtonsTakeEnter) {
  form->show();
  form->setEnabled(true);
  for (QPushButton* button : form->findChildren<QPushButton*>()) {
    SCOPED_TRACE(button->text().toStdString());
    button->setEnabled(true);
    QObject::disconnect(button, &QPushButton::clicked, nullptr, nullptr);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, "\r");
      QApplication::sendEvent(button, &press);
    }
    EXPECT_EQ(clicks, 2);
  }
}

// The date is the label's accessible name, so a screen reader reads it and
// hears it change; the group's title, which says whose date it is, is its
// description.
TEST_F(TehFormTest, TheWriteDateReachesAccessibility) {
  const QString path = files.filePath("dated.dat");
  WriteFile(path, "7\r\n01/02/2024(10:20:30)\r\n");
  boxes.AnswerFile(path);
  form->ReadFileButtonClick();
  QAccessibleInterface* label = QAccessible::queryAccessibleInterface(form->DataLabel);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(QAccessible::Name), "01/02/2024(10:20:30)");
  EXPECT_EQ(label->text(QAccessible::Description), "Дата записи коэф в файл");

  form->NachButtonClick();
  EXPECT_EQ(label->text(QAccessible::Description), "Дата записи коэф в ТЛ-8К");
}

// Spoilt answers never show as values nor count as written: each ends in the
// adapter's true values or in the window's failure message.
TEST_F(TehFormTest, SpoiltAnswersEndInTrueValuesOrAMessage) {
  const struct {
    const char* fault;
    bool write;
    std::vector<QString> messages;
    QString shownP3, shownP4;   // after a read
    std::vector<Request> sent;  // of a write
  } cases[] = {
      {"exception:4,fn=3,reg=261", false, {"Сбой!"}, "old", "old", {}},
      // The late answer is dropped before the retry; the retry's own answer,
      // late too, never shows as parameter 4.
      {"late:200,fn=3,reg=261", false, {"Сбой!"}, "old", "old", {}},
      {"exception:4,fn=16,reg=265",
       true,
       {"Нет ответа"},
       {},
       {},
       {{1, 6, 375},
        {1, 16, 257},
        {1, 16, 259},
        {1, 16, 261},
        {1, 16, 263},
        {1, 16, 265},
        {1, 16, 265}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    SetUp();
    StartAdapter({"--fault", c.fault});
    form->NachButtonClick();
    form->KoefEdit3->setText("old");
    form->KoefEdit4->setText("old");
    if (c.write) {
      form->KoefEdit3->setText("16");
      form->KoefEdit4->setText("4");
      WriteWithoutFile();
      EXPECT_EQ(RequestsOf(sim.Received()), c.sent);
    } else {
      OpenAndRead();
      EXPECT_EQ(form->KoefEdit3->text(), c.shownP3);
      EXPECT_EQ(form->KoefEdit4->text(), c.shownP4);
    }
    std::vector<QString> messages;
    for (const ShownBox& box : boxes.Shown())
      if (box.kind == ShownBox::Message) messages.push_back(box.text);
    EXPECT_EQ(messages, c.messages);
    boxes.Clear();
  }
}

TEST_F(TehFormTest, ValueTooLargeForTheAdapterStopsTheWriteBeforeAnything) {
  StartAdapter();
  form->NachButtonClick();
  form->Edit33->setText("1.701412E+38");  // the largest device float as shown
  boxes.AnswerQuestion(BoxAnswer::No);
  AnswerPassword(kWritePassword);
  RunHandler([this] { form->WriteButtonClick(); });
  ASSERT_EQ(boxes.Shown().size(), 3u);
  EXPECT_EQ(boxes.Shown()[2].text, "Floating point overflow.");
  EXPECT_EQ(boxes.Shown()[2].icon, BoxIcon::Error);
  EXPECT_TRUE(sim.NothingReceived());
  EXPECT_FALSE(session.Gate().Busy());
}

}  // namespace
