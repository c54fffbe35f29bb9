// The bounds window against the simulated adapter: its reads, tmp.dat, the
// write behind the password, the key filters and one exchange at a time.
#include "windows/koefforpotreb.h"
#include "windows/progresspanel.h"

#include "modbus/session.h"
#ifndef _WIN32
#include "tests/support/file_faults.h"
#endif
#include "sim/memory.h"
#include "tests/support/adapter_requests.h"
#include "tests/support/password_answer.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"
#include "tests/support/test_data.h"
#include "windows/paswkoefform.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <stdexcept>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using tl8test::Frame;
using tl8test::FullRead;
using tl8test::FullWrite;
using tl8test::kFactoryBounds;
using tl8test::kFactoryTmpDat;
using tl8test::ParameterReads;
using tl8test::Probe;
using tl8test::Request;
using tl8test::RequestsOf;
using tl8test::SimJournalEntry;
using Bytes4 = std::array<std::uint8_t, 4>;

const QString kTmpDat = QStringLiteral("tmp.dat");

class BoundsWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(workDir.isValid());
    previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workDir.path()));  // tmp.dat lands here
    session.Exchange().DeviceAddress = 1;
  }

  void TearDown() override { QDir::setCurrent(previousDir); }

  // A fresh simulated adapter on the line, as tl8sim takes `args`.
  void Connect(const std::vector<std::string>& args = {}) {
    sim.Restart(tl8test::SimulatorSetup(args));
  }

  // What the main window's menu item does.
  void OpenFromTheMenu() {
    window.show();
    window.ReadAndSaveBounds();
    window.setEnabled(true);
  }

  void AnswerPassword(const QString& word) { ::AnswerPassword(boxes, word); }

  QStringList BoundTexts() const {
    QStringList texts;
    for (QLineEdit* box : BoundBoxes()) texts << box->text();
    return texts;
  }
  std::array<QLineEdit*, 6> BoundBoxes() const {
    return {window.Canal1_20, window.Canal1_4,  window.Canal2_20,
            window.Canal2_4,  window.Canal3_20, window.Canal3_4};
  }

  QApplication& app = TestApp();  // before any widget
  QTemporaryDir workDir;
  QString previousDir;
  ScriptedBoxes boxes;
  tl8test::SimSession sim;
  Session& session = sim.session;
  TPaswKoefForm password{session};
  TKoefForPotreb window{session};
};

TEST_F(BoundsWindow, ReadOnOpeningFillsTheWindowAndKeepsTheBoundsInTmpDat) {
  Connect();
  ASSERT_FALSE(window.isEnabled());
  ASSERT_FALSE(window.WriteButton->isEnabled());
  OpenFromTheMenu();

  EXPECT_EQ(BoundTexts(), kFactoryBounds);
  EXPECT_EQ(window.ZavodNEdit->text(), "0101001");
  EXPECT_EQ(window.AdrEdit->text(), "1");
  // The date as the simulator itself describes its stamp.
  const QString state =
      QString::fromStdString(sim::describeParam(sim.link().memory(1), sim::kStampParam));
  const auto stamp = QRegularExpression(R"(date of the last write (\S+))").match(state);
  ASSERT_TRUE(stamp.hasMatch());
  EXPECT_EQ(window.DataZapLabel->text(), stamp.captured(1));
  EXPECT_EQ(FileBytes(kTmpDat), kFactoryTmpDat);
  EXPECT_EQ(session.Params().ParamText[3], "16.0000");
  EXPECT_EQ(session.Params().ParamText[5], "85.0000");
  EXPECT_EQ(session.Params().ReadFailed, 0);

  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isEnabled());
  EXPECT_TRUE(window.WriteButton->isEnabled());
  EXPECT_FALSE(window.Panel2->isVisible());
  EXPECT_EQ(window.ProgressBar1->value(), 100);
  EXPECT_TRUE(boxes.Shown().empty());                 // the checksum matches
  std::vector<Request> expected = ParameterReads(1);  // after the first request: parameter 1
  expected.insert(expected.begin(), {1, 3, 257});
  EXPECT_EQ(RequestsOf(sim.Received()), expected);
}

