// The change records: the store on a folder of the test's own (entries as
// JSON lines, damaged lines skipped with a note, files it must not read or
// write through), and the record the core's write paths keep, on the
// simulated adapter in virtual time: a write, a write that fails at a step,
// a power loss in the middle of one, and a store that cannot be written.

#include "modbus/history.h"

#include "modbus/params.h"
#include "modbus/recorded_write.h"
#include "modbus/session.h"
#include "tests/support/sim_session.h"
#include "tests/support/test_data.h"
#ifndef _WIN32
#include "tests/support/file_faults.h"
#endif

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

const WriteRecordSetup kSetup{QStringLiteral("Технолог.режим"), QStringLiteral("Нет ответа")};

// A written entry's values: serial 0101001, the twelve values as a new adapter's.
AdapterReading FactoryReading(int address) {
  AdapterReading reading;
  reading.answeringAddress = reading.storedAddress = address;
  reading.serialNumber = 101001;
  reading.writeDate = QStringLiteral("08/12/2024(14:05:06)");
  reading.shown = {"1010.00", "630.00", "16.0000", "4.0000", "85.00",   "-40.00",
                   "16.0000", "4.0000", "200.00",  "1.50",   "16.0000", "4.0000"};
  return reading;
}

ChangeEntry AnEntry() {
  ChangeEntry e;
  e.time = QDateTime(QDate(2026, 12, 12), QTime(14, 5, 6, 123), Qt::OffsetFromUTC, 3 * 3600);
  e.user = QStringLiteral("инженер");
  e.frontEnd = QStringLiteral("tl8ctl write");
  e.port = QStringLiteral("ttyUSB0");
  e.addressBefore = 17;
  e.addressAfter = 5;
  e.serial = 101001;
  e.before = FactoryReading(17);
  e.after = FactoryReading(5);
  e.after->shown[1] = QStringLiteral("633.25");
  e.steps = 17;
  return e;
}

class Store : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QString Folder() const { return dir.filePath(QStringLiteral("Kavrion/Tl8v05/history")); }
  QString AdapterFile() const { return Folder() + QStringLiteral("/0101001.jsonl"); }

  QTemporaryDir dir;
  ChangeHistory history{Folder(), QStringLiteral("инженер")};
};

// Written, completed, read back: every field as it was, the time with its
// offset, ids in order; a failure's step and message; before null when unknown.
TEST_F(Store, EntriesGoInAsJsonLinesAndComeBackWhole) {
  ChangeEntry first = AnEntry();
  ASSERT_EQ(history.Append(first), QString());
  EXPECT_EQ(first.id, QStringLiteral("0101001-1"));
  first.outcome = ChangeOutcome::Failed;
  first.failedStep = 5;
  first.message = QStringLiteral("Нет ответа");
  ASSERT_EQ(history.Complete(first), QString());
  ChangeEntry second = AnEntry();
  second.before.reset();
  ASSERT_EQ(history.Append(second), QString());
  EXPECT_EQ(second.id, QStringLiteral("0101001-2"));

  const QList<QByteArray> lines = FileBytes(AdapterFile()).trimmed().split('\n');
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].contains("\"time\":\"2026-12-12T14:05:06.123+03:00\"")) << lines[0].data();
  EXPECT_TRUE(lines[1].contains("\"before\":null")) << lines[1].data();

  const ChangeHistory::Listing listing = history.Entries();
  EXPECT_TRUE(listing.notes.isEmpty()) << listing.notes.join('\n').toStdString();
  ASSERT_EQ(listing.entries.size(), 2u);
  const ChangeEntry& back = listing.entries[0];
  EXPECT_EQ(EntryObject(back), EntryObject(first));
  EXPECT_EQ(back.time, first.time);
  EXPECT_EQ(OutcomeText(back), QStringLiteral("failed at step 5 of 17: Нет ответа"));
  EXPECT_EQ(ChangedValues(back), std::vector<int>{2});
  EXPECT_EQ(back.before->shown, first.before->shown);
  EXPECT_FALSE(listing.entries[1].before.has_value());
  EXPECT_EQ(listing.entries[1].outcome, ChangeOutcome::Pending);

  QStringList notes;
  EXPECT_TRUE(history.Find(QStringLiteral("0101001-2"), notes).has_value());
  EXPECT_EQ(history.Entries(101001).entries.size(), 2u);
  EXPECT_TRUE(history.Entries(4321).entries.empty());
  for (const char* id : {"0101001-9", "../../0101001-1", "0101001", "x-1"})
    EXPECT_FALSE(history.Find(QString::fromLatin1(id), notes).has_value()) << id;
}

