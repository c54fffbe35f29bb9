// tl8ctl as a user runs it: the built program against the simulator (a
// separate process on a pseudo-terminal), its exit code, stdout and stderr,
// and what the simulator's memory and journal say went over the line.

#include "serial/comport.h"
#include "serial/platform_unix.h"
#include "tests/cli/ctl_run.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_data.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>
#include <vector>

namespace tl8test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSwitched = "Адаптер переведен в режим побайтовой трансляции";
const std::string kAddressRange = "Адрес должен быть от 1 до 247";

// A state file for the simulator: parameters 1..15 and their checksum.
void WriteState(const std::string& path, int address,
                const std::array<std::array<uint8_t, 4>, 15>& params) {
  std::vector<uint8_t> image(3, 0);
  std::string text = "address " + std::to_string(address) + "\n";
  char line[64];
  for (size_t i = 0; i < params.size(); ++i) {
    const auto& p = params[i];
    std::snprintf(line, sizeof line, "p%zu %02X %02X %02X %02X\n", i + 1, p[0], p[1], p[2], p[3]);
    text += line;
    image.insert(image.end(), p.begin(), p.end());
  }
  image.insert(image.end(), {0xFF, 0x00});
  const std::vector<uint8_t> checked = WithCrc(image);
  std::snprintf(line, sizeof line, "p16 FF 00 %02X %02X\n", checked[checked.size() - 2],
                checked.back());
  WriteFile(QString::fromStdString(path), QByteArray::fromStdString(text + line));
}

TEST(Tl8ctl, ScanFindsTheAdapterWithTheSearchFramesOrSaysNobodyAnswered) {
  SimProcess sim({"--link", "{dir}/line", "--address", "17"});

  const Ran found = RunCtl(sim, {"scan", "--from", "15", "--to", "40"});
  EXPECT_EQ(found.code, 0) << found.err;
  EXPECT_EQ(found.out, "17\n");
  EXPECT_EQ(found.err, "");  // no progress line: stderr is not a terminal
  std::vector<std::vector<uint8_t>> frames;
  for (const SimJournalEntry& entry : sim.journal())
    if (entry.direction == "RX") frames.push_back(entry.bytes);
  std::vector<std::vector<uint8_t>> search;
  for (uint8_t address : {15, 16, 17})
    search.push_back(WithCrc(std::vector<uint8_t>{address, 3, 1, 1, 0, 2}));
  EXPECT_EQ(frames, search);

  const Ran nobody = RunCtl(sim, {"--json", "scan", "--from", "1", "--to", "4"});
  EXPECT_EQ(nobody.code, 1);
  EXPECT_EQ(nobody.out, "");
  EXPECT_EQ(nobody.err, "Нет ответа от адаптера\n");
  EXPECT_EQ(Requests(sim), 3 + 4);
}

TEST(Tl8ctl, ReadShowsTheParametersAsTheWindowsDo) {
  SimProcess sim({"--link", "{dir}/line"});

  const Ran text = RunCtl(sim, {"read"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.err, "");
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 5u) << text.out;
  EXPECT_EQ(lines[0], "address 1");
  EXPECT_EQ(lines[1], "answering_address 1");
  EXPECT_EQ(lines[2], "serial  0101001");
  EXPECT_EQ(lines[3].size(), std::string("date    10/12/2026(03:03:38)").size()) << lines[3];
  EXPECT_EQ(lines[4],
            "values  1010.00 630.00 16.0000 4.0000 85.00 -40.00 16.0000 4.0000 200.00 1.50 16.0000 "
            "4.0000");

  const Ran json = RunCtl(sim, {"--json", "read"});
  ASSERT_EQ(json.code, 0) << json.err;
  const QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
  EXPECT_EQ(result.value("address").toInt(), 1);
  EXPECT_EQ(result.value("answering_address").toInt(), 1);
  EXPECT_EQ(result.value("serial").toInt(), 101001);
  EXPECT_EQ("date    " + result.value("date").toString().toStdString(), lines[3]);
  EXPECT_EQ(result.value("values").toArray(),
            QJsonArray({1010, 630, 16, 4, 85, -40, 16, 4, 200, 1.5, 16, 4}));
  // The calibration window's read: the probe, then 16 parameters.
  EXPECT_EQ(Requests(sim), 2 * 17);
}