TEST_F(BoundsWindow, NoUsableFirstAnswerHidesTheWindowAndLeavesTmpDat) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    uint8_t address;
    QString message;
    QPoint pos;
  };
  const std::vector<Case> cases = {
      {"no adapter at the address", {}, 17, "Нет ответа от ТЛ-8 с адресом  0017", {230, 390}},
      {"only the probe answers",
       {"--fault", "silent,reg=257"},
       1,
       "Нет ожидаемого ответа ",
       {374, 390}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Connect(c.args);
    session.Exchange().DeviceAddress = c.address;
    WriteFile(kTmpDat, "old\r\n");
    boxes.Clear();
    window.show();
    window.ReadAndSaveBounds();

    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, c.message);
    EXPECT_EQ(boxes.Shown()[0].pos, c.pos);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.isEnabled());
    EXPECT_FALSE(window.WriteButton->isEnabled());
    EXPECT_EQ(window.AdrEdit->text(), "");
    EXPECT_EQ(FileBytes(kTmpDat), "old\r\n");
    EXPECT_EQ(RequestsOf(sim.Received()),
              (std::vector<Request>{{c.address, 3, 257}, Probe(c.address)}))
        << "the parameter read and the probe";
  }
}

// The new tmp.dat replaces the old one only once its read has got through:
// the lines of a failed read are of no use for loading.
TEST_F(BoundsWindow, FailureMidReadKeepsThePreviousTmpDat) {
  for (const char* fault : {"silent,reg=273", "badcrc,reg=273"}) {  // parameter 9
    SCOPED_TRACE(fault);
    Connect({"--fault", fault});
    WriteFile(kTmpDat, "old\r\n");
    boxes.Clear();
    window.Canal3_20->setText("7.00");
    window.Canal3_4->setText("8.00");
    OpenFromTheMenu();

    ASSERT_EQ(boxes.Shown().size(), 1u);  // and no checksum complaint
    EXPECT_EQ(boxes.Shown()[0].text, "Сбой!");
    EXPECT_FALSE(boxes.Shown()[0].pos.has_value());
    EXPECT_EQ(session.Params().ReadFailed, 1);
    EXPECT_EQ(FileBytes(kTmpDat), "old\r\n");
    EXPECT_EQ(QDir().entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{kTmpDat})
        << "the new copy was left behind";
    EXPECT_EQ(BoundTexts(), QStringList({"1010.00", "630.00", "85.00", "-40.00", "7.00", "8.00"}));
    EXPECT_TRUE(window.WriteButton->isEnabled());
    EXPECT_TRUE(window.isEnabled());
    EXPECT_FALSE(window.Panel2->isVisible());
    const std::vector<Request> requests = RequestsOf(sim.Received());
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(std::vector<Request>(requests.end() - 2, requests.end()),
              std::vector<Request>(2, {1, 3, 273}));
  }
}

// A read whose checksum does not match shows its values but keeps the
// previous tmp.dat: that may be the only good copy of the bounds.
TEST_F(BoundsWindow, ChecksumErrorKeepsThePreviousTmpDat) {
  sim::Memory spoilt = tl8test::FactoryAdapter(1);
  spoilt.param(1) = sim::floatBytes(1234.0f);  // changed behind the checksum's back
  tl8test::SimLinkSetup setup;
  setup.adapters = {spoilt};
  sim.Restart(setup);
  WriteFile(kTmpDat, "old\r\n");
  OpenFromTheMenu();

  ASSERT_EQ(boxes.Texts(), std::vector<QString>{"Ошибка ЦИК массива"});
  EXPECT_EQ(window.Canal1_20->text(), "1234.00");
  EXPECT_EQ(FileBytes(kTmpDat), "old\r\n");
  EXPECT_EQ(QDir().entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{kTmpDat})
      << "the new copy was left behind";
  EXPECT_TRUE(window.WriteButton->isEnabled());
}

