// tl8ctl as a user runs it: the built program against the simulator (a
// separate process on a pseudo-terminal), its exit code, stdout and stderr,
// and what the simulator's memory and journal say went over the line. A run
// of each command family, names as the system's bytes, Ctrl-C and a closed
// terminal, the busy port and the terminal's progress line; every case of
// the commands and the fault matrix run in the test's process on the
// simulated line (commands_test.cpp, matrix_test.cpp).

#include "net/netline.h"
#include "serial/comport.h"
#include "serial/ports_unix.h"
#include "tests/cli/ctl_run.h"
#include "tests/support/loopback.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_data.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <thread>
#include <vector>

namespace tl8test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

// The other command families on one simulator: the search, the bounds
// write, the address move and the switch to pass-through.
TEST(Tl8ctl, ScanWriteBoundsSetAddressAndPassThroughRunAgainstTheSimulator) {
  SimProcess sim({"--link", "{dir}/line"});
  // The address moves on an adapter of its own, while the bounds are written.
  SimProcess moving({"--link", "{dir}/line"});
  Ctl move(moving.dir(), {"--port", moving.path("line"), "set-address", "9"});
  const Ran scan = RunCtl(sim, {"scan", "--to", "3"});
  EXPECT_EQ(scan.code, 0) << scan.err;
  EXPECT_EQ(scan.out, "1\n");

  const std::string bounds = sim.path("tmp.dat");
  WriteFile(QString::fromStdString(bounds),
            "900.00\r\n10.00\r\n4.50\r\n-20.00\r\n250.00\r\n2.50\r\n4.00\r\n4.00\r\n");
  const Ran written = RunCtl(sim, {"write-bounds", bounds, "--code-word", "Rumel", "--fast"});
  EXPECT_EQ(written.code, 0) << written.err;
  EXPECT_EQ(sim.state().param(1), AdapterFloatBytes(900));
  EXPECT_TRUE(sim.state().checksumMatches());

  ASSERT_EQ(move.Wait(), 0) << move.Err();
  EXPECT_EQ(move.Out(), "9\n");
  EXPECT_EQ(moving.state().address, 9);

  const Ran switched = RunCtl(moving, {"--address", "9", "passthrough"});
  EXPECT_EQ(switched.code, 0) << switched.err;
  EXPECT_EQ(switched.out, kSwitched + "\n");
}

// The inventory on a real line at the line's own speed: every adapter's line
// is what a read of it prints (every rule of the inventory and of --fast, and
// that a fast read prints what a paced one does: commands_test.cpp).
TEST(Tl8ctl, InventoryAtTheLinesOwnSpeedPrintsWhatEachReadPrints) {
  SimProcess sim({"--link", "{dir}/line", "--adapter", "3"});
  // The reads go to a twin line (the same adapters, as made), while the
  // inventory runs.
  SimProcess twin({"--link", "{dir}/line", "--adapter", "3"});
  Ctl inventory(sim.dir(),
                {"--port", sim.path("line"), "--json", "inventory", "--to", "4", "--fast"});
  std::string reads;
  for (const char* address : {"1", "3"}) {
    const Ran read = RunCtl(twin, {"--json", "--address", address, "read", "--fast"});
    ASSERT_EQ(read.code, 0) << read.err;
    reads += read.out;
  }
  ASSERT_EQ(inventory.Wait(), 0) << inventory.Err();
  EXPECT_EQ(inventory.Out(), reads);
  EXPECT_EQ(Lines(inventory.Out()).size(), 2u);
}

// What only the program shows: names arrive as the system's bytes. Names in
// Windows-1251 ("А.dat", "Б.dat") are no UTF-8 and are refused before
// anything is sent: decoded, both would name another file, U+FFFD ".dat".
// (Every other refusal: commands_test.cpp.)
TEST(Tl8ctl, NamesThatAreNotUtf8AreRefusedBeforeAnythingIsSent) {
  SimProcess sim({"--link", "{dir}/line"});
  const std::string replaced = sim.path("\xEF\xBF\xBD.dat");
  const QByteArray good =
      "1\r\n01/01/2025(00:00:00)\r\n0101001\r\n1010\r\n630\r\n16\r\n4\r\n85\r\n"
      "-40\r\n16\r\n4\r\n200\r\n1.5\r\n16\r\n4\r\n";
  WriteFile(QString::fromStdString(replaced), good);
  const struct {
    std::vector<std::string> args;
    std::string error;  // what stderr holds
  } cases[] = {
      {{"save", sim.path("\xC0.dat")},
       "tl8ctl: file name \"" + sim.path("\\xc0.dat") + "\" is not valid UTF-8"},
      {{"write", sim.path("\xC1.dat"), "--code-word", "Pelmar"}, "is not valid UTF-8"},
      {{"--port=\xC0", "read"}, "tl8ctl: --port name \"\\xc0\" is not valid UTF-8"},
  };
  for (const auto& c : cases) {
    const Ran ran = RunCtl(sim, c.args);
    EXPECT_EQ(ran.code, 2) << c.args[0] << ran.err;
    EXPECT_NE(ran.err.find(c.error), std::string::npos) << c.args[0] << ran.err;
    EXPECT_EQ(ran.out, "") << c.args[0];
  }
  EXPECT_EQ(Requests(sim), 0);
  EXPECT_EQ(FileBytes(replaced), std::string(good));
  EXPECT_FALSE(fs::exists(sim.path("\xC0.dat")));
}

