// tl8ctl's ports, and scan and inventory --all-ports, each run whole
// (cli/run.h) in the test's process: the system's list is the test's own, and
// each port that opens is a simulated line in virtual time, on a clock of its
// own: the ports run at once on threads of their own, as in the program.
// Where the order of events between ports matters, a port's thread waits for
// another's (a bounded wait that only a run taking the ports in turn would
// exhaust). tests/cli/tl8ctl_test.cpp runs scan --all-ports through the
// program itself.

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
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

namespace tl8test {
namespace {

using namespace std::chrono_literals;

// As long as a busy machine may take to run a few searches in virtual time.
constexpr auto kPatience = 30s;

// A line where no adapter answers.
SimLinkSetup Silent() {
  SimLinkSetup setup;
  setup.adapters.clear();
  return setup;
}

// The system as the test makes it: the ports its list shows, and behind each
// port that opens a simulated line on a virtual clock of its own.
class SimulatedPorts {
 public:
  // A port of the list; with `line`, a simulated line that opens behind it.
  void Add(ComPortInfo port, std::optional<SimLinkSetup> line = std::nullopt) {
    if (line) lines_[port.name] = std::make_shared<Line>(std::move(*line));
    listed_.push_back(std::move(port));
  }
  // One more name of the port `first` (a COMn link to it): the same line.
  void AddName(ComPortInfo port, const std::string& first) {
    lines_[port.name] = lines_.at(first);
    listed_.push_back(std::move(port));
  }

  // The system's list cannot be read from now on.
  void BreakList() { listBroken_ = true; }
  // Runs `action` on the port's thread just before its `request`th request
  // goes out (1: the first).
  void BeforeRequest(const std::string& port, int request, std::function<void()> action) {
    lines_.at(port)->before[request] = std::move(action);
  }

  // Waits until the port has been opened and closed again; false when that
  // did not happen in time.
  bool WaitUntilClosed(const std::string& port) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return closed_.count(port) > 0; });
  }

  Ran Run(const QStringList& args) {
    const PortAccess access{
        [](const QString&) { throw std::logic_error("the ports' commands name no port"); },
        [this] {
          if (listBroken_) throw EComPort(ceRegistryError, ENOENT);
          return listed_;
        },
        [this](const QString& name) { return Open(name.toStdString()); }};
    return RunInProcess(args, idle_, idleClock_, stop, access);
  }

  // The frames the named port's adapters received.
  std::vector<std::vector<uint8_t>> Received(const std::string& port) const {
    std::vector<std::vector<uint8_t>> frames;
    for (const SimJournalEntry& entry : lines_.at(port)->link.journal())
      if (entry.direction == "RX") frames.push_back(entry.bytes);
    return frames;
  }
  int WrittenTo(const std::string& port) const { return lines_.at(port)->link.RequestsWritten(); }
  // The ports opened so far.
  std::set<std::string> Opened() {
    const std::lock_guard lock(mutex_);
    return opened_;
  }

  TComStopEvent stop;

 private:
  struct Line {
    explicit Line(SimLinkSetup setup) : link(clock, std::move(setup)) {}
    VirtualClock clock;
    SimLink link;
    std::map<int, std::function<void()>> before;  // by request
    int openNames = 0;                            // under how many names it is open now
  };

  // A port open on its line, on the thread that opened it.
  class OpenLine final : public PortLine, public TComLink {
   public:
    OpenLine(SimulatedPorts& system, std::string name, Line& line)
        : system_(system), name_(std::move(name)), line_(line) {}
    ~OpenLine() override { system_.Closed(name_, line_); }

    TComLink& Link() override { return *this; }
    ExchangeClock& Clock() override { return line_.clock; }

    int WriteBytes(const void* buffer, int count) override {
      const auto action = line_.before.find(line_.link.RequestsWritten() + 1);
      if (action != line_.before.end()) action->second();
      return line_.link.WriteBytes(buffer, count);
    }
    int PendingInputCount() override { return line_.link.PendingInputCount(); }
    std::string ReadBytes(int count) override { return line_.link.ReadBytes(count); }
    void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override {
      line_.link.WaitForEvent(events, stopEvent, timeoutMs);
    }
    bool Connected() const override { return line_.link.Connected(); }

   private:
    SimulatedPorts& system_;
    std::string name_;
    Line& line_;
  };

  std::unique_ptr<PortLine> Open(const std::string& port) {
    const auto line = lines_.find(port);
    if (line == lines_.end()) throw EComPort(ceOpenFailed, ENOENT);
    const std::lock_guard lock(mutex_);
    opened_.insert(port);
    // Two names of one device are one bus: one exchange at a time there.
    if (line->second->openNames++ > 0) ADD_FAILURE() << port << " opened while open elsewhere";
    return std::make_unique<OpenLine>(*this, port, *line->second);
  }

  void Closed(const std::string& port, Line& line) {
    const std::lock_guard lock(mutex_);
    --line.openNames;
    closed_.insert(port);
    changed_.notify_all();
  }

  std::vector<ComPortInfo> listed_;
  std::map<std::string, std::shared_ptr<Line>> lines_;  // by port name
  bool listBroken_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::string> opened_;
  std::set<std::string> closed_;
  // The run's own session, which talks to no port in these commands.
  VirtualClock idleClock_;
  SimLink idle_{idleClock_, Silent()};
};

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
  EXPECT_TRUE(system.Opened().empty());
}

