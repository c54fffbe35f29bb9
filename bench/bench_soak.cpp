// Soak run: service cycles (read all parameters, write them back with one
// value changed, read them back) against the adapter simulator, with a small
// random rate of line faults. Every failure must be explained by a fault
// injected in its cycle, or by the adapter memory an earlier interrupted
// write left behind; a read the tool took as good that differs from the
// adapter's memory is never explained. Unexplained failures make the exit
// code nonzero.
//
//   bench_soak [--cycles N] [--rate R] [--seed S] [--pty]
//
// By default 10000 cycles on the in-process simulated line in virtual time;
// --pty runs them (100 unless --cycles says otherwise) against tl8sim on a
// pseudo-terminal in real time. A fault hits one request of its cycle, chosen
// at random; the line vanishing is placed on the simulated line only.

#include "modbus/number_text.h"
#include "modbus/params.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/sim_process.h"
#include "tests/support/sim_session.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>

namespace {

using tl8test::SimLink;

constexpr int kReadPauseMs = 50;  // after each parameter, as a read on request
// The fixed delays of one cycle: a read is the probe (50 ms) and sixteen
// parameters (100 + 20 ms and the pause); a write the address register
// (50 + 10 ms) and sixteen parameters (80 + 20 ms and a 50 ms pause).
constexpr double kReadDelaysMs = 50 + 16 * (100 + 20 + kReadPauseMs);
constexpr double kWriteDelaysMs = 50 + 10 + 16 * (80 + 20 + 50);
constexpr double kCycleDelaysMs = 2 * kReadDelaysMs + kWriteDelaysMs;
// Requests of a cycle on a sound line: 17 + 17 + 17.
constexpr int kCycleRequests = 51;

// The faults drawn from: a simulator rule (with nth= added) or the line.
struct FaultKind {
  const char* name;
  const char* rule;  // null: the line vanishes
  SimLink::LineLoss loss = SimLink::LineLoss::InRead;
};

const FaultKind kFaultKinds[] = {
    {"silent", "silent"},
    {"late", "late:200"},
    {"noise", "noise"},
    {"badcrc", "badcrc"},
    {"truncate", "truncate"},
    {"short", "short"},
    {"exception", "exception:4"},
    {"oversize", "oversize"},
    {"twin", "twin"},
    {"line gone in a read", nullptr, SimLink::LineLoss::InRead},
    {"line gone in a write", nullptr, SimLink::LineLoss::InWrite},
};
constexpr size_t kRuleKinds = 9;  // the first nine are simulator rules

enum class Failure {
  NoAdapter,
  ReadFailed,
  ReadChecksum,
  WriteNotAcknowledged,
  ReadBackFailed,
  ReadBackChecksum,
  ReadBackDiffers,
  PortError,
  SilentlyWrongRead,
};

const char* NameOf(Failure f) {
  switch (f) {
    case Failure::NoAdapter:
      return "no adapter (probe)";
    case Failure::ReadFailed:
      return "read: parameter failed twice";
    case Failure::ReadChecksum:
      return "read: checksum error";
    case Failure::WriteNotAcknowledged:
      return "write: not acknowledged";
    case Failure::ReadBackFailed:
      return "read back: parameter failed twice";
    case Failure::ReadBackChecksum:
      return "read back: checksum error";
    case Failure::ReadBackDiffers:
      return "read back: not what was written";
    case Failure::PortError:
      return "port error";
    case Failure::SilentlyWrongRead:
      return "read taken as good but wrong";
  }
  return "?";
}

struct Options {
  long cycles = 10000;
  double rate = 0.02;
  unsigned seed = 0;
  bool pty = false;
};

std::optional<Options> Parse(int argc, char** argv) {
  Options o;
  bool cyclesGiven = false;
  o.seed = static_cast<unsigned>(std::random_device{}());
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--pty") {
      o.pty = true;
    } else if (arg == "--cycles" && hasValue) {
      o.cycles = std::stol(argv[++i]);
      cyclesGiven = true;
    } else if (arg == "--rate" && hasValue) {
      o.rate = std::stod(argv[++i]);
    } else if (arg == "--seed" && hasValue) {
      o.seed = static_cast<unsigned>(std::stoul(argv[++i]));
    } else {
      return std::nullopt;
    }
  }
  if (o.pty && !cyclesGiven) o.cycles = 100;
  return o;
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

long CurrentRssKb() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

using Memory = std::array<std::array<std::uint8_t, 4>, 16>;

