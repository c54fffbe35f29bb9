// Linux side of the console: the stop handler (SIGINT, SIGTERM and SIGHUP,
// the terminal closed, which would otherwise end the process without closing
// its port or removing its lock file, with a self-pipe that carries the
// request on to the user-interface thread) and the output, UTF-8 everywhere.

#include "os/platform.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<TComStopEvent*> currentStopEvent{nullptr};
// Handlers between their first and last look at currentStopEvent; a stop
// event may be destroyed only once none of them can still hold it.
std::atomic<int> handlersRunning{0};
int wakeFds[2] = {-1, -1};         // self-pipe from the signal handler to the UI thread
std::function<void()> stopAction;  // touched on the UI thread only
bool installed = false;
struct sigaction previousActions[std::size(kStopSignals)];

void OnSignal(int) {
  const int savedErrno = errno;
  handlersRunning.fetch_add(1);
  if (TComStopEvent* stopEvent = currentStopEvent.load()) stopEvent->Signal();
  handlersRunning.fetch_sub(1);
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFds[1], &byte, 1);
  errno = savedErrno;
}

// Replaces the event the handler signals and returns once no handler on
// another thread can still be using the previous one.
void SwapStopEvent(TComStopEvent* stopEvent) {
  currentStopEvent.store(stopEvent);
  while (handlersRunning.load() != 0) sched_yield();
}

void RunStopActionOnUiThread() {
  char drain[64];
  while (read(wakeFds[0], drain, sizeof drain) > 0) {
  }
  if (stopAction) stopAction();
}

// A stop signal the process was started with ignored stays ignored: that is
// what `nohup` asks for SIGHUP, and a shell for SIGINT in a background job.
bool Ignored(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

void CreateWakePipeOnce() {
  if (wakeFds[0] >= 0) return;
  if (pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier =
      new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, RunStopActionOnUiThread);
}

}  // namespace

void RegisterConsoleHandler(TComStopEvent* stopEvent, std::function<void()> onStop) {
  CreateWakePipeOnce();
  SwapStopEvent(stopEvent);
  stopAction = std::move(onStop);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (!installed) sigaction(kStopSignals[i], nullptr, &previousActions[i]);
    if (!Ignored(previousActions[i])) sigaction(kStopSignals[i], &action, nullptr);
  }
  installed = true;
}

void UnregisterConsoleHandler(const TComStopEvent* stopEvent) {
  if (!installed || stopEvent != currentStopEvent.load()) return;
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    sigaction(kStopSignals[i], &previousActions[i], nullptr);
  installed = false;
  SwapStopEvent(nullptr);
  stopAction = nullptr;
  // A request the UI thread has not taken yet was this registration's: it
  // must not run the next one's onStop (close a window opened later).
  char drain[64];
  while (wakeFds[0] >= 0 && read(wakeFds[0], drain, sizeof drain) > 0) {
  }
}

namespace {
bool outputWasClosed = false;  // standard output is the null device in its place
}  // namespace

void GuardStandardStreams() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free number: this one.
    if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) == fd && fd == STDOUT_FILENO)
      outputWasClosed = true;
  }
  signal(SIGPIPE, SIG_IGN);
}

int WriteStd(StdStream stream, const QString& text) {
  if (stream == StdStream::Output && outputWasClosed) return EBADF;
  FILE* file = stream == StdStream::Error ? stderr : stdout;
  const QByteArray bytes = text.toUtf8();
  const size_t size = static_cast<size_t>(bytes.size());
  errno = 0;
  if (std::fwrite(bytes.constData(), 1, size, file) != size || std::fflush(file) != 0) {
    const int error = errno != 0 ? errno : EIO;
    clearerr(file);
    return error;
  }
  return 0;
}

QString StdErrorText(int error) { return qt_error_string(error); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool StderrErasesWithEscapes() { return StderrIsTerminal(); }
