// scan --all-ports on 1 and on 3 silent ports (pseudo-terminals nobody
// answers on): every port is a bus of its own and the ports are searched at
// once, so 3 ports should cost about what 1 costs (about 20 s: 247 addresses
// and their 80 ms of silence each). The whole run of the command in the
// benchmark's process, on the system's ports as the program opens them (the
// list is the terminals); and, as root, the program itself from start to
// exit in a mount namespace whose /dev holds only /dev/pts and the links
// COM1..COMn to the terminals (the machine's own serial ports, listed from
// sysfs, are then not there to be opened, and its console never is).
//
//   bench_allports [N...]   the numbers of ports (default: 1 3)

#include "cli/commands.h"
#include "cli/report.h"
#include "cli/run.h"
#include "cli/system_ports.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/pty_pair.h"

#include <QCoreApplication>
#include <QProcess>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

class QuietConsole final : public Console {
 public:
  void Out(const QString& text) override { out += text; }
  void Err(const QString& text) override { err += text; }
  bool ErrIsTerminal() const override { return false; }

  QString out;
  QString err;
};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Run {
  double seconds = 0;
  int code = -1;
};

// The command's whole run in this process; the list holds the terminals.
Run InProcess(const std::vector<std::unique_ptr<PtyPair>>& lines) {
  QuietConsole console;
  TComPort port;
  Session session(port);
  TComStopEvent stop;
  session.SetStopEvent(&stop);
  PortAccess ports = SystemPortAccess(port, &stop);
  ports.list = [&lines] {
    std::vector<ComPortInfo> listed;
    for (const auto& line : lines) listed.push_back({line->SlavePath()});
    return listed;
  };
  const auto start = Clock::now();
  const int code = RunTl8ctl(QStringList{"scan", "--all-ports"}, console, session, ports);
  return {SecondsSince(start), code};
}

// The program in a private /dev with the links COM1..COMn to the terminals.
Run Program(const std::vector<std::unique_ptr<PtyPair>>& lines) {
  QString script = QStringLiteral(
      "set -e; keep=$(mktemp -d); mount --rbind /dev/pts \"$keep\"; "
      "mount -t tmpfs -o mode=755 tmpfs /dev; mkdir /dev/pts; mount --move \"$keep\" /dev/pts; ");
  for (size_t i = 0; i < lines.size(); ++i)
    script += QStringLiteral("ln -s %1 /dev/COM%2; ")
                  .arg(QString::fromStdString(lines[i]->SlavePath()))
                  .arg(i + 1);
  script += QStringLiteral("exec \"$0\" scan --all-ports");
  QProcess program;
  const auto start = Clock::now();
  program.start("unshare", {"--mount", "--propagation", "private", "sh", "-c", script,
                            QCoreApplication::applicationDirPath() + "/tl8ctl"});
  const bool ended = program.waitForFinished(300'000);
  return {SecondsSince(start), ended ? program.exitCode() : -1};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {1, 3};
  const bool root = ::geteuid() == 0;
  std::printf("scan --all-ports on silent pseudo-terminals (exit 1: nobody answered)\n");
  std::printf("%6s %22s %6s %22s %6s\n", "ports", "in process, s", "exit", "the program, s",
              "exit");
  for (int count : counts) {
    std::vector<std::unique_ptr<PtyPair>> lines;
    for (int i = 0; i < count; ++i) lines.push_back(std::make_unique<PtyPair>());
    const Run inProcess = InProcess(lines);
    const Run program = root ? Program(lines) : Run{};
    std::printf("%6d %22.2f %6d %22s %6s\n", count, inProcess.seconds, inProcess.code,
                root ? QByteArray::number(program.seconds, 'f', 2).constData() : "(needs root)",
                root ? QByteArray::number(program.code).constData() : "-");
  }
  return 0;
}
