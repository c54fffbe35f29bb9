// tl8ctl's commands, each run whole (cli/run.h) in the test's process on the
// simulated adapter in virtual time: exit codes, what goes to stdout and
// stderr, what went over the line and what the adapter keeps afterwards.
// tests/cli/tl8ctl_test.cpp runs the program itself on a pseudo-terminal
// (there too: a saved file written back changes only the date stamp).

#include "tests/cli/ctl_on_sim.h"
#include "tests/support/adapter_requests.h"
#include "tests/support/test_data.h"
#include "ui/tool_texts.h"

#include "sim/memory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <numeric>
#include <regex>

namespace tl8test {
namespace {

using namespace std::chrono_literals;

const std::string kAddressRange = "Адрес должен быть от 1 до 247";

class Commands : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }

  // A file of the test's own directory holding `bytes`.
  std::string File(const char* name, const QByteArray& bytes) const {
    const std::string path = Path(name);
    WriteFile(QString::fromStdString(path), bytes);
    return path;
  }
  std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

  QTemporaryDir dir;
};

TEST_F(Commands, ScanFindsTheAdapterWithTheSearchFramesOrSaysNobodyAnswered) {
  CtlOnSim ctl(SimulatorSetup({"--address", "17"}));

  const Ran found = ctl.Run({"scan", "--from", "15", "--to", "40"});
  EXPECT_EQ(found.code, 0) << found.err;
  EXPECT_EQ(found.out, "17\n");
  EXPECT_EQ(found.err, "");  // no progress line: stderr is not a terminal
  std::vector<Frame> search;
  for (uint8_t address : {15, 16, 17}) search.push_back(WithCrc(Frame{address, 3, 1, 1, 0, 2}));
  EXPECT_EQ(FramesOf(ctl.sim.Received()), search);

  const Ran nobody = ctl.Run({"--json", "scan", "--from", "1", "--to", "4"});
  EXPECT_EQ(nobody.code, 1);
  EXPECT_EQ(nobody.out, "{\"error\":\"Нет ответа от адаптера\",\"exit\":1}\n");
  EXPECT_EQ(nobody.err, "Нет ответа от адаптера\n");
  EXPECT_EQ(ctl.sim.Received().size(), 3u + 4u);
}