// The adapter behind the session: its memory, and a fresh line for a cycle
// with at most one fault on it.
class Adapter {
 public:
  virtual ~Adapter() = default;
  virtual Session& session() = 0;
  virtual void NewCycle(const FaultKind* fault, int request) = 0;
  virtual Memory memory() = 0;
  // Whether the cycle's fault met a request (a rule's nth may lie beyond
  // the cycle's last one).
  virtual bool FaultHit() = 0;
  virtual double LineMs() const = 0;  // the time the session's clock has run
};

Memory MemoryOf(const tl8test::SimState& state) { return state.params; }

// The simulated line in virtual time: each cycle a new line on the memory
// the last one left.
class SimulatedAdapter final : public Adapter {
 public:
  Session& session() override { return sim_.session; }
  void NewCycle(const FaultKind* fault, int request) override {
    tl8test::SimLinkSetup setup;
    setup.adapters = {sim_.link().memory(1)};
    if (fault && fault->rule) setup.faults = {fault->rule + (",nth=" + std::to_string(request))};
    sim_.Restart(setup);
    if (fault && !fault->rule) sim_.link().VanishAt(request, fault->loss);
    sim_.session.Exchange().DeviceAddress = 1;
  }
  Memory memory() override { return MemoryOf(sim_.State(1)); }
  bool FaultHit() override {
    if (!sim_.link().Connected()) return true;
    for (const std::string& line : sim_.link().journalLines())
      if (line.find("fault ") != std::string::npos) return true;
    return false;
  }
  double LineMs() const override {
    return std::chrono::duration<double, std::milli>(sim_.clock.Now()).count();
  }

 private:
  tl8test::SimSession sim_;
};

// tl8sim on a pseudo-terminal: each cycle a new simulator process on the
// state file the last one left, and the port opened on it.
class ProcessAdapter final : public Adapter {
 public:
  ProcessAdapter() : statePath_(dir_.filePath(QStringLiteral("state.txt")).toStdString()) {}
  Session& session() override { return session_; }
  void NewCycle(const FaultKind* fault, int request) override {
    port_.ClosePort();
    std::vector<std::string> args = {"--state", statePath_};
    if (fault && fault->rule)
      args.insert(args.end(), {"--fault", fault->rule + (",nth=" + std::to_string(request))});
    sim_.reset();
    sim_ = std::make_unique<tl8test::SimProcess>(args);
    port_.SetPort(sim_->port());
    port_.OpenPort();
    session_.TalkTo(1);
  }
  Memory memory() override { return MemoryOf(sim_->state()); }
  bool FaultHit() override {
    for (const tl8test::SimJournalEntry& entry : sim_->journal())
      if (entry.note.find("fault ") != std::string::npos) return true;
    return false;
  }
  double LineMs() const override {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
        .count();
  }