// A damaged line is skipped with a note, kept as it is when the file is
// written again, and its place never gives its number to a new entry.
TEST_F(Store, ADamagedLineIsSkippedWithANoteAndKept) {
  ChangeEntry entry = AnEntry();
  ASSERT_EQ(history.Append(entry), QString());
  const QByteArray good = FileBytes(AdapterFile());
  const QByteArray cut = good.left(good.size() / 2);
  const QByteArray wrongField =
      QByteArray(good).replace("\"address_before\":17", "\"address_before\":\"17\"");
  WriteFile(AdapterFile(),
            cut + "\n" + good + "{not json\n" + QByteArray(70000, 'x') + "\n" + wrongField);

  const ChangeHistory::Listing listing = history.Entries();
  EXPECT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.notes, (QStringList{AdapterFile() + ": line 1 is damaged, skipped",
                                        AdapterFile() + ": line 3 is damaged, skipped",
                                        AdapterFile() + ": line 4 is damaged, skipped",
                                        AdapterFile() + ": line 5 is damaged, skipped"}));

  ChangeEntry next = AnEntry();
  ASSERT_EQ(history.Append(next), QString());
  EXPECT_EQ(next.id, QStringLiteral("0101001-6"));
  const QByteArray after = FileBytes(AdapterFile());
  EXPECT_TRUE(after.startsWith(cut + "\n" + good + "{not json\n"));
  EXPECT_EQ(history.Entries().entries.size(), 2u);
}

#ifndef _WIN32
// What stands in the file's place and is no file of the store is neither
// read nor written through: a link (its target stays as it was), a FIFO (no
// wait for a writer), a file too large to be one. Each is a note when
// listing and a refusal when appending.
TEST_F(Store, AFileItMustNotReadIsRefusedAndNoted) {
  ASSERT_TRUE(QDir().mkpath(Folder()));
  const QString target = dir.filePath(QStringLiteral("elsewhere.txt"));
  WriteFile(target, "kept\n");
  const struct {
    const char* name;
    std::function<void()> plant;
    const char* reason;
  } cases[] = {
      {"link", [&] { ASSERT_TRUE(QFile::link(target, AdapterFile())); }, "Is a symbolic link"},
      {"fifo", [&] { ASSERT_EQ(mkfifo(QFile::encodeName(AdapterFile()).constData(), 0600), 0); },
       "Not a regular file"},
      {"huge",
       [&] {
         QFile huge(AdapterFile());
         ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
         ASSERT_TRUE(huge.resize(ChangeHistory::kLargestFile + 1));
       },
       "Larger than"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(AdapterFile());
    c.plant();
    const ChangeHistory::Listing listing = history.Entries();
    EXPECT_TRUE(listing.entries.empty());
    ASSERT_EQ(listing.notes.size(), 1);
    EXPECT_TRUE(listing.notes[0].contains(c.reason)) << listing.notes[0].toStdString();
    ChangeEntry entry = AnEntry();
    const QString refusal = history.Append(entry);
    EXPECT_TRUE(refusal.startsWith("Cannot read \"" + AdapterFile() + "\""))
        << refusal.toStdString();
    EXPECT_EQ(FileBytes(target), "kept\n");
  }
  QFile::remove(AdapterFile());
}
#endif

// --- The record in the core's write paths --------------------------------------------

class RecordedWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    sim.session.TalkTo(1);
  }

  void Start(const std::vector<std::string>& simulator) {
    sim.Restart(tl8test::SimulatorSetup(simulator));
    sim.session.TalkTo(1);
  }
  void Record() { sim.session.RecordChangesIn(&history); }
  void Read() { ASSERT_EQ(ReadAdapter(sim.session, ReadPlan{}).result, ReadResult::Read); }
  // The calibration image with parameter 2 at 633.25, stamped at a fixed moment.
  void BuildImage() {
    ImageTexts texts{{{2, QStringLiteral("633.25")}},
                     QStringLiteral("0101001"),
                     QStringLiteral("1"),
                     QDateTime(QDate(2026, 12, 12), QTime(14, 5, 6))};
    for (int i = 1; i <= kFloatParamCount; ++i)
      if (i != 2) sim.session.Params().ParamText[i] = FactoryReading(1).shown[i - 1];
    ASSERT_TRUE(BuildParamImage(texts, sim.session.Params(), sim.session.Exchange()));
  }
  std::vector<ChangeEntry> Entries() const { return ChangeHistory(dir.path()).Entries().entries; }
  ChangeEntry EntryWithId(const char* id) const {
    QStringList notes;
    const std::optional<ChangeEntry> entry =
        ChangeHistory(dir.path()).Find(QString::fromLatin1(id), notes);
    if (!entry) ADD_FAILURE() << "no entry " << id;
    return entry.value_or(ChangeEntry{});
  }

  QTemporaryDir dir;
  ChangeHistory history{dir.path(), QStringLiteral("tester")};
  tl8test::SimSession sim;
};

