// "Журнал изменений" and the records the windows' writes leave, against the
// simulated adapter with the records in the test's own folder: the
// calibration window's writes listed newest first with the values the window
// showed before, a record's protocol saved, and a store that cannot be
// written, which keeps every write frame off the line.

#include "windows/changelogform.h"

#include "modbus/history.h"
#include "modbus/password.h"
#include "modbus/session.h"
#include "tests/support/adapter_requests.h"
#include "tests/support/password_answer.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"
#include "tests/support/test_data.h"
#include "windows/paswkoefform.h"
#include "windows/tehform.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class ChangeLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    session.TalkTo(1);
    session.RecordChangesIn(&history);
    session.SetPortName([] { return QStringLiteral("COM1"); });
  }

  // The calibration window's read, then a write of parameter 2 as typed.
  void ReadAndWrite(const QString& value) {
    calibration.show();
    calibration.ReadButtonClick();
    calibration.KoefEdit2->setText(value);
    boxes.AnswerQuestion(BoxAnswer::No);  // no coefficient file
    AnswerPassword(boxes, kWritePassword);
    calibration.WriteButtonClick();
  }

  QString Cell(int row, int column) const { return log.EntryList->topLevelItem(row)->text(column); }

  QApplication& app = TestApp();  // before any window
  QTemporaryDir dir;
  ChangeHistory history{dir.filePath(QStringLiteral("history")), QStringLiteral("tester")};
  ScriptedBoxes boxes;
  tl8test::SimSession sim;
  Session& session = sim.session;
  TPaswKoefForm password{session};
  TTehForm calibration{session};
  TChangeLogForm log{session};
};

TEST_F(ChangeLogTest, ListsTheAdapterReadLastNewestFirstAndSavesAProtocol) {
  log.Open();
  EXPECT_EQ(log.EntryList->topLevelItemCount(), 0);
  EXPECT_TRUE(log.AdapterLabel->text().startsWith(QStringLiteral("Адаптер ещё не прочитан")));
  EXPECT_FALSE(log.SaveProtocolButton->isEnabled());

  ReadAndWrite(QStringLiteral("633.25"));
  ReadAndWrite(QStringLiteral("640"));
  EXPECT_EQ(boxes.Shown().size(), 4u) << "two questions and two password gates only";
  log.RefreshButtonClick();

  ASSERT_EQ(log.EntryList->topLevelItemCount(), 2);
  EXPECT_TRUE(log.AdapterLabel->text().contains(QStringLiteral("зав. № 0101001")));
  ASSERT_EQ(log.Entries().size(), 2u);
  const ChangeEntry& newest = log.Entries()[0];
  EXPECT_EQ(newest.id, QStringLiteral("0101001-2"));
  EXPECT_EQ(newest.before->shown[1], QStringLiteral("633.25"));  // as the window read it
  EXPECT_EQ(newest.after->shown[1], QStringLiteral("640.00"));
  EXPECT_EQ(log.Entries()[1].before->shown[1], QStringLiteral("630.00"));
  EXPECT_EQ(Cell(0, 1), QStringLiteral("tester"));
  EXPECT_EQ(Cell(0, 2), QStringLiteral("Технолог.режим"));
  EXPECT_EQ(Cell(0, 3), QStringLiteral("COM1"));
  EXPECT_EQ(Cell(0, 5), QStringLiteral("1 из 12"));
  EXPECT_EQ(Cell(0, 6), QStringLiteral("записано полностью, 17 шагов из 17"));
  for (QWidget* control : std::initializer_list<QWidget*>{log.EntryList, log.SaveProtocolButton,
                                                          log.RefreshButton, log.CloseButton})
    EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();

  // The older one's protocol.
  log.EntryList->setCurrentItem(log.EntryList->topLevelItem(1));
  const QString pdf = dir.filePath(QStringLiteral("protocol.pdf"));
  boxes.AnswerFile(pdf);
  log.SaveProtocolButtonClick();
  EXPECT_EQ(boxes.Shown().back().kind, ShownBox::SaveFile);
  EXPECT_EQ(boxes.Shown().back().text, QStringLiteral("протокол-0101001-1"));
  EXPECT_TRUE(FileBytes(pdf).startsWith("%PDF-"));
#ifndef _WIN32
  const QString text = dir.filePath(QStringLiteral("protocol.txt"));
  ASSERT_EQ(std::system(QStringLiteral("pdftotext %1 %2").arg(pdf, text).toLocal8Bit().constData()),
            0);
  for (const char* shown : {"0101001-1", "630.00", "633.25", "Технолог.режим"})
    EXPECT_TRUE(QString::fromUtf8(FileBytes(text)).contains(QString::fromUtf8(shown))) << shown;
#endif
}

// The record cannot be written: the window says so, and sends nothing.
TEST_F(ChangeLogTest, AWriteWhoseRecordCannotBeWrittenSendsNothing) {
  WriteFile(dir.filePath(QStringLiteral("history")), "a file where the folder should be");
  calibration.show();
  calibration.ReadButtonClick();
  const size_t afterRead = sim.Received().size();
  boxes.AnswerQuestion(BoxAnswer::No);
  AnswerPassword(boxes, kWritePassword);
  calibration.WriteButtonClick();

  ASSERT_FALSE(boxes.Shown().empty());
  EXPECT_EQ(boxes.Shown().back().text,
            "Запись в журнал изменений невозможна:\rCannot make the folder \"" +
                dir.filePath(QStringLiteral("history")) +
                "\": Not a directory\rВ адаптер ничего не записано.");
  sim.Settle(100);
  EXPECT_EQ(sim.Received().size(), afterRead);
}

}  // namespace
