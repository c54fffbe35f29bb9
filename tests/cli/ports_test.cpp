// tl8ctl's ports and scan --all-ports, each run whole (cli/run.h) in the
// test's process: the system's list is the test's own, and each port that
// opens is a simulated line in virtual time. tests/cli/tl8ctl_test.cpp runs
// both through the program itself.

#include "cli/commands.h"
#include "tests/cli/ctl_on_sim.h"
#include "tests/support/sim_link.h"
#include "tests/support/sim_session.h"
#include "tests/support/test_data.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

namespace tl8test {
namespace {

using namespace std::chrono_literals;

// The system as the test makes it: the ports its list shows, a simulated line
// behind each port that opens (all on one virtual clock), and the session
// talking through the line opened last.
class SimulatedPorts final : public TComLink {
 public:
  // A port of the list; with `line`, a simulated line that opens behind it.
  void Add(ComPortInfo port, std::optional<SimLinkSetup> line = std::nullopt) {
    if (line) lines_[port.name] = std::make_unique<SimLink>(clock, std::move(*line));
    listed_.push_back(std::move(port));
  }

  // The system's list cannot be read from now on.
  void BreakList() { listBroken_ = true; }
  // Runs when the named port opens.
  void OnOpen(const std::string& port, std::function<void()> action) {
    onOpen_[port] = std::move(action);
  }

  Ran Run(const QStringList& args) {
    const PortAccess access{[this](const QString& name) { Open(name.toStdString()); },
                            [this] {
                              if (listBroken_) throw EComPort(ceRegistryError, ENOENT);
                              return listed_;
                            }};
    return RunInProcess(args, *this, clock, stop, access);
  }

  // The frames the named port's adapters received.
  std::vector<std::vector<uint8_t>> Received(const std::string& port) const {
    std::vector<std::vector<uint8_t>> frames;
    for (const SimJournalEntry& entry : lines_.at(port)->journal())
      if (entry.direction == "RX") frames.push_back(entry.bytes);
    return frames;
  }

  int WrittenTo(const std::string& port) const { return lines_.at(port)->RequestsWritten(); }

  VirtualClock clock;
  TComStopEvent stop;
  std::vector<std::string> opened;  // the ports opened, in turn

  // TComLink: the line opened last.
  int WriteBytes(const void* buffer, int count) override {
    return Line().WriteBytes(buffer, count);
  }
  int PendingInputCount() override { return Line().PendingInputCount(); }
  std::string ReadBytes(int count) override { return Line().ReadBytes(count); }
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override {
    Line().WaitForEvent(events, stopEvent, timeoutMs);
  }
  bool Connected() const override { return current_ && current_->Connected(); }

 private:
  void Open(const std::string& port) {
    const auto line = lines_.find(port);
    if (line == lines_.end()) throw EComPort(ceOpenFailed, ENOENT);
    current_ = line->second.get();
    opened.push_back(port);
    if (onOpen_.count(port)) onOpen_[port]();
  }

  SimLink& Line() const {
    if (!current_) throw std::logic_error("a frame before any port was opened");
    return *current_;
  }

  std::vector<ComPortInfo> listed_;
  std::map<std::string, std::unique_ptr<SimLink>> lines_;
  std::map<std::string, std::function<void()>> onOpen_;
  SimLink* current_ = nullptr;
  bool listBroken_ = false;
};

// A line where no adapter answers.
SimLinkSetup Silent() {
  SimLinkSetup setup;
  setup.adapters.clear();
  return setup;
}

// The address search's read of parameter 1 from each address.
std::vector<std::vector<uint8_t>> SearchFrames(int from, int to) {
  std::vector<std::vector<uint8_t>> frames;
  for (int address = from; address <= to; ++address)
    frames.push_back(WithCrc(std::vector<uint8_t>{static_cast<uint8_t>(address), 3, 1, 1, 0, 2}));
  return frames;
}

QJsonArray JsonArrayOf(const std::string& text) {
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text));
  EXPECT_TRUE(document.isArray()) << text;
  return document.array();
}

const std::string kFtdi =
    "FTDI FT232R USB UART, s/n A10K3B2C, USB 0403:6001, "
    "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3B2C-if00-port0";

