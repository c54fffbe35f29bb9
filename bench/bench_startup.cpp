// Start-up of the tool: time from process start to the start-up question and
// the peak memory by then. Each round is a fresh process (this program run
// again with --once) that builds the tool's windows exactly as the tool does,
// with boxes that note the moment the question appears and answer "No".
// Prints figures; asserts nothing.

#include "app/toolwindows.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "ui/boxes.h"

#include <QApplication>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Milliseconds since this process started, from the kernel's start time.
double MsSinceProcessStart() {
  FILE* stat = std::fopen("/proc/self/stat", "r");
  unsigned long long startTicks = 0;
  if (stat) {
    // Field 22 is the start time in clock ticks since boot; the command name
    // (field 2) has no blanks here.
    std::fscanf(
        stat,
        "%*d %*s %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
        &startTicks);
    std::fclose(stat);
  }
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
  return nowMs - startTicks * 1000.0 / sysconf(_SC_CLK_TCK);
}

class TimingBoxes final : public Boxes {
 public:
  void Message(const QString&, BoxIcon, std::optional<QPoint>, const QString&) override {}
  BoxAnswer Question(const QString&, std::optional<QPoint>) override {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.1f %ld\n", MsSinceProcessStart(), usage.ru_maxrss);
    std::fflush(stdout);
    return BoxAnswer::No;
  }
  std::optional<QString> SaveFileName(const QString&, const QString&, const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> OpenFileName(const QString&) override { return std::nullopt; }
  int Exec(QDialog&) override { return 0; }
};

int RunOnce(int argc, char* argv[]) {
  QApplication application(argc, argv);
  SetApplicationTitle(ApplicationTitleFromPath(QString::fromLocal8Bit(argv[0])));
  TimingBoxes boxes;
  SetBoxes(&boxes);
  {
    TComPort port;
    Session session{port};
    ToolWindows windows(session, port);
  }
  SetBoxes(nullptr);
  return 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc > 1 && std::string(argv[1]) == "--once") return RunOnce(argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int rounds = 20;
  std::vector<double> ms, kb;
  for (int i = 0; i < rounds; ++i) {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
      dup2(fds[1], STDOUT_FILENO);
      const int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, STDERR_FILENO);
      execl("/proc/self/exe", argv[0], "--once", nullptr);
      _exit(127);
    }
    close(fds[1]);
    char line[128] = {};
    const ssize_t got = read(fds[0], line, sizeof line - 1);
    close(fds[0]);
    waitpid(child, nullptr, 0);
    double t = 0;
    long rss = 0;
    if (got > 0 && std::sscanf(line, "%lf %ld", &t, &rss) == 2) {
      ms.push_back(t);
      kb.push_back(static_cast<double>(rss));
    }
  }
  if (ms.empty()) {
    std::puts("no round reached the start-up question");
    return 1;
  }
  std::printf(
      "start-up question after: median %.1f ms, min %.1f ms, max %.1f ms (%zu rounds, %s "
      "platform)\n",
      Median(ms), *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()),
      ms.size(), std::getenv("QT_QPA_PLATFORM"));
  std::printf("peak memory by then: median %.0f KiB\n", Median(kb));
  return 0;
}