TEST_F(Commands, ReadShowsTheParametersAsTheWindowsDo) {
  CtlOnSim ctl;
  const std::string date =
      sim::stampText(sim::lsbFirstValue(ctl.sim.link().memory(1).param(sim::kStampParam)));

  const Ran text = ctl.Run({"read"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(Lines(text.out),
            (std::vector<std::string>{
                "address 1", "answering_address 1", "serial  0101001", "date    " + date,
                "values  1010.00 630.00 16.0000 4.0000 85.00 -40.00 16.0000 4.0000 200.00 1.50 "
                "16.0000 4.0000"}));

  const Ran json = ctl.Run({"--json", "read"});
  ASSERT_EQ(json.code, 0) << json.err;
  const QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
  EXPECT_EQ(result.value("address").toInt(), 1);
  EXPECT_EQ(result.value("answering_address").toInt(), 1);
  EXPECT_EQ(result.value("serial").toInt(), 101001);
  EXPECT_EQ(result.value("date").toString().toStdString(), date);
  EXPECT_EQ(result.value("values").toArray(),
            QJsonArray({1010, 630, 16, 4, 85, -40, 16, 4, 200, 1.5, 16, 4}));
  // The calibration window's read: the probe, then 16 parameters.
  EXPECT_EQ(ctl.sim.Received().size(), 2u * 17u);
}

TEST_F(Commands, WriteBoundsTakesTheSixBoundsFromTheFileAndTheRestFromTheAdapter) {
  CtlOnSim ctl;
  const SimState before = ctl.sim.State(1);
  const std::string file =
      File("tmp.dat", "900.00\r\n10.00\r\n4.50\r\n-20.00\r\n250.00\r\n2.50\r\n4.00\r\n4.00\r\n");

  const Ran ran = ctl.Run({"write-bounds", file, "--code-word", "Rumel"});
  ASSERT_EQ(ran.code, 0) << ran.err;
  const SimState after = ctl.sim.State(1);
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

// A gateway that drops broadcasts: set-address says the change could not be
// confirmed through it, and fails.
TEST_F(Commands, SetAddressThroughAGatewayThatDropsBroadcastsSaysSo) {
  tl8test::SimLinkSetup setup;
  setup.gateway = sim::GatewaySetup{.passesBroadcasts = false};
  CtlOnSim ctl(setup);
  const Ran ran = ctl.Run({"set-address", "9"});
  EXPECT_EQ(ran.code, 1);
  EXPECT_EQ(ran.out, "");
  EXPECT_EQ(QString::fromStdString(ran.err), GatewayUnconfirmedText(9).replace('\r', ' ') + "\n");
  EXPECT_EQ(ctl.sim.State(1).address, 1);
}

TEST_F(Commands, SetAddressBroadcastsAndConfirmsAtTheNewAddress) {
  CtlOnSim ctl;
  const Ran ran = ctl.Run({"set-address", "9"});
  EXPECT_EQ(ran.code, 0) << ran.err;
  EXPECT_EQ(ran.out, "9\n");
  EXPECT_EQ(ctl.sim.State(9).address, 9);
  const std::vector<Frame> frames = FramesOf(ctl.sim.Received());
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), WithCrc(Frame{0, 6, 1, 0x77, 0, 9}));

  // Parameter 15 still holds the old address: a file saved now carries it,
  // with a warning, and writing that file back would move the adapter, so it
  // is refused unless asked for.
  const std::string file = Path("adapter.dat");
  const Ran saved = ctl.Run({"--address", "9", "save", file});
  EXPECT_EQ(saved.code, 0) << saved.err;
  EXPECT_EQ(saved.err,
            "tl8ctl: warning: the adapter answered at 9, but its stored address, saved as the "
            "file's address, is 1\n");
  EXPECT_EQ(Lines(FileBytes(file))[0], "1\r");
  const size_t sent = ctl.sim.Received().size();
  const Ran refused = ctl.Run({"--address", "9", "write", file, "--code-word", "Pelmar"});
  EXPECT_EQ(refused.code, 2);
  EXPECT_EQ(refused.err,
            "tl8ctl: the file's address 1 is not the adapter's address 9; --readdress moves the "
            "adapter to 1\n");
  EXPECT_EQ(ctl.sim.Received().size(), sent);
  const Ran moved =
      ctl.Run({"--address", "9", "write", file, "--code-word", "Pelmar", "--readdress"});
  EXPECT_EQ(moved.code, 0) << moved.err;
  EXPECT_EQ(ctl.sim.State(1).address, 1);
}

// A reading whose checksum does not match never replaces a file that may be
// the only good copy, unless --force says so; either way the exit code is 1.
TEST_F(Commands, SaveKeepsTheOldFileWhenTheChecksumFails) {
  SimLinkSetup spoilt;  // a memory whose checksum does not match
  spoilt.adapters.front().param(16) = {0xFF, 0x00, 0x00, 0x00};
  CtlOnSim ctl(spoilt);
  const std::string file = File("adapter.dat", "old\r\n");

  const Ran kept = ctl.Run({"save", file});
  EXPECT_EQ(kept.code, 1);
  EXPECT_EQ(kept.err, "Ошибка ЦИК массива\n");
  EXPECT_EQ(FileBytes(file), "old\r\n");
  EXPECT_EQ(Lines(kept.out).size(), 5u);  // the reading is shown all the same
  const Ran forced = ctl.Run({"save", file, "--force"});
  EXPECT_EQ(forced.code, 1);
  EXPECT_EQ(forced.err, "Ошибка ЦИК массива\n");
  EXPECT_EQ(Lines(FileBytes(file)).size(), 15u);
}

TEST_F(Commands, PassThroughSucceedsOnlyOnTheAdaptersEcho) {
  CtlOnSim ctl;
  const Ran nobody = ctl.Run({"--address", "5", "passthrough"});
  EXPECT_EQ(nobody.code, 1);
  EXPECT_EQ(nobody.err, "Нет ответа от ТЛ-8 с адресом  005\n");

  const Ran switched = ctl.Run({"passthrough"});
  EXPECT_EQ(switched.code, 0) << switched.err;
  EXPECT_EQ(switched.out, kSwitched + "\n");
  EXPECT_TRUE(ctl.sim.link().passThrough());
  // The adapter now echoes every byte, which the tool cannot tell from the
  // line's own echo: what remains of each answer is nothing.
  const Ran read = ctl.Run({"read"});
  EXPECT_EQ(read.code, 1);
  EXPECT_EQ(read.err, "Нет ответа от ТЛ-8 с адресом  001\n");
}

TEST_F(Commands, BadInputIsRefusedWithExitCode2BeforeThePortOpens) {
  CtlOnSim ctl;
  const std::string good =
      File("good.dat",
           "1\r\n01/01/2025(00:00:00)\r\n0101001\r\n1010\r\n630\r\n16\r\n4\r\n85\r\n"
           "-40\r\n16\r\n4\r\n200\r\n1.5\r\n16\r\n4\r\n");
  const std::string comma =
      File("comma.dat",
           "1\r\n\r\n0101001\r\n12,5\r\n630\r\n16\r\n4\r\n85\r\n-40\r\n16\r\n4\r\n"
           "200\r\n1.5\r\n16\r\n4\r\n");
  const std::string farAddress =
      File("far.dat",
           "300\r\n\r\n0101001\r\n1010\r\n630\r\n16\r\n4\r\n85\r\n-40\r\n16\r\n"
           "4\r\n200\r\n1.5\r\n16\r\n4\r\n");
  const std::string huge =
      File("huge.dat",
           "1\r\n\r\n0101001\r\n1e39\r\n630\r\n16\r\n4\r\n85\r\n-40\r\n16\r\n4\r\n"
           "200\r\n1.5\r\n16\r\n4\r\n");
  const std::string bounds = File("tmp.dat", "900\r\n10\r\n4.5\r\n-20\r\n250\r\n2.5\r\n4\r\n4\r\n");
  const std::string shortBounds = File("short.dat", "900\r\n10\r\n4.5\r\n");
  // 0.5 written past the line limit: the first 1024 characters of it are 0.
  const QByteArray half = "0." + QByteArray(1030, '0') + "5e1030\r\n";
  const std::string longCoef = File("long.dat", "1\r\n\r\n0101001\r\n" + half);
  const std::string longBounds = File("long-tmp.dat", "900\r\n" + half);

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
      {{"scan", "--fast"}, "unknown option --fast for scan"},
      {{"inventory", "--from", "0"}, kAddressRange},
      {{"inventory", "--from", "30", "--to", "20"}, "--from is above --to"},
      {{"--address", "2", "write", good, "--code-word", "Pelmar"}, "--readdress"},
      {{"write", good}, "write needs --code-word WORD"},
      {{"write", good, "--code-word", "Rumel"}, "Пароль введен неверно"},
      {{"write", good, "--code-word", "pelmar"}, "Пароль введен неверно"},
      {{"write-bounds", bounds, "--code-word", "Pelmar"}, "Пароль введен неверно"},
      {{"write", Path("missing.dat"), "--code-word", "Pelmar"}, "Cannot read"},
      {{"write", comma, "--code-word", "Pelmar"}, "Проверьте данные"},
      {{"write", farAddress, "--code-word", "Pelmar"}, kAddressRange},
      {{"write", huge, "--code-word", "Pelmar"}, "Floating point overflow"},
      {{"write-bounds", shortBounds, "--code-word", "Rumel"}, "Проверьте данные"},
      {{"write-bounds", dir.path().toStdString(), "--code-word", "Rumel"}, "Cannot read"},
      {{"save", Path("no/such/dir.dat")}, "Cannot save"},
      {{"write", longCoef, "--code-word", "Pelmar"}, "Проверьте данные"},
      {{"write-bounds", longBounds, "--code-word", "Rumel"}, "Проверьте данные"},
      // Network names that cannot be opened as they stand.
      {{"--port", "tcp://10.0.0.7:0", "read"},
       "tl8ctl: --port tcp://10.0.0.7:0: port 0 is out of range 1..65535\n"},
      {{"--port=rfc2217://10.0.0.7:65536", "read"}, "port 65536 is out of range 1..65535"},
      {{"--port", "tcp://:4001", "scan"}, "--port tcp://:4001: empty host\n"},
      {{"--port", "tcp://[fd00::17:4001", "read"}, "unclosed ["},
      {{"--port", "modbus-tcp://gw:", "read"}, "--port modbus-tcp://gw:: no port after the host"},
      {{"--port", "tcp://10.0.0.7:4001?allow=soon", "read"},
       "bad ?allow= value \"soon\": milliseconds 0..10000"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += arg + " ";
    const Ran ran = ctl.Run(c.args);
    EXPECT_EQ(ran.code, 2) << shown << ran.err;
    EXPECT_NE(ran.err.find(c.error), std::string::npos) << shown << ran.err;
    EXPECT_EQ(ran.out, "") << shown;
    EXPECT_EQ(ctl.OpenedPort(), "") << shown;
  }
  ctl.sim.Settle(100);
  EXPECT_TRUE(ctl.sim.Received().empty());
  // The same line and files do work: the table's refusals were the inputs'.
  EXPECT_EQ(ctl.Run({"write", good, "--code-word", "Pelmar"}).code, 0);
  EXPECT_EQ(ctl.OpenedPort(), "COM1");  // the default port
  EXPECT_EQ(ctl.Run({"--port", "ttyUSB3", "write-bounds", bounds, "--code-word", "Rumel"}).code, 0);
  EXPECT_EQ(ctl.OpenedPort(), "ttyUSB3");
}

// A port another program holds: the tool's message box in one line, with the
// system's words, and nothing on the line.
TEST_F(Commands, APortHeldElsewhereIsReportedAndNothingIsSent) {
  CtlOnSim ctl;
  ctl.HoldPortElsewhere();
  const Ran ran = ctl.Run({"--port", "ttyUSB0", "read"});
  EXPECT_EQ(ran.code, 1);
  EXPECT_EQ(ran.out, "");
  EXPECT_EQ(ran.err,
            "Неудача при открытии порта: Вероятно, выполняется другая программа, открывшая порт "
            "ttyUSB0. Закройте программу, захватившую порт, или укажите другой порт. (Unable to "
            "open com port (win error code: " +
                std::to_string(EBUSY) + "))\n");
  ctl.sim.Settle(100);
  EXPECT_TRUE(ctl.sim.Received().empty());
}

// Ctrl-C at a fixed moment of virtual time: the command ends with exit code
// 130 and "stopped", and nothing more goes out but the frame on its way.
TEST_F(Commands, CtrlCEndsEveryCommandAfterTheFrameInFlight) {
  const std::string file = Path("adapter.dat");
  {
    CtlOnSim source;
    ASSERT_EQ(source.Run({"save", file}).code, 0);
  }
  const struct {
    const char* name;
    std::vector<std::string> simulator;
    std::vector<std::string> args;
  } commands[] = {
      // Nobody answers before 247: the search polls address after address.
      {"scan", {"--address", "247"}, {"scan"}},
      {"read", {}, {"read"}},
      {"write", {}, {"write", file, "--code-word", "Pelmar"}},
  };
  for (const auto& c : commands) {
    SCOPED_TRACE(c.name);
    CtlOnSim ctl(SimulatorSetup(c.simulator));
    size_t framesBeforeStop = 0;
    ctl.sim.clock.At(ctl.sim.clock.Now() + 500ms, [&] {
      ctl.Interrupt();
      framesBeforeStop = ctl.sim.Received().size();
    });
    const Ran ran = ctl.Run(c.args);
    ctl.sim.Settle(50);  // the last frame reaches the adapter

    EXPECT_EQ(ran.code, 130);
    EXPECT_EQ(ran.err, "tl8ctl: stopped\n");
    EXPECT_EQ(ran.out, "");
    EXPECT_GE(framesBeforeStop, 2u) << "the command ran before the stop";
    EXPECT_LE(ctl.sim.Received().size(), framesBeforeStop + 1);
  }
}

// A converter that hears its own transmitter: every command works as on a
// quiet line, the pass-through included (the search before it shows the echo).
TEST_F(Commands, EveryCommandWorksThroughALineThatEchoes) {
  CtlOnSim ctl(SimulatorSetup({"--echo", "--address", "3"}));
  const Ran scan = ctl.Run({"scan"});
  EXPECT_EQ(scan.code, 0) << scan.err;
  EXPECT_EQ(scan.out, "3\n");

  const std::string file = Path("adapter.dat");
  const Ran saved = ctl.Run({"--address", "3", "save", file});
  ASSERT_EQ(saved.code, 0) << saved.err;
  EXPECT_EQ(Lines(FileBytes(file))[0], "3\r");
  const SimState before = ctl.sim.State(3);
  const Ran written = ctl.Run({"--address", "3", "write", file, "--code-word", "Pelmar"});
  ASSERT_EQ(written.code, 0) << written.err;
  EXPECT_NE(ctl.sim.State(3).param(14), before.param(14));  // a fresh date stamp went in
  EXPECT_TRUE(ctl.sim.State(3).checksumMatches());

  const Ran moved = ctl.Run({"--address", "3", "set-address", "9"});
  EXPECT_EQ(moved.code, 0) << moved.err;
  EXPECT_EQ(moved.out, "9\n");
  EXPECT_EQ(ctl.sim.State(9).address, 9);

  const Ran silent = ctl.Run({"--address", "5", "passthrough"});
  EXPECT_EQ(silent.code, 1);
  EXPECT_EQ(silent.err, "Нет ответа от ТЛ-8 с адресом  005\n");
  const Ran switched = ctl.Run({"--address", "9", "passthrough"});
  EXPECT_EQ(switched.code, 0) << switched.err;
  EXPECT_EQ(switched.out, kSwitched + "\n");
}

// --trace: the line monitor's lines on stderr, as the exchange goes; the
// result on stdout is the same as without it.
TEST_F(Commands, TraceShowsEveryFrameAndAnswerOnStderr) {
  CtlOnSim ctl(SimulatorSetup({"--echo"}));
  const Ran plain = ctl.Run({"read"});
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  const Ran traced = ctl.Run({"--trace", "read"});
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

// On a terminal the progress line takes each step in place and is gone before
// the result; elsewhere there is none (the tests above).
TEST_F(Commands, AProgressLineOnATerminalShowsEachStep) {
  const std::string file = Path("adapter.dat");
  const struct {
    std::vector<std::string> args;
    const char* step;
    int shown, of;  // the steps shown, of how many
  } runs[] = {
      {{"scan", "--to", "9"}, "searching address", 4, 9},
      {{"--address", "4", "save", file}, "reading parameter", 16, 16},
      {{"--address", "4", "write", file, "--code-word", "Pelmar"}, "writing parameter", 16, 16},
  };
  CtlOnSim ctl(SimulatorSetup({"--address", "4"}));
  ctl.ErrOnTerminal();
  for (const auto& run : runs) {
    SCOPED_TRACE(run.step);
    const Ran ran = ctl.Run(run.args);
    ASSERT_EQ(ran.code, 0) << ran.err;
    std::string expected;
    for (int i = 1; i <= run.shown; ++i)
      expected += "\r" + std::string(run.step) + " " + std::to_string(i) + "/" +
                  std::to_string(run.of) + "\x1b[K";
    EXPECT_EQ(ran.err, expected + "\r\x1b[K");
  }
}

// A script that reads stdout in JSON mode meets one object whatever went
// wrong: {"error": the message stderr begins with, "exit": the exit code},
// after whatever the run printed before it failed.
TEST_F(Commands, EveryFailureInJsonModeEndsStdoutWithAnErrorObject) {
  const std::string longBounds = File("long-tmp.dat", "900\r\n" + QByteArray(1030, '0') + "\r\n");
  SimLinkSetup spoilt;  // a memory whose checksum does not match
  spoilt.adapters.front().param(16) = {0xFF, 0x00, 0x00, 0x00};
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::function<void(CtlOnSim&)> prepare;
    int code;
    std::string error;
    size_t linesBefore;  // results printed before the failure
  } cases[] = {
      {"usage", {"--json", "--bogus", "read"}, {}, 2, "tl8ctl: unknown option --bogus", 0},
      {"usage, --json after it",
       {"--bogus", "--json", "read"},
       {},
       2,
       "tl8ctl: unknown option --bogus",
       0},
      {"no command", {"--json"}, {}, 2, "tl8ctl: no command given", 0},
      {"bad data",
       {"--json", "write-bounds", longBounds, "--code-word", "Rumel"},
       {},
       2,
       "Проверьте данные",
       0},
      {"wrong code word",
       {"--json", "write-bounds", Path("x"), "--code-word", "x"},
       {},
       2,
       "Пароль введен неверно",
       0},
      {"port held",
       {"--json", "--port", "ttyUSB0", "read"},
       [](CtlOnSim& ctl) { ctl.HoldPortElsewhere(); },
       1,
       "Неудача при открытии порта: Вероятно, выполняется другая программа, открывшая порт "
       "ttyUSB0. Закройте программу, захватившую порт, или укажите другой порт. (Unable to "
       "open com port (win error code: " +
           std::to_string(EBUSY) + "))",
       0},
      {"no adapter",
       {"--json", "--address", "5", "read"},
       {},
       1,
       "Нет ответа от ТЛ-8 с адресом  005",
       0},
      {"checksum",
       {"--json", "read"},
       [&spoilt](CtlOnSim& ctl) { ctl.sim.Restart(spoilt); },
       1,
       "Ошибка ЦИК массива",
       1},
      {"stopped",
       {"--json", "read"},
       [](CtlOnSim& ctl) {
         ctl.sim.clock.At(ctl.sim.clock.Now() + 500ms, [stop = &ctl] { stop->Interrupt(); });
       },
       130,
       "tl8ctl: stopped",
       0},
      {"stopped while opening",
       {"--json", "--port", "tcp://10.0.0.7:4001", "read"},
       [](CtlOnSim& ctl) { ctl.StopWhileOpening(); },
       130,
       "tl8ctl: stopped",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CtlOnSim ctl;
    if (c.prepare) c.prepare(ctl);
    const Ran ran = ctl.Run(c.args);
    EXPECT_EQ(ran.code, c.code);
    EXPECT_TRUE(ran.err.starts_with(c.error + "\n")) << ran.err;
    const std::vector<std::string> lines = Lines(ran.out);
    ASSERT_EQ(lines.size(), c.linesBefore + 1) << ran.out;
    const QJsonObject failure =
        QJsonDocument::fromJson(QByteArray::fromStdString(lines.back())).object();
    EXPECT_EQ(failure.keys(), QStringList({"error", "exit"}));
    EXPECT_EQ(failure.value("error").toString().toStdString(), c.error);
    EXPECT_EQ(failure.value("exit").toInt(-1), c.code);
  }
  // Without --json a failure leaves stdout empty; "--json" as an option's
  // value does not ask for JSON.
  CtlOnSim ctl;
  const Ran text = ctl.Run({"--port", "--json", "frobnicate"});
  EXPECT_EQ(text.code, 2);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "tl8ctl: unknown command frobnicate\nTry 'tl8ctl --help'.\n");
}

// The search goes on after each adapter it finds and reads each one as read
// does: its frames are the search's over the whole range with a full read
// after each address that answered, its lines read's object (JSON) or read's
// words on one line.
TEST_F(Commands, InventoryReadsEveryAdapterTheSearchFinds) {
  const std::vector<int> adapters = {3, 17, 247};
  CtlOnSim ctl(SimulatorSetup({"--address", "3", "--adapter", "17", "--adapter", "247"}));
  const std::string date =
      sim::stampText(sim::lsbFirstValue(ctl.sim.link().memory(3).param(sim::kStampParam)));

  const Ran json = ctl.Run({"--json", "inventory"});
  ASSERT_EQ(json.code, 0) << json.err;
  EXPECT_EQ(json.err, "");
  std::vector<Request> expected;
  for (int address = 1; address <= 247; ++address) {
    expected.push_back({address, 3, 257});  // the search's read
    if (std::find(adapters.begin(), adapters.end(), address) != adapters.end())
      for (const Request& request : FullRead(address)) expected.push_back(request);
  }
  EXPECT_EQ(RequestsOf(ctl.sim.Received()), expected);
  std::vector<std::string> reads;
  for (int address : adapters) {
    const Ran read = ctl.Run({"--json", "--address", std::to_string(address), "read"});
    ASSERT_EQ(read.code, 0) << read.err;
    reads.push_back(Lines(read.out).front());
  }
  EXPECT_EQ(Lines(json.out), reads);

  const size_t sent = ctl.sim.Received().size();
  const Ran text = ctl.Run({"inventory", "--from", "4", "--to", "17"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.out,
            "address 17 answering_address 17 serial 0101001 date " + date +
                " values 1010.00 630.00 16.0000 4.0000 85.00 -40.00 16.0000 4.0000 200.00 1.50 "
                "16.0000 4.0000\n");
  const std::vector<Request> narrowed = RequestsOf(ctl.sim.Received(sent));
  ASSERT_EQ(narrowed.size(), 14u + 17u);  // 4..17, then the read of 17 and nothing after it
  EXPECT_EQ(narrowed.front(), (Request{4, 3, 257}));
  EXPECT_EQ(std::vector<Request>(narrowed.end() - 17, narrowed.end()), FullRead(17));

  // On a terminal: each address searched and each parameter read, the line
  // cleared before every result.
  ctl.ErrOnTerminal();
  const Ran shown = ctl.Run({"inventory", "--from", "2", "--to", "4"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  const auto steps = [](const std::string& step, std::vector<int> done, int of) {
    std::string text;
    for (int i : done)
      text += "\r" + step + " " + std::to_string(i) + "/" + std::to_string(of) + "\x1b[K";
    return text + "\r\x1b[K";
  };
  std::vector<int> parameters(16);
  std::iota(parameters.begin(), parameters.end(), 1);
  EXPECT_EQ(shown.err, steps("searching address", {2, 3}, 4) +
                           steps("reading parameter", parameters, 16) +
                           steps("searching address", {4, 4}, 4));
}

// A read that fails does not end the inventory: the adapters read are
// printed, each failure is told as it comes, and the run ends with exit code
// 1 and the addresses that failed; nobody on the line is a failure too.
TEST_F(Commands, InventoryPrintsTheAdaptersReadAndFailsForTheOthers) {
  SimLinkSetup setup;
  sim::Memory spoilt = FactoryAdapter(20);  // its checksum does not match
  spoilt.param(16) = {0xFF, 0x00, 0x00, 0x00};
  setup.adapters = {FactoryAdapter(3), FactoryAdapter(17), spoilt};
  setup.faults = {"silent,addr=17,reg=265"};  // parameter 6 of 17, every time
  CtlOnSim ctl(setup);

  const Ran text = ctl.Run({"inventory", "--to", "30"});
  EXPECT_EQ(text.code, 1);
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 2u) << text.out;
  EXPECT_TRUE(lines[0].starts_with("address 3 answering_address 3 ")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("address 20 answering_address 20 ")) << lines[1];
  EXPECT_EQ(text.err,
            "tl8ctl: adapter 17: Сбой!\n"
            "tl8ctl: adapter 20: Ошибка ЦИК массива\n"
            "tl8ctl: the read failed at 17, 20 (2 of 3 adapters found)\n");

  const Ran json = ctl.Run({"--json", "inventory", "--to", "30"});
  EXPECT_EQ(json.code, 1);
  const std::vector<std::string> objects = Lines(json.out);
  ASSERT_EQ(objects.size(), 3u) << json.out;
  EXPECT_EQ(objects[2],
            "{\"error\":\"tl8ctl: the read failed at 17, 20 (2 of 3 adapters found)\",\"exit\":1}");

  const Ran nobody = ctl.Run({"inventory", "--from", "4", "--to", "16"});
  EXPECT_EQ(nobody.code, 1);
  EXPECT_EQ(nobody.out, "");
  EXPECT_EQ(nobody.err, "Нет ответа от адаптера\n");
}

// --fast: every command that reads prints what it prints without it, after
// the same frames, in a fraction of the (virtual) time; write-bounds writes at
// its usual pace after its fast read.
TEST_F(Commands, FastReadsPrintTheSameInAFractionOfTheTimeAndWritesKeepTheirPace) {
  const std::string bounds = File("tmp.dat", "900\r\n10\r\n4.5\r\n-20\r\n250\r\n2.5\r\n4\r\n4\r\n");
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> simulator;
  } commands[] = {
      {{"read"}, {}},
      {{"--json", "read"}, {"--echo"}},
      {{"save", Path("saved.dat")}, {}},
      {{"inventory", "--to", "3"}, {"--adapter", "2", "--adapter", "3"}},
      {{"read"}, {"--turnaround", "15"}},
  };
  struct Result {
    Ran ran;
    std::vector<std::string> frames;
    std::string file;  // save's, without its date line
    ExchangeClock::Duration took;
  };
  const auto run = [this](std::vector<std::string> args, const std::vector<std::string>& line,
                          bool fast) {
    CtlOnSim ctl(SimulatorSetup(line));
    if (fast) args.push_back("--fast");
    Result result{ctl.Run(args), {}, {}, ctl.sim.clock.Now()};
    for (const auto& frame : ctl.sim.Received()) result.frames.push_back(frame.note);
    if (args[0] == "save") {
      std::vector<std::string> lines = Lines(FileBytes(Path("saved.dat")));
      lines.erase(lines.begin() + 1);
      for (const std::string& line : lines) result.file += line + "\n";
    }
    return result;
  };
  for (const auto& c : commands) {
    std::string shown;
    for (const std::string& word : c.args) shown += word + " ";
    for (const std::string& word : c.simulator) shown += word + " ";
    SCOPED_TRACE(shown);
    const Result paced = run(c.args, c.simulator, false);
    const Result fast = run(c.args, c.simulator, true);
    EXPECT_EQ(fast.ran.code, 0) << fast.ran.err;
    EXPECT_EQ(fast.ran.out, paced.ran.out);
    EXPECT_EQ(fast.ran.err, paced.ran.err);
    EXPECT_EQ(fast.frames, paced.frames);
    EXPECT_EQ(fast.file, paced.file);
    EXPECT_LT(fast.took * 3, paced.took);
  }

  // write-bounds: the read before the write is fast, the write takes as long.
  const auto took = [&](std::vector<std::string> args, bool fast) {
    CtlOnSim ctl;
    if (fast) args.push_back("--fast");
    EXPECT_EQ(ctl.Run(args).code, 0);
    return ctl.sim.clock.Now();
  };
  const std::vector<std::string> write = {"write-bounds", bounds, "--code-word", "Rumel"};
  const auto pacedWrite = took(write, false) - took({"read"}, false);
  const auto fastWrite = took(write, true) - took({"read"}, true);
  EXPECT_EQ(fastWrite, pacedWrite);
  EXPECT_LT(took(write, true), took(write, false));
}

}  // namespace
}  // namespace tl8test
