// tl8ctl's change records, each run whole in the test's process on the
// simulated adapter in virtual time, its records in the test's own folder:
// what the write commands record (the read before, the entry, the outcome),
// history's two forms, restore, and a store that cannot be written.

#include "tests/cli/ctl_on_sim.h"
#include "tests/support/adapter_requests.h"
#include "tests/support/test_data.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <regex>

namespace tl8test {
namespace {

const QByteArray kCoefFile =
    "1\r\n01/01/2025(00:00:00)\r\n0101001\r\n1010\r\n633.25\r\n16\r\n4\r\n85\r\n-40\r\n16\r\n4\r\n"
    "200\r\n1.5\r\n16\r\n4\r\n";
const std::vector<double> kFactoryValues = {1010, 630, 16, 4, 85, -40, 16, 4, 200, 1.5, 16, 4};

class Records : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ctl.KeepRecordsIn(Folder());
  }
  QString Folder() const { return dir.filePath(QStringLiteral("history")); }
  std::string File(const char* name, const QByteArray& bytes) const {
    const QString path = dir.filePath(QString::fromLatin1(name));
    WriteFile(path, bytes);
    return path.toStdString();
  }
  // history --json, one object a line.
  std::vector<QJsonObject> History(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--json", "history"});
    const Ran ran = ctl.Run(args);
    EXPECT_EQ(ran.code, 0) << ran.err;
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(ran.out))
      objects.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return objects;
  }
  std::vector<double> Values(const QJsonObject& reading) const {
    std::vector<double> values;
    for (const QJsonValue& value : reading.value("values").toArray())
      values.push_back(value.toDouble());
    return values;
  }

  QTemporaryDir dir;
  CtlOnSim ctl;
};