TEST_F(BoundsWindow, ReadOnRequestNeverTouchesTmpDat) {
  Connect();
  window.show();
  window.setEnabled(true);
  window.ReadButton->click();
  EXPECT_EQ(BoundTexts(), kFactoryBounds);
  EXPECT_EQ(window.ZavodNEdit->text(), "0101001");
  EXPECT_EQ(window.AdrEdit->text(), "1");
  EXPECT_TRUE(window.WriteButton->isEnabled());
  EXPECT_FALSE(QFile::exists(kTmpDat));
  EXPECT_EQ(RequestsOf(sim.Received()), FullRead(1));

  WriteFile(kTmpDat, "old\r\n");
  window.ReadButton->click();
  EXPECT_EQ(FileBytes(kTmpDat), "old\r\n");
  EXPECT_TRUE(boxes.Shown().empty());

  // Nobody at the address: the fields of the adapter are emptied first, the
  // bounds stay and the window stays open.
  session.Exchange().DeviceAddress = 17;
  window.ReadButton->click();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text, "Нет ответа от ТЛ-8 с адресом  0017");
  EXPECT_EQ(boxes.Shown()[0].pos, QPoint(180, 250));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.AdrEdit->text(), "");
  EXPECT_EQ(window.ZavodNEdit->text(), "");
  EXPECT_EQ(window.DataZapLabel->text(), "");
  EXPECT_EQ(window.Canal2_20->text(), "85.00");
  EXPECT_EQ(FileBytes(kTmpDat), "old\r\n");
}

TEST_F(BoundsWindow, WriteSendsTheBoxesBehindThePasswordToTheNewAddress) {
  // An adapter whose parameter 3 has more decimals than the 4-decimal form keeps.
  tl8test::SimLinkSetup adapter;
  adapter.adapters.front().param(3) = AdapterFloatBytes(16.123456f);
  sim.Restart(adapter);
  OpenFromTheMenu();
  // Parameter 3 no longer matches the stored checksum; the values stay writable.
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text, "Ошибка ЦИК массива");
  EXPECT_EQ(boxes.Shown()[0].pos, QPoint(386, 390));
  EXPECT_EQ(session.Params().ParamText[3], "16.1235");
  boxes.Clear();
  const size_t readFrames = sim.Received().size();

  window.Canal1_4->setText("-3.25");
  window.Canal2_20->setText("20.5");
  window.ZavodNEdit->setText("0123456");
  window.AdrEdit->setText("5");
  AnswerPassword("Rumel");
  window.WriteButton->click();

  ASSERT_EQ(boxes.Shown().size(), 1u);  // the password dialog alone
  EXPECT_EQ(boxes.Shown()[0].kind, ShownBox::Dialog);
  EXPECT_THROW(sim.link().memory(1), std::out_of_range);
  const tl8test::SimState state = sim.State(5);
  EXPECT_EQ(state.address, 5);
  EXPECT_EQ(session.Exchange().DeviceAddress, 5);
  EXPECT_EQ(state.param(1), AdapterFloatBytes(1010));
  EXPECT_EQ(state.param(2), AdapterFloatBytes(-3.25f));
  EXPECT_EQ(state.param(3), AdapterFloatBytes(16.1235f));
  EXPECT_EQ(state.param(4), AdapterFloatBytes(4));
  EXPECT_EQ(state.param(5), AdapterFloatBytes(120.5f));          // channel 2 plus 100
  EXPECT_EQ(state.param(6), AdapterFloatBytes(60));              // -40.00 shown, 60 kept
  EXPECT_EQ(state.param(13), Bytes4({0x40, 0xE2, 0x01, 0x00}));  // 123456
  EXPECT_EQ(state.param(15), Bytes4({0x00, 0x05, 0x00, 0x00}));
  EXPECT_TRUE(state.checksumMatches());
  EXPECT_EQ(window.DataZapLabel->text(), " ");
  EXPECT_FALSE(window.Panel2->isVisible());

  // The old address learns the new one, then every parameter goes there.
  const std::vector<SimJournalEntry> written = sim.Received(readFrames);
  EXPECT_EQ(RequestsOf(written), FullWrite(1, 5));
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(Frame(written[0].bytes.begin(), written[0].bytes.begin() + 6),
            Frame({0x01, 0x06, 0x01, 0x77, 0x00, 0x05}));

  // Read back, the boxes show what was written.
  window.ReadButton->click();
  EXPECT_TRUE(boxes.Shown().size() == 1u) << "checksum complaint after the write";
  EXPECT_EQ(BoundTexts(), QStringList({"1010.00", "-3.25", "20.50", "-40.00", "200.00", "1.50"}));
  EXPECT_EQ(window.ZavodNEdit->text(), "0123456");
}

