// Windows side of the console: the stop handler (SetConsoleCtrlHandler; the
// system calls the handler on a thread of its own, the stop event is
// signalled there and the rest is carried on to the user-interface thread)
// and the output: Unicode to a console, so that no code page garbles it,
// UTF-8 bytes to a file or a pipe.

#include "os/platform.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

#include <cstdio>

#include <atomic>

namespace {

std::atomic<TComStopEvent*> currentStopEvent{nullptr};
// Handlers between their first and last look at currentStopEvent; a stop
// event may be destroyed only once none of them can still hold it.
std::atomic<int> handlersRunning{0};
// Counts registrations, so that a stop queued for one never runs another's action.
std::atomic<unsigned> registration{0};
std::function<void()> stopAction;  // touched on the UI thread only
bool installed = false;

// Closing the console or ending the session ends the process as soon as the
// handler returns; these give the tool that long to finish its "Выход".
bool EndsProcess(DWORD request) {
  return request == CTRL_CLOSE_EVENT || request == CTRL_LOGOFF_EVENT ||
         request == CTRL_SHUTDOWN_EVENT;
}
constexpr DWORD kExitGraceMs = 4000;
std::atomic<bool> stopDone{false};

void RunStopAction(unsigned queuedFor) {
  if (queuedFor == registration.load() && stopAction) stopAction();
  stopDone.store(true);
}

BOOL WINAPI OnConsoleRequest(DWORD request) {
  handlersRunning.fetch_add(1);
  TComStopEvent* stopEvent = currentStopEvent.load();
  if (stopEvent) stopEvent->Signal();
  handlersRunning.fetch_sub(1);
  if (!stopEvent) return FALSE;
  stopDone.store(false);
  const unsigned queuedFor = registration.load();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [queuedFor] { RunStopAction(queuedFor); },
      Qt::QueuedConnection);
  if (EndsProcess(request)) {
    for (DWORD waited = 0; !stopDone.load() && waited < kExitGraceMs; waited += 50) ::Sleep(50);
  }
  return TRUE;
}

// Replaces the event the handler signals and returns once no handler can
// still be using the previous one.
void SwapStopEvent(TComStopEvent* stopEvent) {
  currentStopEvent.store(stopEvent);
  while (handlersRunning.load() != 0) ::Sleep(0);
}

}  // namespace

void RegisterConsoleHandler(TComStopEvent* stopEvent, std::function<void()> onStop) {
  registration.fetch_add(1);
  SwapStopEvent(stopEvent);
  stopAction = std::move(onStop);
  if (!installed) installed = ::SetConsoleCtrlHandler(OnConsoleRequest, TRUE) != 0;
}

void UnregisterConsoleHandler(const TComStopEvent* stopEvent) {
  if (!installed || stopEvent != currentStopEvent.load()) return;
  ::SetConsoleCtrlHandler(OnConsoleRequest, FALSE);
  installed = false;
  registration.fetch_add(1);
  SwapStopEvent(nullptr);
  stopAction = nullptr;
}

namespace {

HANDLE StdHandle(StdStream stream) {
  return ::GetStdHandle(stream == StdStream::Error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

// The console's mode, when the handle is a console; a file, a pipe or the
// NUL device has none.
bool ConsoleMode(HANDLE handle, DWORD& mode) {
  return handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

}  // namespace

// Windows hands a program without a stream no handle in its place that a
// port could take.
void GuardStandardStreams() {}

int WriteStd(StdStream stream, const QString& text) {
  const HANDLE handle = StdHandle(stream);
  DWORD mode = 0;
  if (ConsoleMode(handle, mode)) {
    const auto* chars = reinterpret_cast<const wchar_t*>(text.utf16());
    for (DWORD left = static_cast<DWORD>(text.size()), written = 0; left > 0;
         chars += written, left -= written) {
      if (!::WriteConsoleW(handle, chars, left, &written, nullptr))
        return static_cast<int>(::GetLastError());
      if (written == 0) return ERROR_WRITE_FAULT;
    }
    return 0;
  }
  FILE* file = stream == StdStream::Error ? stderr : stdout;
  const QByteArray bytes = text.toUtf8();
  const size_t size = static_cast<size_t>(bytes.size());
  if (std::fwrite(bytes.constData(), 1, size, file) != size || std::fflush(file) != 0) {
    clearerr(file);
    // The C library's error is errno's; its Windows code is what the system
    // says of the handle.
    const DWORD error = ::GetLastError();
    return error != 0 ? static_cast<int>(error) : ERROR_WRITE_FAULT;
  }
  return 0;
}

QString StdErrorText(int error) { return qt_error_string(error); }

bool StderrIsTerminal() {
  DWORD mode = 0;
  return ConsoleMode(StdHandle(StdStream::Error), mode);
}

// Windows Terminal and newer consoles have it on; the classic console shows
// the escape character as it stands.
bool StderrErasesWithEscapes() {
  DWORD mode = 0;
  return ConsoleMode(StdHandle(StdStream::Error), mode) &&
         (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
