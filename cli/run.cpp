#include "cli/run.h"

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/report.h"
#include "modbus/requests.h"
#include "modbus/session.h"
#include "modbus/textfile.h"
#include "modbus/traffic.h"
#include "net/netline.h"
#include "serial/link.h"
#include "ui/tool_texts.h"

#include <exception>
#include <memory>

namespace {

const QString kStoppedText = QStringLiteral("tl8ctl: stopped");

// The run fails: told as the report tells a failure; the exit code.
int Fail(Report& report, const QString& text, int exitCode) {
  report.Failure(text, exitCode);
  return exitCode;
}

// Runs the checked command; the exit code.
int RunCommand(CommandRun& command, Report& report, Session& session, const PortAccess& ports) {
  try {
    command.Run(session, ports);
  } catch (const EStopRequested&) {
    return Fail(report, kStoppedText, kStopped);
  } catch (const EBadInput& failure) {
    return Fail(report, QString::fromStdString(failure.what()), kBadInput);
  } catch (const std::exception& failure) {  // the adapter's answer, or the line itself
    // A stop request that ended a network line's send or receive.
    if (session.StopRequested()) return Fail(report, kStoppedText, kStopped);
    return Fail(report, QString::fromStdString(failure.what()), kAdapterFailed);
  }
  return kSuccess;
}

// Bytes as a shell shows them: printable ASCII as it is, the rest as \xHH.
QString Escaped(const QByteArray& bytes) {
  QString text;
  for (const char byte : bytes) {
    const auto code = static_cast<unsigned char>(byte);
    text += code >= 0x20 && code < 0x7F && byte != '\\'
                ? QString(QChar(code))
                : QStringLiteral("\\x%1").arg(code, 2, 16, QChar('0'));
  }
  return text;
}

// Refuses a name the invocation would use (the file, the port) that came from
// an argument whose bytes its text does not give back, whole or after an
// option's "=".
void RefuseMangledNames(const Invocation& invocation, const Arguments& arguments) {
  const auto check = [&](const QString& what, const QString& name) {
    for (const auto& [text, bytes] : arguments.mangled) {
      const bool option = text.startsWith(QStringLiteral("--")) && text.contains('=');
      if (option ? text.section('=', 1) == name : text == name)
        throw EUsage(QStringLiteral("%1 \"%2\" is not valid UTF-8")
                         .arg(what, Escaped(option ? bytes.mid(bytes.indexOf('=') + 1) : bytes)));
    }
  };
  check(QStringLiteral("--port name"), invocation.port);
  if (!invocation.file.isEmpty()) check(QStringLiteral("file name"), invocation.file);
}

int Run(const Invocation& invocation, Report& report, Session& session, const PortAccess& ports) {
  std::unique_ptr<CommandRun> command;
  try {
    command = std::make_unique<CommandRun>(invocation, report, session.History());
  } catch (const EBadFileData&) {  // a file that cannot be what its format holds
    return Fail(report, kCheckDataText, kBadInput);
  } catch (const std::exception& failure) {  // a file, a number or the code word: nothing is sent
    return Fail(report, QString::fromStdString(failure.what()), kBadInput);
  }
  try {
    if (command->OpensNamedPort()) ports.open(invocation.port);
  } catch (const EComPort& failure) {
    // The stop ended the opening (a network connection).
    if (session.StopRequested()) return Fail(report, kStoppedText, kStopped);
    // The tool's message box in one line, and what the system said (unless
    // the box says it already).
    const std::string port = invocation.port.toStdString();
    const std::optional<TNetOpenFailure> network = NetOpenFailureOf(port, failure);
    QString text =
        kPortOpenFailureCaption + ": " + PortOpenFailureText(port, network).replace('\r', ' ');
    if (!network || network->kind != TNetOpenFailure::Other)
      text += QStringLiteral(" (%1)").arg(failure.what());
    return Fail(report, text, kAdapterFailed);
  }
  session.TalkTo(static_cast<uint8_t>(invocation.address));
  session.SetPortName([port = invocation.port] { return port; });
  if (invocation.trace) {
    for (const std::string& note : session.Line().SettingsNotes())
      report.Trace(QString::fromStdString(note));
    session.Traffic().SetListener(
        [&report](const TrafficEntry& entry) { report.Trace(TrafficLine(entry)); });
  }
  const int code = RunCommand(*command, report, session, ports);
  session.Traffic().SetListener(nullptr);
  return code;
}

}  // namespace

namespace {

int RunArguments(const Arguments& args, Console& console, Session& session,
                 const PortAccess& ports) {
  Invocation invocation;
  try {
    invocation = ParseArguments(args.texts);
    RefuseMangledNames(invocation, args);
  } catch (const EUsage& failure) {
    Report report(JsonAsked(args.texts), console);
    report.Failure(QStringLiteral("tl8ctl: %1").arg(failure.what()), kBadInput);
    report.Error(QStringLiteral("Try 'tl8ctl --help'."));
    return kBadInput;
  }
  Report report(invocation.json, console);
  if (invocation.help) {
    report.Line(HelpText(invocation.command).trimmed());
    return kSuccess;
  }
  return Run(invocation, report, session, ports);
}

}  // namespace

int RunTl8ctl(const Arguments& args, Console& console, Session& session, const PortAccess& ports) {
  const int code = RunArguments(args, console, session, ports);
  // A result that did not reach standard output is no result: a script
  // would take the empty file for it.
  const QString outFailure = console.OutFailure();
  if (outFailure.isEmpty()) return code;
  console.Err(QStringLiteral("tl8ctl: write error: %1\n").arg(outFailure));
  return code == kSuccess ? kAdapterFailed : code;
}

int RunTl8ctl(const QStringList& args, Console& console, Session& session,
              const PortAccess& ports) {
  return RunTl8ctl(Arguments{args, {}}, console, session, ports);
}