TEST_F(BoundsWindow, ShortTmpDatLoadsEmptyBoxesThatAWriteRefuses) {
  Connect();
  for (QLineEdit* box : BoundBoxes()) box->setText("9");
  window.ZavodNEdit->setText("101001");
  window.AdrEdit->setText("1");
  for (int i = 1; i <= 12; ++i) session.Params().ParamText[i] = "4.0000";
  WriteFile(kTmpDat, "1.5\r\n2.5\n-3\r\n");
  window.show();
  window.setEnabled(true);
  window.IschodButton->click();

  EXPECT_EQ(BoundTexts(), QStringList({"1.5", "2.5", "-3", "", "", ""}));
  EXPECT_EQ(window.ZavodNEdit->text(), "101001");
  EXPECT_TRUE(window.WriteButton->isEnabled());

  AnswerPassword("Rumel");
  window.WriteButtonClick();
  ASSERT_EQ(boxes.Texts().size(), 2u);
  EXPECT_EQ(boxes.Texts()[1], "Проверьте данные");
  // Nothing is sent, not even the address register.
  EXPECT_TRUE(sim.NothingReceived());
}

TEST_F(BoundsWindow, TmpDatFailuresEndWithTheStandardReport) {
  window.Canal1_20->setText("1.00");
  RunHandler([this] { window.IschodButtonClick(); });  // no tmp.dat
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text, "Cannot read \"tmp.dat\": No such file or directory.");
  EXPECT_EQ(boxes.Shown()[0].icon, BoxIcon::Error);
  EXPECT_EQ(window.Canal1_20->text(), "1.00");
  EXPECT_FALSE(window.WriteButton->isEnabled());

  // tmp.dat cannot be created: the window keeps its state.
  Connect();
  ASSERT_TRUE(QDir().mkdir(kTmpDat));
  boxes.Clear();
  window.show();
  RunHandler([this] { window.ReadAndSaveBounds(); });
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text, "Cannot write \"tmp.dat\": Not a regular file.");
  EXPECT_FALSE(window.isEnabled());
  EXPECT_FALSE(window.WriteButton->isEnabled());
  EXPECT_FALSE(window.Panel2->isVisible());
  EXPECT_EQ(window.AdrEdit->text(), "");
  EXPECT_FALSE(session.Gate().Busy());
}

// A bound past the line limit ("0.<1030 zeros>5e1030" is 0.5), or a file
// without a line end (of NULs here), is bad data: no box changes.
TEST_F(BoundsWindow, ATmpDatLineTooLongFillsNoBox) {
  const QByteArray contents[] = {
      "1.5\r\n0." + QByteArray(1030, '0') + "5e1030\r\n",
      QByteArray(1 << 20, '\0'),
  };
  window.show();
  window.setEnabled(true);
  for (const QByteArray& content : contents) {
    WriteFile(kTmpDat, content);
    window.Canal1_20->setText("1.00");
    boxes.Clear();
    RunHandler([this] { window.IschodButtonClick(); });
    EXPECT_EQ(boxes.Texts(), std::vector<QString>{"Проверьте данные"});
    EXPECT_EQ(BoundTexts(), QStringList({"1.00", "", "", "", "", ""}));
    EXPECT_FALSE(window.WriteButton->isEnabled());
  }
}

void Type(QLineEdit* edit, QChar typed) {
  const int key = typed == QChar(8) ? Qt::Key_Backspace : Qt::Key_unknown;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(typed));
  QApplication::sendEvent(edit, &press);
}

TEST_F(BoundsWindow, KeyFiltersOfTheBoxes) {
  struct Case {
    QString typed;
    QString shown;
  };
  // "е"/"Е" are Cyrillic; "\b" is Backspace.
  const std::vector<Case> number = {
      {"7", "7"}, {"-", "-"}, {".", "."}, {",", "."}, {"e", "E"}, {"E", "E"},    {"е", "E"},
      {"Е", "E"}, {"+", ""},  {"a", ""},  {"б", ""},  {" ", ""},  {"12\b", "1"},
  };
  const std::vector<Case> digits = {
      {"5", "5"}, {".", ""}, {",", ""}, {"-", ""}, {"e", ""}, {"12\b", "1"},
  };
  const auto check = [](QLineEdit* edit, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE((edit->accessibleName() + ": " + c.typed).toStdString());
      edit->clear();
      for (QChar typed : c.typed) Type(edit, typed);
      EXPECT_EQ(edit->text(), c.shown);
    }
  };
  window.setEnabled(true);  // a disabled box takes no keys
  for (QLineEdit* box : BoundBoxes()) check(box, number);
  check(window.ZavodNEdit, digits);
  check(window.AdrEdit, {{"a,", "a,"}});  // no filter
}