TEST(Tl8ctl, SavedFileWrittenBackChangesOnlyTheDateStampAndChecksum) {
  const SimProcess scratch;  // its directory holds a state file made in advance
  const std::string state = scratch.path("memory.txt");
  // Values that the shown texts must carry back exactly: 0.1 with its cleared
  // lowest bit, channel 2's bound of 104.5 shown as 4.50, an old date.
  WriteState(state, 5,
             {{{0x80, 0x00, 0x44, 0x7C},
               {0x80, 0x00, 0x44, 0x1D},
               {0xCC, 0xCC, 0x3D, 0xCC},
               {0x00, 0x00, 0x40, 0x80},
               {0x00, 0x00, 0x42, 0xD1},
               {0x00, 0x00, 0x42, 0x70},
               {0x00, 0x00, 0x41, 0x80},
               {0x00, 0x00, 0x40, 0x80},
               {0x00, 0x00, 0x43, 0x48},
               {0x00, 0x00, 0x3F, 0xC0},
               {0x00, 0x00, 0x41, 0x80},
               {0x00, 0x00, 0x40, 0x80},
               {0x39, 0x30, 0x00, 0x00},
               {0xA3, 0x70, 0x88, 0x59},
               {0x00, 0x05, 0x00, 0x00}}});
  SimProcess sim({"--link", "{dir}/line", "--state", state});
  const SimState before = sim.state();
  const std::string file = sim.path("adapter.dat");

  const Ran saved = RunCtl(sim, {"--address", "5", "save", file});
  ASSERT_EQ(saved.code, 0) << saved.err;
  const std::string savedBytes = FileBytes(file);
  EXPECT_EQ(savedBytes.substr(savedBytes.size() - 2), "\r\n");
  const std::vector<std::string> lines = Lines(savedBytes);
  ASSERT_EQ(lines.size(), 15u);  // each ended by CR LF
  EXPECT_EQ(lines[0], "5\r");
  EXPECT_EQ(lines[2], "012345\r");
  EXPECT_EQ(lines[5], "0.1000\r");
  EXPECT_EQ(lines[7], "4.50\r");

  const Ran written = RunCtl(sim, {"--address", "5", "write", file, "--code-word", "Pelmar"});
  ASSERT_EQ(written.code, 0) << written.err;
  const SimState after = sim.state();
  EXPECT_EQ(after.address, 5);
  for (int i = 1; i <= 15; ++i) {
    if (i != 14) {
      EXPECT_EQ(after.param(i), before.param(i)) << "parameter " << i;
    }
  }
  EXPECT_NE(after.param(14), before.param(14));
  EXPECT_TRUE(after.checksumMatches());
}

TEST(Tl8ctl, WriteBoundsTakesTheSixBoundsFromTheFileAndTheRestFromTheAdapter) {
  SimProcess sim({"--link", "{dir}/line"});
  const SimState before = sim.state();
  const std::string file = sim.path("tmp.dat");
  WriteFile(QString::fromStdString(file),
            "900.00\r\n10.00\r\n4.50\r\n-20.00\r\n250.00\r\n2.50\r\n4.00\r\n4.00\r\n");

  const Ran ran = RunCtl(sim, {"write-bounds", file, "--code-word", "Rumel"});
  ASSERT_EQ(ran.code, 0) << ran.err;
  const SimState after = sim.state();
  const std::map<int, float> bounds = {{1, 900}, {2, 10},  {5, 104.5f},
                                       {6, 80},  {9, 250}, {10, 2.5f}};
  for (int i = 1; i <= 15; ++i) {
    if (bounds.count(i)) {
      EXPECT_EQ(after.param(i), AdapterFloatBytes(bounds.at(i))) << "parameter " << i;
    } else if (i != 14) {
      EXPECT_EQ(after.param(i), before.param(i)) << "parameter " << i;
    }
  }
  EXPECT_TRUE(after.checksumMatches());
}