// The entry holds the reading before and the values sent, completes as
// written, and the frames are those of the write without a record.
TEST_F(RecordedWrite, AWriteKeepsTheValuesBeforeAndSendsTheSameFrames) {
  Read();
  const size_t afterRead = sim.Received().size();
  BuildImage();
  sim.session.SetPortName([] { return QStringLiteral("ttyUSB0"); });
  Record();
  const RecordedWriteOutcome outcome = WriteImageRecorded(sim.session, kSetup, 1);
  ASSERT_EQ(outcome.refusal, QString());
  EXPECT_EQ(outcome.write.result, WriteResult::Written);
  EXPECT_EQ(outcome.completionError, QString());
  const std::vector<tl8test::SimJournalEntry> recorded = sim.Received(afterRead);

  const std::vector<ChangeEntry> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  const ChangeEntry& e = entries[0];
  EXPECT_EQ(e.id, outcome.entryId);
  EXPECT_EQ(e.outcome, ChangeOutcome::Written);
  EXPECT_EQ(e.frontEnd, kSetup.frontEnd);
  EXPECT_EQ(e.user, QStringLiteral("tester"));
  EXPECT_EQ(e.port, QStringLiteral("ttyUSB0"));
  EXPECT_EQ(e.serial, 101001);
  ASSERT_TRUE(e.before && e.after);
  EXPECT_EQ(e.before->shown, FactoryReading(1).shown);
  EXPECT_EQ(e.after->shown[1], QStringLiteral("633.25"));
  EXPECT_EQ(e.after->writeDate, QStringLiteral("12/12/2026(14:05:06)"));
  EXPECT_EQ(ChangedValues(e), std::vector<int>{2});
  // What the adapter holds now is the next write's values before.
  EXPECT_EQ(sim.session.LastReading(1)->shown[1], QStringLiteral("633.25"));

  // The same write without a record, on a fresh adapter: the same frames at
  // the same moments.
  Start({});
  Read();
  BuildImage();
  sim.session.RecordChangesIn(nullptr);
  EXPECT_EQ(WriteImage(sim.session, 1).result, WriteResult::Written);
  const std::vector<tl8test::SimJournalEntry> plain = sim.Received(afterRead);
  ASSERT_EQ(plain.size(), recorded.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(plain[i].bytes, recorded[i].bytes) << i;
    EXPECT_EQ(plain[i].ms - plain[0].ms, recorded[i].ms - recorded[0].ms) << i;
  }
}

// A step that goes unacknowledged twice, or a line that goes away at it: the
// entry says at which of the 17 steps, with the message the user saw; the
// port's failure still reaches the caller.
TEST_F(RecordedWrite, AFailedWriteIsRecordedAtItsStep) {
  const struct {
    const char* name;
    std::vector<std::string> simulator;
    int lostAtRequest;  // 0: the line stays
    int step;
    const char* message;
  } cases[] = {
      {"address register", {"--fault", "silent,fn=6"}, 0, 1, "Нет ответа"},
      {"parameter 4", {"--fault", "silent,fn=16,reg=263"}, 0, 5, "Нет ответа"},
      {"line lost at parameter 9", {}, 10, 10, "WriteFile function failed (win error code: 5)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.simulator);
    sim.session.RecordChangesIn(nullptr);
    Read();
    BuildImage();
    Record();
    if (c.lostAtRequest) sim.link().VanishAt(c.lostAtRequest, tl8test::SimLink::LineLoss::InWrite);
    RecordedWriteOutcome outcome;
    if (c.lostAtRequest) {
      EXPECT_THROW(WriteImageRecorded(sim.session, kSetup, 1), EComPort);
    } else {
      outcome = WriteImageRecorded(sim.session, kSetup, 1);
      EXPECT_NE(outcome.write.result, WriteResult::Written);
    }
    const ChangeEntry e = EntryWithId("0101001-1");
    EXPECT_EQ(e.outcome, ChangeOutcome::Failed);
    EXPECT_EQ(e.failedStep, c.step);
    EXPECT_EQ(e.steps, 17);
    EXPECT_TRUE(e.message.startsWith(QString::fromUtf8(c.message))) << e.message.toStdString();
    EXPECT_EQ(e.before->shown, FactoryReading(1).shown);
    QFile::remove(dir.filePath(QStringLiteral("0101001.jsonl")));
  }
}

// The power goes in the middle of the write: what is on the disk by then is
// the entry with the values before, waiting for its outcome.
TEST_F(RecordedWrite, APowerLossMidWriteLeavesTheValuesBefore) {
  Read();
  BuildImage();
  Record();
  std::vector<ChangeEntry> onDisk;
  size_t framesBy = 0;
  const size_t framesBefore = sim.Received().size();
  sim.clock.At(sim.clock.Now() + std::chrono::milliseconds(700), [&] {
    onDisk = Entries();  // as a restart would find it
    framesBy = sim.Received().size();
  });
  ASSERT_EQ(WriteImageRecorded(sim.session, kSetup, 1).write.result, WriteResult::Written);

  EXPECT_GT(framesBy, framesBefore + 2) << "the write was under way";
  ASSERT_EQ(onDisk.size(), 1u);
  EXPECT_EQ(onDisk[0].outcome, ChangeOutcome::Pending);
  ASSERT_TRUE(onDisk[0].before.has_value());
  EXPECT_EQ(onDisk[0].before->shown, FactoryReading(1).shown);
  EXPECT_EQ(Entries()[0].outcome, ChangeOutcome::Written);
}

// Where the entry cannot be written, the write is refused with the reason
// and not one frame goes out.
TEST_F(RecordedWrite, AStoreThatCannotBeWrittenSendsNothing) {
  Read();
  BuildImage();
  const size_t framesBefore = sim.Received().size();
  const tl8test::SimState adapterBefore = sim.State(1);
  const QString blocked = dir.filePath(QStringLiteral("blocked"));
  WriteFile(blocked, "a file where the folder should be");
#ifndef _WIN32
  const QString linked = dir.filePath(QStringLiteral("linked"));
  ASSERT_TRUE(QDir().mkpath(linked));
  ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("target")), linked + "/0101001.jsonl"));
  // A folder made through a link would be made wherever the link leads.
  const QString dangling = dir.filePath(QStringLiteral("dangling"));
  ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere")), dangling));
  TinyDisk disk;
  if (disk.Mounted()) disk.Fill();