TEST_F(BoundsWindow, RefusedWritesSendNothing) {
  struct Case {
    const char* word;
    const char* address;
    QString message;
  };
  const std::vector<Case> cases = {
      {"rumel", "1", "Пароль введен неверно"},
      {"Rumel", "0", "Адрес должен быть от 1 до 247"},
      {"Rumel", "248", "Адрес должен быть от 1 до 247"},
      {"Rumel", "", "'' is not a valid integer value."},
  };
  Connect();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word + std::string(" ") + c.address);
    window.DataZapLabel->setText("01/02/2024(10:00:00)");
    window.AdrEdit->setText(c.address);
    boxes.Clear();
    AnswerPassword(c.word);
    RunHandler([this] { window.WriteButtonClick(); });
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[1].text, c.message);
    EXPECT_EQ(window.DataZapLabel->text(), " ");
    EXPECT_TRUE(sim.NothingReceived());
    EXPECT_EQ(session.Exchange().DeviceAddress, 1);
  }
}

TEST_F(BoundsWindow, NothingStartsAnotherExchangeWhileAReadWaits) {
  Connect();
  window.show();
  window.setEnabled(true);
  bool tried = false;
  // The user's clicks 600 ms into the read arrive through the event loop.
  const auto clicks = [&] {
    tried = true;
    EXPECT_TRUE(session.Gate().Busy());
    EXPECT_FALSE(window.ReadButton->isEnabled());
    EXPECT_FALSE(window.WriteButton->isEnabled());
    EXPECT_FALSE(window.IschodButton->isEnabled());
    EXPECT_GT(window.ProgressBar1->value(), 0);  // the read shows its progress meanwhile
    EXPECT_LT(window.ProgressBar1->value(), 100);
    window.ReadButton->click();
    window.WriteButton->click();
    window.ReadButtonClick();
    window.WriteButtonClick();
    window.ReadAndSaveBounds();
  };
  sim.clock.At(std::chrono::milliseconds(600), [&] { QTimer::singleShot(0, &window, clicks); });
  window.ReadButton->click();

  EXPECT_TRUE(tried);
  EXPECT_EQ(RequestsOf(sim.Received()), FullRead(1));
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_FALSE(QFile::exists(kTmpDat));
  EXPECT_TRUE(window.ReadButton->isEnabled());
  EXPECT_TRUE(window.WriteButton->isEnabled());
  EXPECT_TRUE(window.IschodButton->isEnabled());
}

#ifndef _WIN32  // a mounted tmpfs, another file-system user, FIFOs and /dev/zero
TEST_F(BoundsWindow, AFullDiskKeepsThePreviousTmpDat) {
  TinyDisk disk;
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  Connect();
  ASSERT_TRUE(QDir::setCurrent(disk.Path()));
  WriteFile(kTmpDat, "old\r\n");
  disk.Fill();
  RunHandler([this] { OpenFromTheMenu(); });
  QDir::setCurrent(workDir.path());

  ASSERT_EQ(boxes.Texts(),
            std::vector<QString>{"Cannot write \"tmp.dat\": No space left on device."});
  EXPECT_EQ(boxes.Shown()[0].icon, BoxIcon::Error);
  EXPECT_EQ(FileBytes(disk.FilePath(kTmpDat)), "old\r\n");
  // The read itself got through and shows what it read.
  EXPECT_EQ(BoundTexts(), kFactoryBounds);
  EXPECT_TRUE(window.isEnabled());
  EXPECT_TRUE(window.WriteButton->isEnabled());
}

// A folder that takes no new file from an ordinary user: the system's reason
// when there is no tmp.dat; a tmp.dat the user may write is rewritten whole.
TEST_F(BoundsWindow, InAClosedFolderOnlyAWritableTmpDatIsRewritten) {
  TinyDisk disk;  // root's folder, mode 755
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  Connect();
  ASSERT_TRUE(QDir::setCurrent(disk.Path()));
  {
    AsOrdinaryUser user;
    if (!user.Active()) GTEST_SKIP() << "switching the file-system user is not permitted here";
    window.show();
    RunHandler([this] { window.ReadAndSaveBounds(); });
  }
  ASSERT_EQ(boxes.Texts(), std::vector<QString>{"Cannot write \"tmp.dat\": Permission denied."});
  EXPECT_FALSE(window.isEnabled());
  EXPECT_EQ(window.AdrEdit->text(), "");
  EXPECT_EQ(sim.Received().size(), 1u) << "nothing read after the first answer";
  EXPECT_FALSE(QFile::exists(kTmpDat));

  WriteFile(kTmpDat, QByteArray(200, 'o'));
  ASSERT_EQ(chmod(qPrintable(kTmpDat), 0666), 0);
  boxes.Clear();
  {
    AsOrdinaryUser user;
    OpenFromTheMenu();
  }
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(FileBytes(kTmpDat), kFactoryTmpDat);
  EXPECT_EQ(QDir().entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{kTmpDat});
  QDir::setCurrent(workDir.path());
}

