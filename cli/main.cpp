// tl8ctl: the service tool's functions from the command line, on the same
// session and exchange core as its windows, without widgets or a display.
// Everything the command needs is checked before the port opens; then the
// one command runs and the port closes with the session.

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/report.h"
#include "modbus/requests.h"
#include "modbus/session.h"
#include "modbus/textfile.h"
#include "modbus/traffic.h"
#include "serial/link.h"
#include "ui/tool_texts.h"

#include <QCoreApplication>
#include <QFile>

#include <exception>
#include <utility>
#include <vector>

namespace {

enum ExitCode { kSuccess = 0, kAdapterFailed = 1, kBadInput = 2, kStopped = 130 };

void OpenPort(Session& session, const QString& port) {
  TComPort& com = session.ComPort;
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
  } catch (const ELineTooLong&) {  // a file's line too long to be data
    report.Error(kCheckDataText);
    return kBadInput;
  } catch (const std::exception& failure) {  // a file, a number or the code word: nothing is sent
    report.Error(QString::fromStdString(failure.what()));
    return kBadInput;
  }

  Session session;
  // Ctrl-C signals the stop event at once: the frame in flight ends, no
  // other goes out, and the command ends with EStopRequested.
  session.RenewStopEvent([] {});
  try {
    OpenPort(session, invocation.port);
  } catch (const EComPort& failure) {
    // The tool's message box in one line, and what the system said.
    const QString text = PortOpenFailureText(invocation.port.toStdString()).replace('\r', ' ');
    report.Error(kPortOpenFailureCaption + ": " + text + " (" + failure.what() + ")");
    return kAdapterFailed;
  }
  session.Exchange.DeviceAddress = static_cast<uint8_t>(invocation.address);
  if (invocation.trace)
    session.Traffic.SetListener(
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

// The command line's arguments as texts, and those of them whose texts do not
// give back the bytes the system passed (a name in another encoding, such as
// Windows-1251): opening such a text would open another file.
struct Arguments {
  QStringList texts;
  std::vector<std::pair<QString, QByteArray>> mangled;  // text, bytes
};

Arguments ReadArguments([[maybe_unused]] int argc, [[maybe_unused]] char* argv[]) {
  Arguments arguments;
#ifdef Q_OS_WIN
  // Windows passes the arguments as UTF-16: nothing is lost.
  arguments.texts = QCoreApplication::arguments().mid(1);
#else
  for (int i = 1; i < argc; ++i) {
    const QByteArray bytes(argv[i]);
    const QString text = QFile::decodeName(bytes);
    if (QFile::encodeName(text) != bytes) arguments.mangled.emplace_back(text, bytes);
    arguments.texts << text;
  }
#endif
  return arguments;
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

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);  // the exchange's waits handle its events
  const Arguments arguments = ReadArguments(argc, argv);
  Invocation invocation;
  try {
    invocation = ParseArguments(arguments.texts);
    RefuseMangledNames(invocation, arguments);
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
