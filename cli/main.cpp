// tl8ctl: the service tool's functions from the command line, on the same
// session and exchange core as its windows, without widgets or a display.
// Everything the command needs is checked before the port opens; then the
// one command runs and the port closes with the session.

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/report.h"
#include "modbus/requests.h"
#include "modbus/session.h"
#include "modbus/traffic.h"
#include "serial/comport.h"
#include "serial/platform.h"
#include "ui/tool_texts.h"

#include <QCoreApplication>

#include <exception>

namespace {

enum ExitCode { kSuccess = 0, kAdapterFailed = 1, kBadInput = 2, kStopped = 130 };

// Ctrl-C and termination requests signal the session's stop event at once:
// the frame in flight ends, no other goes out, and the command ends with
// EStopRequested. For the lifetime of this object.
class ConsoleStop {
 public:
  explicit ConsoleStop(Session& session) : session_(session) {
    RegisterConsoleHandler(&event_, [] {});
    session_.SetStopEvent(&event_);
  }
  ~ConsoleStop() {
    UnregisterConsoleHandler(&event_);
    session_.SetStopEvent(nullptr);
  }
  ConsoleStop(const ConsoleStop&) = delete;
  ConsoleStop& operator=(const ConsoleStop&) = delete;

 private:
  Session& session_;
  TComStopEvent event_;
};

void OpenPort(TComPort& com, const QString& port) {
  com.SetPort(port.toStdString());
  com.SetEvents({});
  com.FlowControl().SetControlDTR(dtrEnable);
  com.FlowControl().SetControlRTS(rtsEnable);
  com.OpenPort();
}

int Run(const Invocation& invocation, Report& report) {
  std::unique_ptr<CommandRun> command;
  try {
    command = std::make_unique<CommandRun>(invocation, report);
  } catch (const std::exception& failure) {  // a file, a number or the code word: nothing is sent
    report.Error(QString::fromStdString(failure.what()));
    return kBadInput;
  }

  TComPort port;
  Session session(port);
  const ConsoleStop stop(session);
  try {
    OpenPort(port, invocation.port);
  } catch (const EComPort& failure) {
    // The tool's message box in one line, and what the system said.
    const QString text = PortOpenFailureText(invocation.port.toStdString()).replace('\r', ' ');
    report.Error(kPortOpenFailureCaption + ": " + text + " (" + failure.what() + ")");
    return kAdapterFailed;
  }
  session.TalkTo(static_cast<uint8_t>(invocation.address));
  if (invocation.trace)
    session.Traffic().SetListener(
        [&report](const TrafficEntry& entry) { report.Trace(TrafficLine(entry)); });
  try {
    command->Run(session);
  } catch (const EStopRequested&) {
    report.Error(QStringLiteral("tl8ctl: stopped"));
    return kStopped;
  } catch (const EBadInput& failure) {
    report.Error(QString::fromStdString(failure.what()));
    return kBadInput;
  } catch (const std::exception& failure) {  // the adapter's answer, or the line itself
    report.Error(QString::fromStdString(failure.what()));
    return kAdapterFailed;
  }
  return kSuccess;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);  // the exchange's waits handle its events
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  Invocation invocation;
  try {
    invocation = ParseArguments(args);
  } catch (const EUsage& failure) {
    Report(false).Error(QStringLiteral("tl8ctl: %1\nTry 'tl8ctl --help'.").arg(failure.what()));
    return kBadInput;
  }
  Report report(invocation.json);
  if (invocation.help) {
    report.Line(HelpText(invocation.command).trimmed());
    return kSuccess;
  }
  return Run(invocation, report);
}