// The tool running as root in a folder every user may write (like /tmp):
// another user's link named tmp.dat, to root's file or to nowhere, is refused
// with the standard report, and the link and what it points to stay as they
// were.
TEST_F(BoundsWindow, APlantedTmpDatLinkIsRefusedAndLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "handing a link to another user takes root";
  QTemporaryDir rootsDir;
  const QString target = rootsDir.filePath("root-only.dat");
  WriteFile(target, "root's data");
  ASSERT_EQ(chmod(qPrintable(workDir.path()), 01777), 0);
  for (const QString& to : {target, rootsDir.filePath("nowhere.dat")}) {
    SCOPED_TRACE(to.toStdString());
    QFile::remove(kTmpDat);
    ASSERT_TRUE(QFile::link(to, kTmpDat));
    ASSERT_EQ(lchown(qPrintable(kTmpDat), 65534, 65534), 0);
    Connect();
    boxes.Clear();
    window.show();
    RunHandler([this] { window.ReadAndSaveBounds(); });
    EXPECT_EQ(boxes.Texts(), std::vector<QString>{"Cannot write \"tmp.dat\": Is a symbolic link."});
    EXPECT_EQ(QFileInfo(kTmpDat).symLinkTarget(), to);
  }
  EXPECT_EQ(FileBytes(target), "root's data");
  EXPECT_FALSE(QFile::exists(rootsDir.filePath("nowhere.dat")));
}

// Refused before it is opened: a FIFO would freeze the tool, /dev/zero would
// never end.
TEST_F(BoundsWindow, LoadingATmpDatThatIsNoRegularFileIsRefused) {
  const std::vector<std::function<bool()>> makers = {
      [] { return mkfifo(qPrintable(kTmpDat), 0644) == 0; },
      [] { return QFile::link("/dev/zero", kTmpDat); },
  };
  window.Canal1_20->setText("1.00");
  for (const auto& make : makers) {
    QFile::remove(kTmpDat);
    ASSERT_TRUE(make());
    boxes.Clear();
    RunHandler([this] { window.IschodButtonClick(); });
    EXPECT_EQ(boxes.Texts(), std::vector<QString>{"Cannot read \"tmp.dat\": Not a regular file."});
    EXPECT_EQ(window.Canal1_20->text(), "1.00");
    EXPECT_FALSE(window.WriteButton->isEnabled());
  }
}
#endif

// Keys as X11 delivers them: Delete carries DEL (also on the keypad),
// Backspace BS, cursor keys no text.
void PressKey(QWidget* target, int key, const QString& text, Qt::KeyboardModifiers modifiers = {}) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(target, &press);
}

TEST_F(BoundsWindow, EditingKeysWorkInTheFilteredBoxes) {
  window.setEnabled(true);
  for (QLineEdit* box : {window.Canal1_20, window.ZavodNEdit}) {
    SCOPED_TRACE(box->accessibleName().toStdString());
    box->setText("1234");
    PressKey(box, Qt::Key_Home, {});
    PressKey(box, Qt::Key_Delete, "\x7f");
    EXPECT_EQ(box->text(), "234");
    PressKey(box, Qt::Key_Right, {});
    PressKey(box, Qt::Key_Delete, "\x7f", Qt::KeypadModifier);
    EXPECT_EQ(box->text(), "24");
    PressKey(box, Qt::Key_End, {});
    PressKey(box, Qt::Key_Backspace, "\b");
    EXPECT_EQ(box->text(), "2");
  }
}