TEST(Tl8ctl, SetAddressBroadcastsAndConfirmsAtTheNewAddress) {
  SimProcess sim({"--link", "{dir}/line"});
  const Ran ran = RunCtl(sim, {"set-address", "9"});
  EXPECT_EQ(ran.code, 0) << ran.err;
  EXPECT_EQ(ran.out, "9\n");
  EXPECT_EQ(sim.state().address, 9);
  const std::vector<SimJournalEntry> journal = sim.journal();
  ASSERT_FALSE(journal.empty());
  bool broadcast = false;
  for (const SimJournalEntry& entry : journal)
    broadcast |= entry.direction == "RX" &&
                 entry.bytes == WithCrc(std::vector<uint8_t>{0, 6, 1, 0x77, 0, 9});
  EXPECT_TRUE(broadcast);

  // Parameter 15 still holds the old address: a file saved now carries it,
  // with a warning, and writing that file back would move the adapter, so it
  // is refused unless asked for.
  const std::string file = sim.path("adapter.dat");
  const Ran saved = RunCtl(sim, {"--address", "9", "save", file});
  EXPECT_EQ(saved.code, 0) << saved.err;
  EXPECT_EQ(saved.err,
            "tl8ctl: warning: the adapter answered at 9, but its stored address, saved as the "
            "file's address, is 1\n");
  EXPECT_EQ(Lines(FileBytes(file))[0], "1\r");
  const int sent = Requests(sim);
  const Ran refused = RunCtl(sim, {"--address", "9", "write", file, "--code-word", "Pelmar"});
  EXPECT_EQ(refused.code, 2);
  EXPECT_EQ(refused.err,
            "tl8ctl: the file's address 1 is not the adapter's address 9; --readdress moves the "
            "adapter to 1\n");
  EXPECT_EQ(Requests(sim), sent);
  const Ran moved =
      RunCtl(sim, {"--address", "9", "write", file, "--code-word", "Pelmar", "--readdress"});
  EXPECT_EQ(moved.code, 0) << moved.err;
  EXPECT_EQ(sim.state().address, 1);
}

// A reading whose checksum does not match never replaces a file that may be
// the only good copy, unless --force says so; either way the exit code is 1.
TEST(Tl8ctl, SaveKeepsTheOldFileWhenTheChecksumFails) {
  const SimProcess spoilt;  // a memory whose checksum is wrong
  const std::string state = spoilt.path("memory.txt");
  WriteFile(QString::fromStdString(state),
            "address 1\n"
            "p1 80 00 44 7C\np2 80 00 44 1D\np3 00 00 41 80\np4 00 00 40 80\n"
            "p5 00 00 43 39\np6 00 00 42 70\np7 00 00 41 80\np8 00 00 40 80\n"
            "p9 00 00 43 48\np10 00 00 3F C0\np11 00 00 41 80\np12 00 00 40 80\n"
            "p13 89 8A 01 00\np14 73 18 8A 5D\np15 00 01 00 00\np16 FF 00 00 00\n");
  SimProcess bad({"--link", "{dir}/line", "--state", state});
  const std::string badFile = bad.path("adapter.dat");
  WriteFile(QString::fromStdString(badFile), "old\r\n");
  const Ran kept = RunCtl(bad, {"save", badFile});
  EXPECT_EQ(kept.code, 1);
  EXPECT_EQ(kept.err, "Ошибка ЦИК массива\n");
  EXPECT_EQ(FileBytes(badFile), "old\r\n");
  EXPECT_EQ(Lines(kept.out).size(), 5u);  // the reading is shown all the same
  const Ran forced = RunCtl(bad, {"save", badFile, "--force"});
  EXPECT_EQ(forced.code, 1);
  EXPECT_EQ(forced.err, "Ошибка ЦИК массива\n");
  EXPECT_EQ(Lines(FileBytes(badFile)).size(), 15u);
}

