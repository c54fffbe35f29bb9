#include "app/console.h"

#include "serial/comport.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<TComStopEvent*> currentStopEvent{nullptr};
int wakeFds[2] = {-1, -1};  // self-pipe from the signal handler to the UI thread
std::function<void()> stopAction;

void OnSignal(int) {
  const int savedErrno = errno;
  if (TComStopEvent* stopEvent = currentStopEvent.load()) stopEvent->Signal();
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFds[1], &byte, 1);
  errno = savedErrno;
}

void RunStopActionOnUiThread() {
  char drain[64];
  while (read(wakeFds[0], drain, sizeof drain) > 0) {
  }
  if (stopAction) stopAction();
}

void CreateWakePipeOnce() {
  if (wakeFds[0] >= 0) return;
  if (pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, RunStopActionOnUiThread);
}

}  // namespace

void RegisterConsoleHandler(TComStopEvent* stopEvent, std::function<void()> onStop) {
  CreateWakePipeOnce();
  currentStopEvent.store(stopEvent);
  stopAction = std::move(onStop);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