TEST_F(BoundsWindow, FocusedButtonsTakeEnter) {
  // Enter on the focused load button loads tmp.dat.
  WriteFile(kTmpDat, kFactoryTmpDat);
  window.show();
  window.setEnabled(true);
  PressKey(window.IschodButton, Qt::Key_Return, "\r");
  EXPECT_EQ(BoundTexts(), kFactoryBounds);

  // Every button, with either Enter key.
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    SCOPED_TRACE(button->text().toStdString());
    button->setEnabled(true);
    QObject::disconnect(button, &QPushButton::clicked, nullptr, nullptr);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    PressKey(button, Qt::Key_Return, "\r");
    PressKey(button, Qt::Key_Enter, "\r", Qt::KeypadModifier);
    EXPECT_EQ(clicks, 2);
  }
}

// The date is the label's accessible name, so a screen reader reads it and
// hears when it changes; the group's title says what the date is.
TEST_F(BoundsWindow, TheWriteDateReachesAccessibility) {
  QAccessibleInterface* label = QAccessible::queryAccessibleInterface(window.DataZapLabel);
  ASSERT_NE(label, nullptr);
  for (const QString& date : {QStringLiteral("01/02/2024(10:20:30)"), QStringLiteral(" ")}) {
    window.DataZapLabel->setText(date);
    EXPECT_EQ(label->text(QAccessible::Name), date);
    EXPECT_EQ(label->text(QAccessible::Description), "Дата записи коэф в ТЛ-8К");
  }
}

// Spoilt answers never show as bounds nor count as written: each ends in the
// adapter's true values or in the window's failure message.
TEST_F(BoundsWindow, SpoiltAnswersEndInTrueValuesOrAMessage) {
  const QStringList old = {"1", "2", "3", "4", "5", "6"};
  const struct {
    const char* fault;
    bool write;
    QString message;
    QStringList bounds;        // after the read on opening
    std::vector<int> written;  // registers of the parameter writes
  } cases[] = {
      {"exception:4", false, "Сбой!", old, {}},
      // Parameter 4's late answer is dropped, not shown as parameter 5.
      {"late:200,fn=3,reg=263", false, "Сбой!", {"1010.00", "630.00", "3", "4", "5", "6"}, {}},
      {"exception:4,fn=16,reg=259", true, "Нет ответа", {}, {257, 259, 259}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Connect({"--fault", c.fault});
    const tl8test::SimState before = sim.State(1);
    for (int i = 0; i < 6; ++i) BoundBoxes()[i]->setText(old[i]);
    boxes.Clear();
    if (c.write) {
      for (int i = 1; i <= 12; ++i) session.Params().ParamText[i] = "4.0000";
      window.ZavodNEdit->setText("101001");
      window.AdrEdit->setText("1");
      AnswerPassword("Rumel");
      window.WriteButtonClick();
      std::vector<int> written;
      for (const Request& request : RequestsOf(sim.Received()))
        if (request.function == 16) written.push_back(request.reg);
      EXPECT_EQ(written, c.written);
      EXPECT_EQ(sim.State(1).param(2), before.param(2));
      EXPECT_EQ(boxes.Shown().back().pos, QPoint(406, 444));
    } else {
      WriteFile(kTmpDat, "kept\r\n");
      OpenFromTheMenu();
      EXPECT_EQ(BoundTexts(), c.bounds);
      // tmp.dat holds the old copy or lines of the values read, nothing else.
      for (const QByteArray& line : FileBytes(kTmpDat).split('\n')) {
        if (line.isEmpty()) continue;
        EXPECT_TRUE(line == "kept\r" || c.bounds.contains(line.chopped(1))) << line.data();
      }
    }
    EXPECT_EQ(boxes.Texts().back(), c.message);
  }
}

TEST_F(BoundsWindow, ValueTooLargeForTheAdapterStopsTheWriteBeforeAnything) {
  Connect();
  for (int i = 1; i <= 12; ++i) session.Params().ParamText[i] = "4.0000";
  for (QLineEdit* box : BoundBoxes()) box->setText("1");
  window.Canal3_4->setText("1.701412E+38");  // the largest device float as shown
  window.ZavodNEdit->setText("101001");
  window.AdrEdit->setText("1");
  AnswerPassword("Rumel");
  RunHandler([this] { window.WriteButtonClick(); });
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[1].text, "Floating point overflow.");
  EXPECT_TRUE(sim.NothingReceived());
  EXPECT_FALSE(session.Gate().Busy());
}

}  // namespace