// Each port with whether it is busy or the kernel's console, and its
// description; the columns as wide as their longest word.
TEST(PortsCommand, ListsEachPortWithWhetherItIsBusyOrTheConsoleAndItsDescriptionOpeningNone) {
  SimulatedPorts system;
  system.Add({"COM1"}, SimLinkSetup{});
  system.Add({"COM5", "USB-SERIAL CH340 (COM5), USB 1a86:7523", true});
  system.Add({"ttyS0", "UART 16550A at 0x3F8", false, true}, SimLinkSetup{});
  system.Add({"ttyUSB0", kFtdi}, SimLinkSetup{});

  const Ran text = system.Run({"ports"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(Lines(text.out), (std::vector<std::string>{
                                 "COM1     free",
                                 "COM5     busy     USB-SERIAL CH340 (COM5), USB 1a86:7523",
                                 "ttyS0    console  UART 16550A at 0x3F8",
                                 "ttyUSB0  free     " + kFtdi,
                             }));

  const Ran json = system.Run({"--json", "ports"});
  EXPECT_EQ(json.code, 0) << json.err;
  const QJsonArray expected{
      QJsonObject{{"name", "COM1"}, {"description", ""}, {"busy", false}, {"console", false}},
      QJsonObject{{"name", "COM5"},
                  {"description", "USB-SERIAL CH340 (COM5), USB 1a86:7523"},
                  {"busy", true},
                  {"console", false}},
      QJsonObject{{"name", "ttyS0"},
                  {"description", "UART 16550A at 0x3F8"},
                  {"busy", false},
                  {"console", true}},
      QJsonObject{{"name", "ttyUSB0"},
                  {"description", QString::fromStdString(kFtdi)},
                  {"busy", false},
                  {"console", false}},
  };
  EXPECT_EQ(JsonArrayOf(json.out), expected);
  EXPECT_TRUE(system.opened.empty());
}

TEST(PortsCommand, TheCommandsOnTheSystemsListFailWhenItCannotBeRead) {
  const QStringList cases[] = {
      {"ports"}, {"--json", "ports"}, {"scan", "--all-ports"}, {"--json", "scan", "--all-ports"}};
  for (const QStringList& args : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    SimulatedPorts system;
    system.Add({"COM1"}, SimLinkSetup{});
    system.BreakList();
    const Ran broken = system.Run(args);
    EXPECT_EQ(broken.code, 1);
    const std::string error = "Registry error (win error code: " + std::to_string(ENOENT) + ")";
    // In JSON mode the failure is its error object alone.
    EXPECT_EQ(broken.out,
              args.contains("--json") ? "{\"error\":\"" + error + "\",\"exit\":1}\n" : "");
    EXPECT_EQ(broken.err, error + "\n");
    EXPECT_TRUE(system.opened.empty());
  }
}

// The port's own search on every free port in turn: the same frames as a
// scan of each; a busy port, the kernel's console and one that does not
// open are skipped with a note, and get no frame.
TEST(ScanAllPorts, SearchesEveryFreePortAndPrintsWhereAnAdapterAnswered) {
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    SimulatedPorts system;
    system.Add({"COM1"}, SimulatorSetup({"--address", "17"}));
    system.Add({"COM2"}, Silent());
    system.Add({"COM3", "", true}, SimulatorSetup({"--address", "3"}));
    system.Add({"COM4"});
    system.Add({"ttyS0", "UART 16550A at 0x3F8", false, true}, SimulatorSetup({"--address", "1"}));
    system.Add({"ttyUSB0", kFtdi}, SimulatorSetup({"--address", "5"}));
    QStringList args{"scan", "--all-ports", "--to", "20"};
    if (json) args.prepend("--json");

    const Ran ran = system.Run(args);
    EXPECT_EQ(ran.code, 0) << ran.err;
    if (json) {
      EXPECT_EQ(JsonArrayOf(ran.out),
                (QJsonArray{QJsonObject{{"port", "COM1"}, {"address", 17}},
                            QJsonObject{{"port", "ttyUSB0"}, {"address", 5}}}));
    } else {
      EXPECT_EQ(ran.out, "COM1 17\nttyUSB0 5\n");
    }
    const std::vector<std::string> notes = Lines(ran.err);
    ASSERT_EQ(notes.size(), 3u) << ran.err;
    EXPECT_EQ(notes[0], "tl8ctl: COM3 is busy, skipped");
    EXPECT_EQ(notes[1], "tl8ctl: COM4 skipped: Unable to open com port (win error code: " +
                            std::to_string(ENOENT) + ")");
    EXPECT_EQ(notes[2], "tl8ctl: ttyS0 is the system console, skipped");
    EXPECT_EQ(system.opened, (std::vector<std::string>{"COM1", "COM2", "ttyUSB0"}));
    EXPECT_EQ(system.Received("COM1"), SearchFrames(1, 17));
    EXPECT_EQ(system.Received("COM2"), SearchFrames(1, 20));
    EXPECT_EQ(system.WrittenTo("COM3"), 0);
    EXPECT_EQ(system.WrittenTo("ttyS0"), 0);
    EXPECT_EQ(system.Received("ttyUSB0"), SearchFrames(1, 5));
  }
}

TEST(ScanAllPorts, FailsWhenNoAdapterAnsweredOnAnyPort) {
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    SimulatedPorts system;
    system.Add({"COM1"}, Silent());
    system.Add({"COM2", "", true}, SimulatorSetup({"--address", "2"}));
    QStringList args{"scan", "--all-ports", "--from", "1", "--to", "4"};
    if (json) args.prepend("--json");

    const Ran ran = system.Run(args);
    EXPECT_EQ(ran.code, 1);
    EXPECT_EQ(ran.out, json ? "{\"error\":\"Нет ответа от адаптера\",\"exit\":1}\n" : "");
    EXPECT_EQ(ran.err, "tl8ctl: COM2 is busy, skipped\nНет ответа от адаптера\n");
    EXPECT_EQ(system.Received("COM1"), SearchFrames(1, 4));
  }
}