TEST(PortsCommand, TheCommandsOnTheSystemsListFailWhenItCannotBeRead) {
  const QStringList cases[] = {{"ports"},
                               {"--json", "ports"},
                               {"scan", "--all-ports"},
                               {"--json", "scan", "--all-ports"},
                               {"inventory", "--all-ports"}};
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
    EXPECT_TRUE(system.Opened().empty());
  }
}

// What `args` print on a single port whose line is `setup`: the lines of
// stdout, JSON error objects left out.
std::vector<std::string> OnePortsLines(const SimLinkSetup& setup,
                                       const std::vector<std::string>& args) {
  CtlOnSim ctl(setup);
  std::vector<std::string> lines;
  for (const std::string& line : Lines(ctl.Run(args).out))
    if (!line.starts_with("{\"error\"")) lines.push_back(line);
  return lines;
}

// The same, each line a port's: after its name, or in JSON with its "port".
std::vector<std::string> PortsLines(const std::string& port, const SimLinkSetup& setup,
                                    const std::vector<std::string>& args) {
  const bool json = args.front() == "--json";
  std::vector<std::string> lines;
  for (const std::string& line : OnePortsLines(setup, args)) {
    if (!json) {
      lines.push_back(port + ' ' + line);
      continue;
    }
    QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    object.insert("port", QString::fromStdString(port));
    lines.push_back(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
  }
  return lines;
}

template <class T>
std::vector<T> Joined(const std::vector<std::vector<T>>& parts) {
  std::vector<T> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Waits until the event is signalled; false when it was not in time.
bool WaitSignalled(const TComStopEvent& event) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!event.IsSignalled()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// The port's own search on every free port: the same frames as a scan of
// each. A busy port, the kernel's console and one that does not open are
// skipped with a note, and get no frame. Two names of one device are one
// line: searched under each name in turn, never both at once.
TEST(ScanAllPorts, SearchesEveryFreePortAndPrintsWhereAnAdapterAnswered) {
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    SimulatedPorts system;
    system.Add({"COM1"}, SimulatorSetup({"--address", "17"}));
    system.Add({"COM2"}, Silent());
    system.Add({"COM3", "", true}, SimulatorSetup({"--address", "3"}));
    system.Add({"COM4"});
    system.Add({"ttyS0", "UART 16550A at 0x3F8", false, true}, SimulatorSetup({"--address", "1"}));
    system.Add({"ttyUSB0", kFtdi, false, false, "/dev/ttyUSB0"},
               SimulatorSetup({"--address", "5"}));
    system.AddName({"COM9", "→ /dev/ttyUSB0", false, false, "/dev/ttyUSB0"}, "ttyUSB0");
    // Time enough for the other name to open too, were it a bus of its own.
    system.BeforeRequest("ttyUSB0", 2, [&system] {
      for (const char* port : {"COM1", "COM2"})
        if (!system.WaitUntilClosed(port)) ADD_FAILURE() << port << " did not end";
    });
    QStringList args{"scan", "--all-ports", "--to", "20"};
    if (json) args.prepend("--json");

    const Ran ran = system.Run(args);
    EXPECT_EQ(ran.code, 0) << ran.err;
    if (json) {
      EXPECT_EQ(JsonArrayOf(ran.out), (QJsonArray{QJsonObject{{"port", "COM1"}, {"address", 17}},
                                                  QJsonObject{{"port", "ttyUSB0"}, {"address", 5}},
                                                  QJsonObject{{"port", "COM9"}, {"address", 5}}}));
    } else {
      EXPECT_EQ(ran.out, "COM1 17\nttyUSB0 5\nCOM9 5\n");
    }
    EXPECT_EQ(Lines(ran.err),
              (std::vector<std::string>{
                  "tl8ctl: COM3 is busy, skipped",
                  "tl8ctl: COM4 skipped: Unable to open com port (win error code: " +
                      std::to_string(ENOENT) + ")",
                  "tl8ctl: ttyS0 is the system console, skipped",
              }));
    EXPECT_EQ(system.Opened(), (std::set<std::string>{"COM1", "COM2", "COM9", "ttyUSB0"}));
    EXPECT_EQ(system.Received("COM1"), SearchFrames(1, 17));
    EXPECT_EQ(system.Received("COM2"), SearchFrames(1, 20));
    EXPECT_EQ(system.WrittenTo("COM3"), 0);
    EXPECT_EQ(system.WrittenTo("ttyS0"), 0);
    EXPECT_EQ(system.Received("ttyUSB0"),
              Joined(std::vector{SearchFrames(1, 5), SearchFrames(1, 5)}));
  }
}

TEST(ScanAllPorts, FailsWhenNoAdapterAnsweredOnAnyPort) {
  for (const char* command : {"scan", "inventory"}) {
    for (const bool json : {false, true}) {
      SCOPED_TRACE(std::string(command) + (json ? " json" : " text"));
      SimulatedPorts system;
      system.Add({"COM1"}, Silent());
      system.Add({"COM2", "", true}, SimulatorSetup({"--address", "2"}));
      QStringList args{command, "--all-ports", "--from", "1", "--to", "4"};
      if (json) args.prepend("--json");

      const Ran ran = system.Run(args);
      EXPECT_EQ(ran.code, 1);
      EXPECT_EQ(ran.out, json ? "{\"error\":\"Нет ответа от адаптера\",\"exit\":1}\n" : "");
      EXPECT_EQ(ran.err, "tl8ctl: COM2 is busy, skipped\nНет ответа от адаптера\n");
      EXPECT_EQ(system.Received("COM1"), SearchFrames(1, 4));
    }
  }
}

// The ports run at once, and what each found is told in the order of the
// list, whatever order they end in: here the last port ends first, and each
// port waits, in the middle of its search, for the next one to end.
TEST(AllPorts, PortsRunAtOnceAndAreToldInTheListsOrder) {
  const std::vector<std::string> commands[] = {
      {"scan", "--all-ports"},
      {"inventory", "--all-ports", "--to", "3", "--fast"},
      {"--json", "inventory", "--all-ports", "--to", "3", "--fast"},
  };
  for (const std::vector<std::string>& command : commands) {
    QStringList args;
    for (const std::string& arg : command) args << QString::fromStdString(arg);
    SCOPED_TRACE(args.join(' ').toStdString());
    SimulatedPorts system;
    const std::pair<std::string, SimLinkSetup> ports[] = {
        {"COM1", SimulatorSetup({"--address", "3"})},
        {"COM2", SimulatorSetup({"--address", "2"})},
        {"COM3", SimulatorSetup({"--address", "1"})},
    };
    for (const auto& [name, setup] : ports) system.Add({name}, setup);
    for (const auto& pair : {std::pair{"COM1", "COM2"}, std::pair{"COM2", "COM3"}}) {
      // Named, not a structured binding: clang 14 lets no lambda take one.
      const char* waiting = pair.first;
      const char* awaited = pair.second;
      system.BeforeRequest(waiting, 2, [&system, waiting, awaited] {
        if (!system.WaitUntilClosed(awaited))
          ADD_FAILURE() << awaited << " did not end while " << waiting << " searched: the ports "
                        << "do not run at once";
      });
    }

    const Ran ran = system.Run(args);
    EXPECT_EQ(ran.code, 0) << ran.err;
    EXPECT_EQ(ran.err, "");
    if (command.front() == "scan") {
      EXPECT_EQ(ran.out, "COM1 3\nCOM2 2\nCOM3 1\n");
    } else {
      std::vector<std::string> inventory(command.begin(), command.end());
      inventory.erase(std::find(inventory.begin(), inventory.end(), "--all-ports"));
      std::vector<std::vector<std::string>> expected;
      for (const auto& [name, setup] : ports)
        expected.push_back(PortsLines(name, setup, inventory));
      EXPECT_EQ(Lines(ran.out), Joined(expected));
    }
  }
}

// inventory --all-ports prints each port's adapters as inventory does, after
// the port's name (JSON: with a "port" field), and ends as inventory does: a
// read that failed anywhere is exit code 1, with the port and the address.
TEST(AllPorts, InventoryOnEveryPortFailsForAReadThatFailedOnAny) {
  SimLinkSetup twoAdapters;
  twoAdapters.adapters = {FactoryAdapter(3), FactoryAdapter(17)};
  twoAdapters.faults = {"silent,addr=17,reg=265"};  // parameter 6 of 17, every time
  const std::pair<std::string, SimLinkSetup> ports[] = {
      {"COM1", twoAdapters},
      {"COM2", Silent()},
      {"COM3", SimulatorSetup({"--address", "5"})},
  };
  const std::string failure = "tl8ctl: the read failed at COM1 17 (1 of 3 adapters found)";
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    SimulatedPorts system;
    for (const auto& [name, setup] : ports) system.Add({name}, setup);
    std::vector<std::string> inventory{"inventory", "--to", "20", "--fast"};
    if (json) inventory.insert(inventory.begin(), "--json");
    QStringList args{"inventory", "--all-ports", "--to", "20", "--fast"};
    if (json) args.prepend("--json");

    const Ran ran = system.Run(args);
    EXPECT_EQ(ran.code, 1);
    std::vector<std::vector<std::string>> expected;
    for (const auto& [name, setup] : ports) expected.push_back(PortsLines(name, setup, inventory));
    if (json) expected.push_back({"{\"error\":\"" + failure + "\",\"exit\":1}"});
    EXPECT_EQ(Lines(ran.out), Joined(expected));
    EXPECT_EQ(ran.err, "tl8ctl: COM1: adapter 17: Сбой!\n" + failure + "\n");
    EXPECT_EQ(system.Received("COM2"), SearchFrames(1, 20));
  }
}