// Ctrl-C ends the search long before it reaches 247 (that nothing but the
// frame in flight goes out after it is checked in virtual time in
// commands_test.cpp).
TEST(Tl8ctl, ASecondRunIsRefusedAtTheBusyPortAndCtrlCEndsTheFirstAtOnce) {
  SimProcess sim({"--link", "{dir}/line", "--address", "247"});
  const fs::path other = fs::path(sim.dir()) / "other";
  fs::create_directory(other);
  Ctl scan(other.string(), {"--port", sim.path("line"), "scan"});  // about 20 s to reach 247
  const auto deadline = std::chrono::steady_clock::now() + 30s;
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

  scan.Signal(SIGINT);
  EXPECT_EQ(scan.Wait(30s), 130);
  EXPECT_EQ(scan.Err(), "tl8ctl: stopped\n");
  EXPECT_EQ(scan.Out(), "");
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

// Each step's text is checked in the test's process (commands_test.cpp).
TEST(Tl8ctl, AProgressLineShowsWhenStderrIsATerminal) {
  SimProcess sim({"--link", "{dir}/line", "--address", "3"});
  const PtyPair terminal;
  Ctl ctl(sim.dir(), {"--port", sim.path("line"), "scan", "--to", "3"}, terminal.SlavePath());
  ASSERT_EQ(ctl.Wait(), 0);
  // Everything the run wrote: up to the line's last clearing.
  std::string shown;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!shown.ends_with("\r\x1b[K") && std::chrono::steady_clock::now() < deadline)
    shown += terminal.Read(1000, 1);
  EXPECT_TRUE(shown.starts_with("\rsearching address 1/3\x1b[K")) << shown;
  EXPECT_NE(shown.find("\rsearching address 3/3\x1b[K"), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("\r\x1b[K"));  // gone before the result
  EXPECT_EQ(ctl.Out(), "3\n");
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
  const std::regex skipped(R"(tl8ctl: \S+ (is busy, skipped|is the system console, skipped|)"
                           R"(skipped: Unable to open com port \(win error code: \d+\)))");
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
        "passthrough", "inventory", "history", "restore ID", "report ID -o FILE.pdf",
        "--no-history", "--fast", "--port NAME", "--address N", "--json", "--trace"})
    EXPECT_NE(all.Out().find(command), std::string::npos) << command;
  Ctl one(sim.dir(), {"write", "--help"});
  EXPECT_EQ(one.Wait(), 0);
  EXPECT_NE(one.Out().find("--code-word WORD"), std::string::npos);
  EXPECT_EQ(one.Out().find("passthrough"), std::string::npos);
}

// A result that does not reach standard output is a failure, with the
// system's reason, whatever wrote it: a read, JSON, help text; a full disk
// or a stream the program was started without, whose number the port must
// not take (the result would go onto the line).
TEST(Tl8ctl, OutputThatCannotBeWrittenFailsTheRun) {
  const SimProcess sim;
  const struct {
    std::vector<std::string> args;
    const char* redirect;
    const char* reason;
  } runs[] = {
      {{"--port", sim.port(), "read", "--fast"}, ">/dev/full", "No space left on device"},
      {{"--json", "ports"}, ">/dev/full", "No space left on device"},
      {{"--help"}, ">/dev/full", "No space left on device"},
      {{"--port", sim.port(), "read", "--fast"}, ">&-", "Bad file descriptor"},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.args.back() + " " + run.redirect);
    Ctl ctl(sim.dir(), run.args, "",
            {"/bin/sh", "-c", std::string("exec \"$@\" ") + run.redirect, "sh"});
    EXPECT_EQ(ctl.Wait(), 1);
    EXPECT_NE(ctl.Err().find(std::string("tl8ctl: write error: ") + run.reason), std::string::npos)
        << ctl.Err();
  }
  EXPECT_EQ(Requests(sim), 2 * 17) << "the two reads' frames alone went onto the line";
}