// Ctrl-C stops the search after the frame in flight, and no port opens after
// it: neither while a frame is on its way nor once a port's search is over.
TEST(ScanAllPorts, CtrlCStopsAfterTheFrameInFlight) {
  const struct {
    const char* when;
    std::chrono::milliseconds after;  // the port opened
    std::string out;
  } cases[] = {
      {"the first frame going out", 5ms, ""},
      {"the adapter found, the line falling silent", 60ms, "COM1 1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    SimulatedPorts system;
    system.Add({"COM1"}, SimulatorSetup({"--address", "1"}));
    system.Add({"COM2"}, SimulatorSetup({"--address", "2"}));
    system.OnOpen("COM1", [&system, after = c.after] {
      system.clock.At(system.clock.Now() + after, [&system] { system.stop.Signal(); });
    });

    const Ran ran = system.Run({"scan", "--all-ports"});
    EXPECT_EQ(ran.code, 130);
    EXPECT_EQ(ran.out, c.out);
    EXPECT_EQ(ran.err, "tl8ctl: stopped\n");
    EXPECT_EQ(system.WrittenTo("COM1"), 1);
    EXPECT_EQ(system.opened, std::vector<std::string>{"COM1"});
  }
}

TEST(ScanAllPorts, ThePortsCommandsRefuseWhatTheyCannotUseAndOpenNothing) {
  const std::pair<QStringList, std::string> cases[] = {
      {{"--port", "COM1", "scan", "--all-ports"},
       "tl8ctl: --all-ports searches every port: --port cannot name one"},
      {{"ports", "COM1"}, "tl8ctl: ports takes no argument"},
      {{"ports", "--all-ports"}, "tl8ctl: unknown option --all-ports for ports"},
      {{"read", "--all-ports"}, "tl8ctl: unknown option --all-ports for read"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    SimulatedPorts system;
    system.Add({"COM1"}, SimLinkSetup{});
    const Ran ran = system.Run(args);
    EXPECT_EQ(ran.code, 2);
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.err, message + "\nTry 'tl8ctl --help'.\n");
    EXPECT_TRUE(system.opened.empty());
  }
}

}  // namespace
}  // namespace tl8test