 private:
  QTemporaryDir dir_;  // the adapter's memory outlives every cycle's simulator
  std::string statePath_;
  TComPort port_;
  Session session_{port_};
  std::unique_ptr<tl8test::SimProcess> sim_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

Memory RawRead(const Session& s) {
  Memory raw{};
  for (int i = 1; i <= 16; ++i)
    for (int b = 0; b < 4; ++b) raw[i - 1][b] = s.Params().ParamRaw[4 * i + b];
  return raw;
}

// Reads everything as the command line's read does. A read the tool takes
// as complete must match the adapter's memory byte for byte.
std::optional<Failure> ReadAll(Adapter& adapter, bool readBack) {
  Session& s = adapter.session();
  s.Params().ReadFailed = 0;
  if (!AnsweredWithRetry(
          s, [&s] { s.Requests().ReadParameter(1); }, RetryPause::AfterRetry))
    return Failure::NoAdapter;
  if (!ReadAllParameters(
          s, [](const ParameterReading&) {}, kReadPauseMs))
    return readBack ? Failure::ReadBackFailed : Failure::ReadFailed;
  if (RawRead(s) != adapter.memory()) return Failure::SilentlyWrongRead;
  if (!ChecksumVerify(s.Params(), s.Exchange()))
    return readBack ? Failure::ReadBackChecksum : Failure::ReadChecksum;
  return std::nullopt;
}

// Writes back what was read with parameter 3 set to `value`.
std::optional<Failure> WriteAll(Session& s, const QString& value) {
  ImageTexts texts{{{3, value}},
                   SerialNumberText(s.Exchange().SerialNumber),
                   QStringLiteral("1"),
                   QDateTime::currentDateTime()};
  if (!BuildParamImage(texts, s.Params(), s.Exchange())) return Failure::WriteNotAcknowledged;
  if (!WriteAddressRegister(s, 1) || !WriteAllParameters(s, [](int) {}))
    return Failure::WriteNotAcknowledged;
  return std::nullopt;
}

// One cycle; the first failure ends it.
std::optional<Failure> Cycle(Adapter& adapter, long n) {
  Session& s = adapter.session();
  try {
    std::optional<Failure> failure = ReadAll(adapter, false);
    // A checksum error still leaves values to write: the write repairs it.
    if (failure && failure != Failure::ReadChecksum) return failure;
    const QString value = n % 2 ? QStringLiteral("17") : QStringLiteral("16");
    if (const auto written = WriteAll(s, value)) return written;
    if (const auto readBack = ReadAll(adapter, true)) return readBack;
    if (s.Params().ParamText[3] != value + ".0000") return Failure::ReadBackDiffers;
    return failure;
  } catch (const EComPort&) {
    return Failure::PortError;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::optional<Options> options = Parse(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: bench_soak [--cycles N] [--rate R] [--seed S] [--pty]\n");
    return 2;
  }
  const long rssStart = CurrentRssKb();
  const long peakStart = PeakRssKb();
  std::printf("soak: %ld cycles on %s, fault rate %.3f per cycle, seed %u\n", options->cycles,
              options->pty ? "tl8sim on a pseudo-terminal (real time)"
                           : "the simulated line (virtual time)",
              options->rate, options->seed);
  std::mt19937 random(options->seed);
  std::bernoulli_distribution faulty(options->rate);
  const size_t kinds = options->pty ? kRuleKinds : std::size(kFaultKinds);
  std::uniform_int_distribution<size_t> kindOf(0, kinds - 1);
  std::uniform_int_distribution<int> requestOf(1, kCycleRequests);

  std::unique_ptr<Adapter> adapter;
  if (options->pty)
    adapter = std::make_unique<ProcessAdapter>();
  else
    adapter = std::make_unique<SimulatedAdapter>();

  std::map<std::string, long> injected;
  std::map<Failure, long> failures;
  long unexplained = 0;
  long hits = 0;              // faults that met a request
  bool lastWriteCut = false;  // the adapter's memory may hold a mixed image
  const auto wallStart = std::chrono::steady_clock::now();
  const double lineStart = adapter->LineMs();
  long rssWarm = 0;  // after the first tenth of the cycles, once allocations have settled
  for (long n = 0; n < options->cycles; ++n) {
    if (n == options->cycles / 10) rssWarm = CurrentRssKb();
    const FaultKind* fault = faulty(random) ? &kFaultKinds[kindOf(random)] : nullptr;
    adapter->NewCycle(fault, requestOf(random));
    if (fault) ++injected[fault->name];
    const std::optional<Failure> failure = Cycle(*adapter, n);
    if (fault && adapter->FaultHit()) ++hits;
    if (!failure) {
      lastWriteCut = false;
      continue;
    }
    ++failures[*failure];
    const bool leftover = lastWriteCut && *failure == Failure::ReadChecksum;
    const bool explained =
        *failure != Failure::SilentlyWrongRead && ((fault && adapter->FaultHit()) || leftover);
    if (!explained) {
      ++unexplained;
      std::printf("unexplained: cycle %ld, %s, fault %s\n", n, NameOf(*failure),
                  fault ? fault->name : "none");
    }
    // A write cut short, or a port error at any point, may leave a mix.
    lastWriteCut = *failure != Failure::NoAdapter && *failure != Failure::ReadFailed;
  }
  const double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
          .count();
  const double lineMs = adapter->LineMs() - lineStart;
  adapter.reset();

  long failed = 0;
  for (const auto& [kind, count] : failures) failed += count;
  long faults = 0;
  for (const auto& [kind, count] : injected) faults += count;
  std::printf(
      "cycles %ld, faults drawn %ld (met a request: %ld), cycles failed %ld, unexplained %ld\n",
      options->cycles, faults, hits, failed, unexplained);
  std::printf("faults drawn by kind:\n");
  for (const auto& [kind, count] : injected) std::printf("  %-28s %6ld\n", kind.c_str(), count);
  std::printf("failures by kind:\n");
  for (const auto& [kind, count] : failures) std::printf("  %-34s %6ld\n", NameOf(kind), count);
  const double cycles = static_cast<double>(options->cycles);
  std::printf("per cycle: fixed delays %.0f ms, %s time %.1f ms (%+.2f%%), wall time %.3f ms\n",
              kCycleDelaysMs, options->pty ? "line (real)" : "virtual", lineMs / cycles,
              100 * (lineMs / cycles / kCycleDelaysMs - 1), wallMs / cycles);
  std::printf(
      "RSS: current %ld kB at start, %ld kB after a tenth of the cycles, %ld kB at end; peak %ld "
      "kB "
      "at start, %ld kB at end\n",
      rssStart, rssWarm, CurrentRssKb(), peakStart, PeakRssKb());
  return unexplained == 0 ? 0 : 1;
}