// write reads first (at the line's own speed), records, writes; history
// shows the entry in both forms, with read's form before and after.
TEST_F(Records, AWriteIsRecordedWithItsReadBeforeAndHistoryShowsIt) {
  const Ran written = ctl.Run({"write", File("a.dat", kCoefFile), "--code-word", "Pelmar"});
  ASSERT_EQ(written.code, 0) << written.err;
  std::vector<Request> expected = FullRead(1);
  const std::vector<Request> write = FullWrite(1, 1);
  expected.insert(expected.end(), write.begin(), write.end());
  EXPECT_EQ(RequestsOf(ctl.sim.Received()), expected);

  const std::vector<QJsonObject> entries = History();
  ASSERT_EQ(entries.size(), 1u);
  const QJsonObject& e = entries[0];
  EXPECT_EQ(e.value("id").toString(), QStringLiteral("0101001-1"));
  EXPECT_TRUE(std::regex_match(e.value("time").toString().toStdString(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
      << e.value("time").toString().toStdString();
  EXPECT_EQ(e.value("user").toString(), QStringLiteral("tester"));
  EXPECT_EQ(e.value("front_end").toString(), QStringLiteral("tl8ctl write"));
  EXPECT_EQ(e.value("port").toString(), QStringLiteral("COM1"));
  EXPECT_EQ(e.value("serial").toInt(), 101001);
  EXPECT_EQ(e.value("outcome").toObject().value("result").toString(), QStringLiteral("written"));
  const QJsonObject before = e.value("before").toObject();
  const QJsonObject after = e.value("after").toObject();
  for (const QJsonObject& reading : {before, after})
    EXPECT_EQ(QStringList(reading.keys()), (QStringList{"address", "date", "serial", "values"}));
  EXPECT_EQ(Values(before), kFactoryValues);
  std::vector<double> sent = kFactoryValues;
  sent[1] = 633.25;
  EXPECT_EQ(Values(after), sent);

  const Ran text = ctl.Run({"history"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_TRUE(std::regex_match(
      text.out, std::regex("0101001-1  \\S+  tester  tl8ctl write  COM1  serial 0101001  address "
                           "1->1  written \\(1 value changed\\)\n")))
      << text.out;
  EXPECT_TRUE(History({"--serial", "4321"}).empty());
  EXPECT_EQ(History({"--serial", "0101001"}).size(), 1u);
}

// restore writes an entry's values before back, after a read that finds the
// same adapter, and is an entry of its own; what it refuses sends no write.
TEST_F(Records, RestorePutsTheValuesBeforeBack) {
  ASSERT_EQ(ctl.Run({"write", File("a.dat", kCoefFile), "--code-word", "Pelmar"}).code, 0);
  const SimState factory = SimState(ctl.sim.State(1));

  const struct {
    std::vector<std::string> args;
    int code;
    std::string error;
  } refused[] = {
      {{"restore", "0101001-7", "--code-word", "Pelmar"},
       2,
       "tl8ctl: no entry 0101001-7 in the change records\n"},
      {{"restore", "0101001-1", "--code-word", "Rumel"}, 2, "Пароль введен неверно\n"},
      {{"--address", "3", "restore", "0101001-1", "--code-word", "Pelmar"},
       2,
       "tl8ctl: entry 0101001-1 puts the adapter back at address 1, not at --address 3; "
       "--readdress allows the move\n"},
  };
  for (const auto& c : refused) {
    const size_t sent = ctl.sim.Received().size();
    const Ran ran = ctl.Run(c.args);
    EXPECT_EQ(ran.code, c.code);
    EXPECT_EQ(ran.err, c.error);
    EXPECT_EQ(ctl.sim.Received().size(), sent);
  }

  const Ran restored = ctl.Run({"restore", "0101001-1", "--code-word", "Pelmar"});
  ASSERT_EQ(restored.code, 0) << restored.err;
  EXPECT_EQ(ctl.sim.State(1).param(2), AdapterFloatBytes(630));
  for (int i : {1, 3, 5, 9, 12, 13, 15})
    EXPECT_EQ(ctl.sim.State(1).param(i), factory.param(i)) << i;
  EXPECT_TRUE(ctl.sim.State(1).checksumMatches());
  const std::vector<QJsonObject> entries = History();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].value("front_end").toString(), QStringLiteral("tl8ctl restore 0101001-1"));
  EXPECT_EQ(Values(entries[1].value("before").toObject())[1], 633.25);
  EXPECT_EQ(Values(entries[1].value("after").toObject())[1], 630);
}

// Another adapter at the address: its serial number is not the entry's, and
// nothing is written to it.
TEST_F(Records, RestoreRefusesAnotherAdapter) {
  ASSERT_EQ(ctl.Run({"write", File("a.dat", kCoefFile), "--code-word", "Pelmar"}).code, 0);
  const std::string other =
      File("b.dat", QByteArray(kCoefFile).replace("0101001", "0204321").replace("633.25", "1"));
  ASSERT_EQ(ctl.Run({"write", other, "--code-word", "Pelmar", "--no-history"}).code, 0);
  const size_t sent = ctl.sim.Received().size();
  const Ran ran = ctl.Run({"restore", "0101001-1", "--code-word", "Pelmar"});
  EXPECT_EQ(ran.code, 1);
  EXPECT_EQ(ran.err,
            "tl8ctl: the adapter at 1 has serial number 0204321, entry 0101001-1 is of 0101001: "
            "nothing was written\n");
  EXPECT_EQ(RequestsOf(ctl.sim.Received(sent)), FullRead(1));
}

// A store that cannot be written: the write is refused (exit 2) after its
// read, with not one write frame; --no-history writes as before, without
// the read. set-address and write-bounds alike.
TEST_F(Records, AStoreThatCannotBeWrittenRefusesTheWriteUnlessNoHistory) {
  WriteFile(Folder(), "a file where the folder should be");
  const std::string coef = File("a.dat", kCoefFile);
  const std::string bounds =
      File("tmp.dat", "900.00\r\n10.00\r\n4.50\r\n-20.00\r\n250.00\r\n2.50\r\n4.00\r\n4.00\r\n");
  const std::vector<std::vector<std::string>> commands = {
      {"write", coef, "--code-word", "Pelmar"},
      {"write-bounds", bounds, "--code-word", "Rumel"},
      {"set-address", "9"},
  };
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command[0]);
    const size_t sent = ctl.sim.Received().size();
    const Ran refused = ctl.Run(command);
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.err,
              "tl8ctl: the change record cannot be written: Cannot make the folder \"" +
                  Folder().toStdString() +
                  "\": Not a directory; nothing was written to the adapter (--no-history writes "
                  "without a record)\n");
    for (const Request& request : RequestsOf(ctl.sim.Received(sent)))
      EXPECT_EQ(request.function, 3) << "only reads went out";

    std::vector<std::string> anyway = command;
    anyway.push_back("--no-history");
    const size_t before = ctl.sim.Received().size();
    const Ran written = ctl.Run(anyway);
    EXPECT_EQ(written.code, 0) << written.err;
    if (command[0] == "write") {
      EXPECT_EQ(RequestsOf(ctl.sim.Received(before)), FullWrite(1, 1));
    }
  }
}

// write-bounds refuses a set whose checksum does not match, as before, and
// the attempt is on record with what would have been sent.
TEST_F(Records, ABoundsWriteRefusedForItsChecksumIsRecorded) {
  SimLinkSetup spoilt;
  spoilt.adapters.front().param(16) = {0xFF, 0x00, 0x00, 0x00};
  CtlOnSim broken(spoilt);
  broken.KeepRecordsIn(Folder());
  const std::string bounds =
      File("tmp.dat", "900.00\r\n10.00\r\n4.50\r\n-20.00\r\n250.00\r\n2.50\r\n4.00\r\n4.00\r\n");
  const Ran ran = broken.Run({"write-bounds", bounds, "--code-word", "Rumel"});
  EXPECT_EQ(ran.code, 1);
  EXPECT_EQ(ran.err, "Ошибка ЦИК массива\n");
  EXPECT_EQ(RequestsOf(broken.sim.Received()), FullRead(1));
  const std::vector<QJsonObject> entries = History();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(
      entries[0].value("outcome").toObject(),
      (QJsonObject{
          {"result", "checksum mismatch"}, {"steps", 17}, {"message", "Ошибка ЦИК массива"}}));
  EXPECT_EQ(Values(entries[0].value("after").toObject())[0], 900);
}

}  // namespace
}  // namespace tl8test