TEST(Tl8ctl, PassThroughSucceedsOnlyOnTheAdaptersEcho) {
  SimProcess sim({"--link", "{dir}/line"});
  const Ran nobody = RunCtl(sim, {"--address", "5", "passthrough"});
  EXPECT_EQ(nobody.code, 1);
  EXPECT_EQ(nobody.err, "Нет ответа от ТЛ-8 с адресом  005\n");

  const Ran switched = RunCtl(sim, {"passthrough"});
  EXPECT_EQ(switched.code, 0) << switched.err;
  EXPECT_EQ(switched.out, kSwitched + "\n");
  // The adapter now echoes every byte, which the tool cannot tell from the
  // line's own echo: what remains of each answer is nothing.
  const Ran read = RunCtl(sim, {"read"});
  EXPECT_EQ(read.code, 1);
  EXPECT_EQ(read.err, "Нет ответа от ТЛ-8 с адресом  001\n");
}

TEST(Tl8ctl, BadInputIsRefusedWithExitCode2BeforeAnythingIsSent) {
  SimProcess sim({"--link", "{dir}/line"});
  const auto file = [&](const std::string& name, const QByteArray& bytes) {
    WriteFile(QString::fromStdString(sim.path(name)), bytes);
    return sim.path(name);
  };
  const std::string good =
      file("good.dat",
           "1\r\n01/01/2025(00:00:00)\r\n0101001\r\n1010\r\n630\r\n16\r\n4\r\n85\r\n"
           "-40\r\n16\r\n4\r\n200\r\n1.5\r\n16\r\n4\r\n");
  const std::string comma =
      file("comma.dat",
           "1\r\n\r\n0101001\r\n12,5\r\n630\r\n16\r\n4\r\n85\r\n-40\r\n16\r\n4\r\n"
           "200\r\n1.5\r\n16\r\n4\r\n");
  const std::string farAddress =
      file("far.dat",
           "300\r\n\r\n0101001\r\n1010\r\n630\r\n16\r\n4\r\n85\r\n-40\r\n16\r\n"
           "4\r\n200\r\n1.5\r\n16\r\n4\r\n");
  const std::string huge =
      file("huge.dat",
           "1\r\n\r\n0101001\r\n1e39\r\n630\r\n16\r\n4\r\n85\r\n-40\r\n16\r\n4\r\n"
           "200\r\n1.5\r\n16\r\n4\r\n");
  const std::string bounds = file("tmp.dat", "900\r\n10\r\n4.5\r\n-20\r\n250\r\n2.5\r\n4\r\n4\r\n");
  const std::string shortBounds = file("short.dat", "900\r\n10\r\n4.5\r\n");
  // 0.5 written past the line limit: the first 1024 characters of it are 0.
  const QByteArray half = "0." + QByteArray(1030, '0') + "5e1030\r\n";
  const std::string longCoef = file("long.dat", "1\r\n\r\n0101001\r\n" + half);
  const std::string longBounds = file("long-tmp.dat", "900\r\n" + half);
  // Names in Windows-1251 ("А.dat", "Б.dat") are no UTF-8: decoded, both
  // would name this file, U+FFFD ".dat".
  const std::string replaced = file("\xEF\xBF\xBD.dat", QByteArray::fromStdString(FileBytes(good)));

  const struct {
    std::vector<std::string> args;
    std::string error;  // what stderr holds
  } cases[] = {
      {{"--bogus", "read"}, "unknown option --bogus"},
      {{"frobnicate"}, "unknown command frobnicate"},
      {{}, "no command given"},
      {{"read", "extra"}, "read takes no argument"},
      {{"--address", "0", "read"}, kAddressRange},
      {{"--address=248", "read"}, kAddressRange},
      {{"--address", "x", "read"}, kAddressRange},
      {{"set-address", "300"}, kAddressRange},
      {{"scan", "--from", "9", "--to", "3"}, "--from is above --to"},
      {{"scan", "--code-word", "Pelmar"}, "unknown option --code-word for scan"},
      {{"read", "--force"}, "unknown option --force for read"},
      {{"--address", "2", "write", good, "--code-word", "Pelmar"}, "--readdress"},
      {{"write", good}, "write needs --code-word WORD"},
      {{"write", good, "--code-word", "Rumel"}, "Пароль введен неверно"},
      {{"write", good, "--code-word", "pelmar"}, "Пароль введен неверно"},
      {{"write-bounds", bounds, "--code-word", "Pelmar"}, "Пароль введен неверно"},
      {{"write", sim.path("missing.dat"), "--code-word", "Pelmar"}, "Cannot read"},
      {{"write", comma, "--code-word", "Pelmar"}, "Проверьте данные"},
      {{"write", farAddress, "--code-word", "Pelmar"}, kAddressRange},
      {{"write", huge, "--code-word", "Pelmar"}, "Floating point overflow"},
      {{"write-bounds", shortBounds, "--code-word", "Rumel"}, "Проверьте данные"},
      {{"write-bounds", sim.dir(), "--code-word", "Rumel"}, "Cannot read"},
      {{"save", sim.path("no/such/dir.dat")}, "Cannot save"},
      {{"write", longCoef, "--code-word", "Pelmar"}, "Проверьте данные"},
      {{"write-bounds", longBounds, "--code-word", "Rumel"}, "Проверьте данные"},
      {{"save", sim.path("\xC0.dat")},
       "tl8ctl: file name \"" + sim.path("\\xc0.dat") + "\" is not valid UTF-8"},
      {{"write", sim.path("\xC1.dat"), "--code-word", "Pelmar"}, "is not valid UTF-8"},
      {{"--port=\xC0", "read"}, "tl8ctl: --port name \"\\xc0\" is not valid UTF-8"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += arg + " ";
    const Ran ran = RunCtl(sim, c.args);
    EXPECT_EQ(ran.code, 2) << shown << ran.err;
    EXPECT_NE(ran.err.find(c.error), std::string::npos) << shown << ran.err;
    EXPECT_EQ(ran.out, "") << shown;
  }
  EXPECT_EQ(Requests(sim), 0);
  EXPECT_EQ(FileBytes(replaced), FileBytes(good));
  EXPECT_FALSE(fs::exists(sim.path("\xC0.dat")));
  // The same port and files do work: the table's refusals were the inputs'.
  EXPECT_EQ(RunCtl(sim, {"write", good, "--code-word", "Pelmar"}).code, 0);
  EXPECT_EQ(RunCtl(sim, {"write-bounds", bounds, "--code-word", "Rumel"}).code, 0);
  // A name in UTF-8 takes its bytes as they are.
  EXPECT_EQ(RunCtl(sim, {"save", sim.path("Адаптер.dat")}).code, 0);
  EXPECT_TRUE(fs::exists(sim.path("Адаптер.dat")));
}

TEST(Tl8ctl, ASecondRunIsRefusedAtTheBusyPortAndCtrlCEndsTheFirstAtOnce) {
  SimProcess sim({"--link", "{dir}/line", "--address", "247"});
  const fs::path other = fs::path(sim.dir()) / "other";
  fs::create_directory(other);
  Ctl scan(other.string(), {"--port", sim.path("line"), "scan"});  // about 20 s to reach 247
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Requests(sim) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  ASSERT_GT(Requests(sim), 0) << "the search did not start";

  const Ran second = RunCtl(sim, {"read"});
  EXPECT_EQ(second.code, 1);
  EXPECT_EQ(
      second.err.rfind(
          "Неудача при открытии порта: Вероятно, выполняется другая программа, открывшая порт " +
              sim.path("line"),
          0),
      0u)
      << second.err;

  const int before = Requests(sim);
  scan.Signal(SIGINT);
  EXPECT_EQ(scan.Wait(5s), 130);
  EXPECT_EQ(scan.Err(), "tl8ctl: stopped\n");
  std::this_thread::sleep_for(200ms);
  EXPECT_LE(Requests(sim), before + 2);  // the frame in flight at most
  EXPECT_LT(Requests(sim), 100);
}

// The terminal closing (SIGHUP) ends a run as Ctrl-C does, and the port is
// left free: no lock file, and no exclusive mode that would refuse the next
// opener who is not root.
TEST(Tl8ctl, AClosedTerminalEndsARunAsCtrlCDoesAndFreesThePort) {
  SimProcess sim({"--link", "{dir}/line", "--address", "247"});
  Ctl scan(sim.dir(), {"--port", sim.path("line"), "scan"});  // about 20 s to reach 247
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Requests(sim) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  ASSERT_GT(Requests(sim), 0) << "the search did not start";
  std::vector<std::string> names;
  ASSERT_EQ(comdev::LockNames(sim.path("line"), names), 0);
  const std::string lockDir = comdev::LockDirectory();
  const bool locking = !lockDir.empty() && access(lockDir.c_str(), W_OK) == 0;
  const std::string lockFile = lockDir + "/LCK.." + names.front();
  EXPECT_EQ(fs::exists(lockFile), locking) << lockFile;

  scan.Signal(SIGHUP);
  EXPECT_EQ(scan.Wait(), 130);
  EXPECT_EQ(scan.Err(), "tl8ctl: stopped\n");
  EXPECT_FALSE(fs::exists(lockFile)) << lockFile;
  const int device = open(sim.path("line").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(device, 0);
  int exclusive = -1;
  EXPECT_EQ(ioctl(device, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  close(device);
}

TEST(Tl8ctl, AProgressLineShowsWhenStderrIsATerminal) {
  SimProcess sim({"--link", "{dir}/line"});
  const PtyPair terminal;
  Ctl ctl(sim.dir(), {"--port", sim.path("line"), "read"}, terminal.SlavePath());
  ASSERT_EQ(ctl.Wait(), 0);
  const std::string shown = terminal.Read(500);
  EXPECT_NE(shown.find("\rreading parameter 1/16\x1b[K"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\rreading parameter 16/16\x1b[K"), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K");  // gone before the result
  EXPECT_EQ(Lines(ctl.Out()).size(), 5u);
}

// A converter that hears its own transmitter: every command works as on a
// quiet line, the pass-through included (the search before it shows the echo).
TEST(Tl8ctl, EveryCommandWorksThroughALineThatEchoes) {
  SimProcess sim({"--link", "{dir}/line", "--echo", "--address", "3"});
  const Ran scan = RunCtl(sim, {"scan"});
  EXPECT_EQ(scan.code, 0) << scan.err;
  EXPECT_EQ(scan.out, "3\n");

  const std::string file = sim.path("adapter.dat");
  const Ran saved = RunCtl(sim, {"--address", "3", "save", file});
  ASSERT_EQ(saved.code, 0) << saved.err;
  EXPECT_EQ(Lines(FileBytes(file))[0], "3\r");
  const SimState before = sim.state();
  const Ran written = RunCtl(sim, {"--address", "3", "write", file, "--code-word", "Pelmar"});
  ASSERT_EQ(written.code, 0) << written.err;
  EXPECT_NE(sim.state().param(14), before.param(14));  // a fresh date stamp went in
  EXPECT_TRUE(sim.state().checksumMatches());

  const Ran moved = RunCtl(sim, {"--address", "3", "set-address", "9"});
  EXPECT_EQ(moved.code, 0) << moved.err;
  EXPECT_EQ(moved.out, "9\n");
  EXPECT_EQ(sim.state().address, 9);

  const Ran silent = RunCtl(sim, {"--address", "5", "passthrough"});
  EXPECT_EQ(silent.code, 1);
  EXPECT_EQ(silent.err, "Нет ответа от ТЛ-8 с адресом  005\n");
  const Ran switched = RunCtl(sim, {"--address", "9", "passthrough"});
  EXPECT_EQ(switched.code, 0) << switched.err;
  EXPECT_EQ(switched.out, kSwitched + "\n");
}

// --trace: the line monitor's lines on stderr, as the exchange goes; the
// result on stdout is the same as without it.
TEST(Tl8ctl, TraceShowsEveryFrameAndAnswerOnStderr) {
  SimProcess sim({"--link", "{dir}/line", "--echo"});
  const Ran plain = RunCtl(sim, {"read"});
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  const Ran traced = RunCtl(sim, {"--trace", "read"});
  ASSERT_EQ(traced.code, 0) << traced.err;
  EXPECT_EQ(traced.out, plain.out);

  EXPECT_TRUE(traced.err.ends_with('\n'));
  const std::vector<std::string> lines = Lines(traced.err);
  const std::regex form("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (→|←) .+");
  int sent = 0, echoes = 0;
  for (const std::string& line : lines) {
    EXPECT_TRUE(std::regex_match(line, form)) << line;
    sent += line.find(" → ") != std::string::npos;
    echoes += line.ends_with("  эхо");
  }
  EXPECT_EQ(sent, 17);  // the probe and 16 parameters
  EXPECT_EQ(echoes, 17);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_TRUE(lines[0].ends_with(" → 01 03 00 00 00 07 04 08  проба")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with(" ← 01 03 00 00 00 07 04 08  эхо")) << lines[1];
  EXPECT_NE(traced.err.find("  чтение пар. 1\n"), std::string::npos);
  EXPECT_NE(traced.err.find("  ответ: 1010.0000\n"), std::string::npos);
}

// The program lists this machine's ports: the tool's names, in its order,
// each with its description and whether another program holds it.
TEST(Tl8ctl, PortsListsThisMachinesPortsByTheToolsNames) {
  const QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Ctl ctl(dir.path().toStdString(), {"--json", "ports"});
  ASSERT_EQ(ctl.Wait(), 0) << ctl.Err();
  EXPECT_EQ(ctl.Err(), "");
  const QJsonDocument listed = QJsonDocument::fromJson(QByteArray::fromStdString(ctl.Out()));
  ASSERT_TRUE(listed.isArray()) << ctl.Out();
  std::vector<std::string> names;
  for (const QJsonValue& port : listed.array()) {
    names.push_back(port["name"].toString().toStdString());
    EXPECT_TRUE(port["description"].isString() && port["busy"].isBool()) << ctl.Out();
  }
  EXPECT_EQ(names, EnumComPorts());
}

// scan --all-ports as a user runs it, in a mount namespace of its own whose
// /dev holds only /dev/pts and the links COM1..COM3 to two simulators and a
// silent line: the machine's own ports, listed from sysfs, are not there to
// be opened, and are skipped with a note.
TEST(Tl8ctl, ScanAllPortsFindsTheAdaptersOnTwoOfThreePorts) {
  if (geteuid() != 0) GTEST_SKIP() << "a private /dev needs root";
  SimProcess first({"--address", "17"});
  SimProcess second({"--address", "5"});
  const PtyPair silent;
  const std::string privateDev = R"(set -e
keep=$1/pts
mkdir "$keep"
mount --rbind /dev/pts "$keep"
mount -t tmpfs -o mode=755 tmpfs /dev
mkdir /dev/pts
mount --move "$keep" /dev/pts
ln -s "$2" /dev/COM1
ln -s "$3" /dev/COM2
ln -s "$4" /dev/COM3
shift 4
exec "$@")";
  Ctl ctl(first.dir(), {"scan", "--all-ports", "--to", "20"}, "",
          {"unshare", "--mount", "--propagation", "private", "sh", "-c", privateDev, "sh",
           first.dir(), first.port(), second.port(), silent.SlavePath()});
  ASSERT_EQ(ctl.Wait(), 0) << ctl.Err();
  EXPECT_EQ(ctl.Out(), "COM1 17\nCOM2 5\n");
  const std::regex skipped(
      R"(tl8ctl: \S+ (is busy, skipped|skipped: Unable to open com port \(win error code: \d+\)))");
  for (const std::string& note : Lines(ctl.Err()))
    EXPECT_TRUE(note.empty() || std::regex_match(note, skipped)) << note;
  EXPECT_EQ(Requests(first), 17);
  EXPECT_EQ(Requests(second), 5);
}

TEST(Tl8ctl, HelpDescribesTheCommands) {
  const SimProcess sim;
  Ctl all(sim.dir(), {"--help"});
  EXPECT_EQ(all.Wait(), 0);
  for (const char* command :
       {"scan", "read", "save FILE", "write FILE", "write-bounds FILE", "set-address NEW",
        "passthrough", "--port NAME", "--address N", "--json", "--trace"})
    EXPECT_NE(all.Out().find(command), std::string::npos) << command;
  Ctl one(sim.dir(), {"write", "--help"});
  EXPECT_EQ(one.Wait(), 0);
  EXPECT_NE(one.Out().find("--code-word WORD"), std::string::npos);
  EXPECT_EQ(one.Out().find("passthrough"), std::string::npos);
}

}  // namespace
}  // namespace tl8test