// Ctrl-C stops every port after its frame in flight: here the second port is
// writing its third request when the stop comes, the third port its second,
// and the first port has ended already: what it found is told, and then the
// stop.
TEST(AllPorts, CtrlCStopsEveryPortAfterItsFrameInFlight) {
  const std::vector<std::string> commands[] = {
      {"scan", "--all-ports"},
      {"inventory", "--all-ports", "--to", "9"},
  };
  for (const std::vector<std::string>& command : commands) {
    QStringList args;
    for (const std::string& arg : command) args << QString::fromStdString(arg);
    SCOPED_TRACE(args.join(' ').toStdString());
    SimulatedPorts system;
    system.Add({"COM1"}, SimulatorSetup({"--address", "1"}));
    system.Add({"COM2"}, SimulatorSetup({"--address", "5"}));
    system.Add({"COM3"}, SimulatorSetup({"--address", "9"}));
    TComStopEvent thirdWaits;  // COM3 is at its second request
    system.BeforeRequest("COM2", 3, [&system, &thirdWaits] {
      if (!system.WaitUntilClosed("COM1")) ADD_FAILURE() << "COM1 did not end";
      if (!WaitSignalled(thirdWaits)) ADD_FAILURE() << "COM3 did not get to its second request";
      system.stop.Signal();
    });
    system.BeforeRequest("COM3", 2, [&system, &thirdWaits] {
      thirdWaits.Signal();
      if (!WaitSignalled(system.stop)) ADD_FAILURE() << "no stop came";
    });

    const Ran ran = system.Run(args);
    EXPECT_EQ(ran.code, 130);
    const std::vector<std::string> first =
        command.front() == "scan"
            ? std::vector<std::string>{"COM1 1"}
            : PortsLines("COM1", SimulatorSetup({"--address", "1"}), {"inventory", "--to", "9"});
    EXPECT_EQ(Lines(ran.out), first);
    EXPECT_EQ(ran.err, "tl8ctl: stopped\n");
    EXPECT_EQ(system.WrittenTo("COM2"), 3);
    EXPECT_EQ(system.WrittenTo("COM3"), 2);
  }
}

TEST(AllPorts, ThePortsCommandsRefuseWhatTheyCannotUseAndOpenNothing) {
  const std::pair<QStringList, std::string> cases[] = {
      {{"--port", "COM1", "scan", "--all-ports"},
       "tl8ctl: --all-ports searches every port: --port cannot name one"},
      {{"inventory", "--all-ports", "--port", "COM1"},
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
    EXPECT_TRUE(system.Opened().empty());
  }
}

}  // namespace
}  // namespace tl8test