// The value of an environment variable for the object's lifetime (unset
// when null), for the programs it starts.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* was = std::getenv(name)) was_ = was;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedVariable() { was_ ? setenv(name_, was_->c_str(), 1) : unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> was_;
};

// A saved file written back, as a user meets it, and the change records of
// it: the file carries every value back exactly (0.1 with its cleared lowest
// bit, channel 2's bound of 104.5 shown as 4.50), the write is recorded in
// the user's data folder, history lists it, restore puts the values before
// back, changing only the date stamp and the checksum, and report draws the
// protocol without a display, whose text a PDF reader finds (every rule of
// the records: history_test.cpp; of the files: coeffile_test.cpp).
TEST(Tl8ctl, ASavedFileWrittenBackIsRecordedRestoredAndReported) {
  const SimProcess scratch;  // its directory holds a state file made in advance
  const std::string state = scratch.path("memory.txt");
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
  const ScopedVariable data("XDG_DATA_HOME", sim.path("data").c_str());
  const ScopedVariable display("DISPLAY", nullptr);
  const ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
  const ScopedVariable platform("QT_QPA_PLATFORM", nullptr);
  const std::string file = sim.path("Адаптер.dat");  // a name in UTF-8 takes its bytes as they are

  const Ran saved = RunCtl(sim, {"--address", "5", "save", file, "--fast"});
  ASSERT_EQ(saved.code, 0) << saved.err;
  std::string coefficients = FileBytes(file);
  EXPECT_EQ(coefficients.substr(coefficients.size() - 2), "\r\n");
  const std::vector<std::string> lines = Lines(coefficients);
  ASSERT_EQ(lines.size(), 15u);  // each ended by CR LF
  EXPECT_EQ(lines[0], "5\r");
  EXPECT_EQ(lines[2], "012345\r");
  EXPECT_EQ(lines[4], "630.00\r");
  EXPECT_EQ(lines[5], "0.1000\r");
  EXPECT_EQ(lines[7], "4.50\r");
  coefficients.replace(coefficients.find("\r\n630.00\r\n"), 12, "\r\n633.25\r\n");
  WriteFile(QString::fromStdString(file), QByteArray::fromStdString(coefficients));

  const Ran written = RunCtl(sim, {"--address", "5", "write", file, "--code-word", "Pelmar"});
  ASSERT_EQ(written.code, 0) << written.err;
  EXPECT_EQ(sim.state().param(2), AdapterFloatBytes(633.25f));
  EXPECT_FALSE(fs::is_empty(sim.path("data/Kavrion/Tl8v05/history")));
  const Ran history = RunCtl(sim, {"--json", "history"});
  ASSERT_EQ(history.code, 0) << history.err;
  const QJsonObject entry =
      QJsonDocument::fromJson(QByteArray::fromStdString(history.out)).object();
  const std::string id = entry.value("id").toString().toStdString();
  EXPECT_EQ(entry.value("outcome").toObject().value("result").toString().toStdString(), "written");

  // The write's protocol is made while the restore runs: the page reads the
  // write's entry, the restore adds an entry of its own.
  const std::string pdf = sim.path("protocol.pdf");
  const QTemporaryDir reportOutput;
  Ctl report(reportOutput.path().toStdString(), {"report", id, "-o", pdf});
  const Ran restored = RunCtl(sim, {"--address", "5", "restore", id, "--code-word", "Pelmar"});
  ASSERT_EQ(restored.code, 0) << restored.err;
  const SimState after = sim.state();
  EXPECT_EQ(after.address, 5);
  for (int i = 1; i <= 15; ++i) {
    if (i != 14) {
      EXPECT_EQ(after.param(i), before.param(i)) << "parameter " << i;
    }
  }
  EXPECT_NE(after.param(14), before.param(14));
  EXPECT_TRUE(after.checksumMatches());

  ASSERT_EQ(report.Wait(), 0) << report.Err();
  EXPECT_EQ(FileBytes(pdf).substr(0, 5), "%PDF-");
  const std::string text = sim.path("protocol.txt");
  ASSERT_EQ(std::system(("pdftotext -layout " + pdf + " " + text).c_str()), 0)
      << "pdftotext (poppler-utils) reads the page";
  for (const char* shown : {"012345", "630.00", "633.25", "+3.25", "tl8ctl write"})
    EXPECT_NE(FileBytes(text).find(shown), std::string::npos) << shown << "\n" << FileBytes(text);
}