#endif
  const struct {
    const char* name;
    QString folder;
    const char* reason;
  } cases[] = {
      {"folder is a file", blocked + "/history", "Cannot make the folder"},
#ifndef _WIN32
      {"a link in the file's place", linked, "Is a symbolic link"},
      {"a dangling link in the folder's place", dangling + "/history",
       "A symbolic link leads to a folder that is not there"},
      {"disk full", disk.Mounted() ? disk.Path() : QString(), "No space left on device"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.folder.isEmpty()) continue;  // the tiny disk needs root's mount
    ChangeHistory store(c.folder);
    sim.session.RecordChangesIn(&store);
    const RecordedWriteOutcome write = WriteImageRecorded(sim.session, kSetup, 1);
    EXPECT_TRUE(write.refusal.contains(c.reason)) << write.refusal.toStdString();
    const RecordedAddressOutcome address =
        BroadcastNewAddressRecorded(sim.session, kSetup, 9, false);
    EXPECT_TRUE(address.refusal.contains(c.reason)) << address.refusal.toStdString();
    sim.Settle(100);
    EXPECT_EQ(sim.Received().size(), framesBefore);
  }
  EXPECT_EQ(sim.State(1).params, adapterBefore.params);
}

// The address broadcast: the values stay, the address moves, and so does
// what the session knows of the adapter; never read, its serial number is
// unknown and so are its values before.
TEST_F(RecordedWrite, AnAddressChangeIsRecordedWithOrWithoutAReading) {
  Record();
  ASSERT_EQ(BroadcastNewAddressRecorded(sim.session, kSetup, 7, true).refusal, QString());
  sim.session.TalkTo(7);
  Read();
  const RecordedAddressOutcome moved = BroadcastNewAddressRecorded(sim.session, kSetup, 9, true);
  EXPECT_TRUE(moved.confirmed);

  EXPECT_EQ(Entries().size(), 2u);
  const ChangeEntry unread = EntryWithId("unknown-1");
  EXPECT_FALSE(unread.serial.has_value());
  EXPECT_FALSE(unread.before.has_value());
  EXPECT_EQ(unread.addressAfter, 7);
  const ChangeEntry e = EntryWithId("0101001-1");
  EXPECT_EQ(e.outcome, ChangeOutcome::Written);
  EXPECT_EQ(e.addressBefore, 7);
  EXPECT_EQ(e.addressAfter, 9);
  EXPECT_EQ(e.after->shown, e.before->shown);
  EXPECT_EQ(sim.session.LastReading(7), nullptr);
  ASSERT_NE(sim.session.LastReading(9), nullptr);

  // Nobody answers at the new address: the confirmation, its second step, failed.
  Start({"--fault", "silent,addr=11"});
  sim.session.RecordChangesIn(nullptr);
  Read();
  Record();
  const RecordedAddressOutcome lost = BroadcastNewAddressRecorded(
      sim.session, {kSetup.frontEnd, QStringLiteral("Нет ответа от ТЛ-8 с адресом  0011")}, 11,
      true);
  EXPECT_FALSE(lost.confirmed);
  EXPECT_EQ(OutcomeText(EntryWithId("0101001-2")),
            QStringLiteral("failed at step 2 of 2: Нет ответа от ТЛ-8 с адресом  0011"));
}

}  // namespace
