#include "cli/run.h"

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/report.h"
#include "modbus/requests.h"
#include "modbus/session.h"
#include "modbus/traffic.h"
#include "serial/link.h"
#include "ui/tool_texts.h"

#include <exception>
#include <memory>

namespace {

// Runs the checked command on the open line; the exit code.
int RunCommand(CommandRun& command, Report& report, Session& session) {
  try {
    command.Run(session);
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

int Run(const Invocation& invocation, Report& report, Session& session,
        const std::function<void(const QString& port)>& openPort) {
  std::unique_ptr<CommandRun> command;
  try {
    command = std::make_unique<CommandRun>(invocation, report);
  } catch (const std::exception& failure) {  // a file, a number or the code word: nothing is sent
    report.Error(QString::fromStdString(failure.what()));
    return kBadInput;
  }
  try {
    openPort(invocation.port);
  } catch (const EComPort& failure) {
    if (session.StopRequested()) {  // the stop ended the opening (a network connection)
      report.Error(QStringLiteral("tl8ctl: stopped"));
      return kStopped;
    }
    // The tool's message box in one line, and what the system said.
    const QString text = PortOpenFailureText(invocation.port.toStdString()).replace('\r', ' ');
    report.Error(kPortOpenFailureCaption + ": " + text + " (" + failure.what() + ")");
    return kAdapterFailed;
  }
  session.TalkTo(static_cast<uint8_t>(invocation.address));
  if (invocation.trace)
    session.Traffic().SetListener(
        [&report](const TrafficEntry& entry) { report.Trace(TrafficLine(entry)); });
  const int code = RunCommand(*command, report, session);
  session.Traffic().SetListener(nullptr);
  return code;
}

}  // namespace

int RunTl8ctl(const QStringList& args, Console& console, Session& session,
              const std::function<void(const QString& port)>& openPort) {
  Invocation invocation;
  try {
    invocation = ParseArguments(args);
  } catch (const EUsage& failure) {
    Report(false, console)
        .Error(QStringLiteral("tl8ctl: %1\nTry 'tl8ctl --help'.").arg(failure.what()));
    return kBadInput;
  }
  Report report(invocation.json, console);
  if (invocation.help) {
    report.Line(HelpText(invocation.command).trimmed());
    return kSuccess;
  }
  return Run(invocation, report, session, openPort);
}