// A device server on the network behind a forwarder 150 ms from it, with no
// allowance given: the search finds the adapter by its late answer, learns
// the path and asks it again (every service function at 40, 150 and 500 ms:
// modbus_network_latency_test, in virtual time).
TEST(Tl8ctl, WorksThroughADeviceServerOnTheNetwork) {
  SimProcess sim({"--tcp", "0", "--address", "3"});
  // A forwarder 150 ms from the server takes the connection at once: only
  // the answers tell the line how far the adapter is.
  const DelayProxy path(std::stoi(sim.port().substr(sim.port().rfind(':') + 1)), 150ms);
  const std::string name = "tcp://127.0.0.1:" + std::to_string(path.Port());
  Ctl scan(sim.dir(), {"--port", name, "scan", "--to", "12"});
  EXPECT_EQ(scan.Wait(), 0) << scan.Err();
  EXPECT_EQ(scan.Out(), "3\n");
}

// A network port that does not open says what happened, in the tool's
// sentence and the system's words: refused, no such host, the server's own
// words (a device server that cannot open its device), settings it refused.
TEST(Tl8ctl, ANetworkPortThatDoesNotOpenSaysWhatHappened) {
  const QTemporaryDir dir;
  const LoopSocket held = LoopSocket::Bound();  // nobody listens there: the connection is refused
  const std::string nobody = "tcp://127.0.0.1:" + std::to_string(held.Port());
  // Each takes the tool's greeting and settings before it answers: a close
  // with bytes unread would reset the connection and lose what was sent.
  const auto settingsOf = [](const LoopSocket& client) {
    std::string fromClient;
    const std::string rateRequest("\xFF\xFA\x2C\x01\x00\x00\x00\x00", 8);  // the last setting
    while (fromClient.find(rateRequest) == std::string::npos) {
      const std::string got = client.Receive(kLongWait);
      if (got.empty()) return;
      fromClient += got;
    }
  };
  ScriptedServer speaks([&](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    settingsOf(client);
    client.Send("Device open failure: Value or file not found\r\n");
  });
  ScriptedServer refuses([&](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    settingsOf(client);
    // Binary and the COM port option agreed; the port stays at 4800 bit/s.
    client.Send(std::string(
        "\xFF\xFD\x00\xFF\xFB\x00\xFF\xFD\x2C\xFF\xFA\x2C\x65\x00\x00\x12\xC0\xFF\xF0", 19));
    client.AwaitClose(kLongWait);
  });
  const std::string caption = "Неудача при открытии порта: ";
  const struct {
    std::string name;
    std::string err;
  } cases[] = {
      {nobody, caption + "Сервер " + nobody +
                   " отказал в соединении: по этому адресу порт не принимает подключений. "
                   "Проверьте адрес и номер порта. (Unable to open com port (win error code: "
                   "111))\n"},
      {"tcp://no-such-host.invalid:502",
       caption + "Сервер tcp://no-such-host.invalid:502 не найден: такого имени узла нет в сети. "
                 "Проверьте имя сервера. (Unable to open com port (win error code: -2): Name or "
                 "service not known)\n"},
      {speaks.Name("rfc2217"),
       caption + "Сервер " + speaks.Name("rfc2217") +
           " закрыл соединение с сообщением: Device open failure: Value or file not found "
           "(SetCommState function failed (win error code: 104): Device open failure: Value or "
           "file not found)\n"},
      {refuses.Name("rfc2217"),
       caption + "Сервер " + refuses.Name("rfc2217") +
           " не принял настройки порта (the server's port keeps 4800 bit/s, not 9600 bit/s). "
           "(SetCommState function failed (win error code: 71): the server's port keeps 4800 "
           "bit/s, not 9600 bit/s)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ctl ctl(dir.path().toStdString(), {"--port", c.name, "read"});
    EXPECT_EQ(ctl.Wait(), 1);
    EXPECT_EQ(ctl.Err(), c.err);
  }
}

// A termination request while an RFC 2217 server keeps the opening waiting
// ends it at once, and --json still ends stdout with the failure.
TEST(Tl8ctl, ATerminationRequestEndsTheOpeningOfANetworkPort) {
  const QTemporaryDir dir;
  std::atomic<bool> accepted = false;
  ScriptedServer silent([&accepted](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    accepted = true;
    client.AwaitClose(kLongWait);
  });
  Ctl opening(dir.path().toStdString(), {"--json", "--port", silent.Name("rfc2217"), "read"});
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!accepted && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(accepted) << "tl8ctl did not connect";
  opening.Signal(SIGTERM);
  EXPECT_EQ(opening.Wait(5s), 130);
  EXPECT_EQ(opening.Err(), "tl8ctl: stopped\n");
  EXPECT_EQ(opening.Out(), "{\"error\":\"tl8ctl: stopped\",\"exit\":130}\n");
}

}  // namespace
}  // namespace tl8test
