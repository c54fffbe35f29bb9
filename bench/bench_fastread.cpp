// tl8ctl's reads at the fixed pace and at the line's own speed (--fast), side
// by side in one run against the adapter simulator on a pseudo-terminal: the
// whole run of each command (port opened, read, port closed) in the
// benchmark's process, and the --fast read once more as the program a script
// starts. Beside them the time the bytes of the exchange take on a 9600 bit/s
// 8N1 line, and whether each fast command printed exactly what its paced twin
// printed. The goal: a fast 16-parameter read within 1.5 times the line time.

#include "cli/commands.h"
#include "cli/report.h"
#include "cli/run.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/sim_process.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kByteMs = 10 * 1000.0 / 9600;  // start, 8 data and stop bits
// Request and answer bytes: the probe (8 + 19), a parameter read and the
// search's read (8 + 9 each).
constexpr int kProbeBytes = 8 + 19;
constexpr int kReadBytes = 8 + 9;
constexpr int kAdapterReadBytes = kProbeBytes + 16 * kReadBytes;  // 299
constexpr int kRounds = 3;

class StringConsole final : public Console {
 public:
  void Out(const QString& text) override { out += text; }
  void Err(const QString& text) override { err += text; }
  bool ErrIsTerminal() const override { return false; }

  QString out;
  QString err;
};

struct Run {
  double ms = 0;
  int code = -1;
  QString out;
};

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One whole tl8ctl run in this process, on a port of its own, as the program
// opens it.
Run RunInProcess(const std::string& line, QStringList args) {
  args.prepend(QString::fromStdString(line));
  args.prepend(QStringLiteral("--port"));
  StringConsole console;
  TComPort port;
  Session session(port);
  const auto start = Clock::now();
  const PortAccess ports{
      [&port](const QString& name) { OpenAdapterLine(port, name.toStdString()); },
      [] { return std::vector<ComPortInfo>{}; }, nullptr};
  const int code = RunTl8ctl(args, console, session, ports);
  port.ClosePort();
  return {MsSince(start), code, console.out};
}

// The program itself, from its start to its exit.
Run RunProgram(const std::string& line, const QStringList& args) {
  QProcess program;
  const auto start = Clock::now();
  program.start(QCoreApplication::applicationDirPath() + "/tl8ctl",
                QStringList{"--port", QString::fromStdString(line)} + args);
  const bool ended = program.waitForFinished(60'000);
  const double ms = MsSince(start);
  return {ms, ended ? program.exitCode() : -1, QString::fromUtf8(program.readAllStandardOutput())};
}

// The median of `rounds` runs; the code and output of the last; a failed run
// is told.
Run Median(int rounds, const std::function<Run()>& run) {
  std::vector<double> ms;
  Run last;
  for (int i = 0; i < rounds; ++i) {
    last = run();
    if (last.code != 0) return last;
    ms.push_back(last.ms);
  }
  std::sort(ms.begin(), ms.end());
  last.ms = ms[ms.size() / 2];
  return last;
}

void Row(const char* what, const Run& run, double lineMs, const Run* paced) {
  const QString same = !paced ? "" : run.out == paced->out ? "yes" : "NO";
  std::printf("%-52s %9.1f %9s %9s %6s %5d\n", what, run.ms,
              lineMs > 0 ? QByteArray::number(lineMs, 'f', 1).constData() : "-",
              lineMs > 0 ? QByteArray::number(run.ms / lineMs, 'f', 2).constData() : "-",
              same.toUtf8().constData(), run.code);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // Three adapters at the start of the line, at 1, 2 and 3.
  const tl8test::SimProcess sim({"--adapter", "2", "--adapter", "3"});
  const std::string& line = sim.port();
  const auto inProcess = [&line](QStringList args) {
    return [&line, args] { return RunInProcess(line, args); };
  };

  const double readLineMs = kAdapterReadBytes * kByteMs;
  const double inventoryLineMs = 3 * (kReadBytes + kAdapterReadBytes) * kByteMs;
  std::printf("simulator on %s, adapters at 1, 2, 3; median of %d runs where it says so\n",
              line.c_str(), kRounds);
  std::printf("%-52s %9s %9s %9s %6s %5s\n", "run", "wall ms", "line ms", "x line", "same", "exit");
  const Run read = Median(kRounds, inProcess({"read"}));
  Row("read (median)", read, readLineMs, nullptr);
  Row("read --fast (median)", Median(kRounds, inProcess({"read", "--fast"})), readLineMs, &read);
  const Run jsonRead = Median(1, inProcess({"--json", "read"}));
  Row("--json read --fast", Median(1, inProcess({"--json", "read", "--fast"})), readLineMs,
      &jsonRead);
  Row("read --fast, the program from start to exit (median)",
      Median(kRounds,
             [&line] {
               return RunProgram(line, {"read", "--fast"});
             }),
      readLineMs, &read);
  const Run inventory = Median(1, inProcess({"inventory", "--to", "3"}));
  Row("inventory --to 3", inventory, inventoryLineMs, nullptr);
  Row("inventory --to 3 --fast", Median(1, inProcess({"inventory", "--to", "3", "--fast"})),
      inventoryLineMs, &inventory);
  const Run whole = Median(1, inProcess({"inventory"}));
  Row("inventory (1..247)", whole, 0, nullptr);
  Row("inventory --fast (1..247)", Median(1, inProcess({"inventory", "--fast"})), 0, &whole);
  std::printf(
      "line ms: the bytes of probe and 16 reads (%d bytes) per adapter, and of the "
      "search's read that found it,\nat 9600 bit/s 8N1; the search's unanswered "
      "addresses wait out their silence at any speed\n",
      kAdapterReadBytes);
  return 0;
}
