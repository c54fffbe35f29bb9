// tl8ctl's command line and the files its write commands take. The input is
// the argument lines (one argument a line), then, after a NUL byte, the
// content of the command's FILE. Checked:
// - a command line is refused (EUsage) or gives an invocation within its
//   ranges, which, written out again as options, parses to the same;
// - the checks before the port opens refuse a file with the tool's own
//   texts (a line too long to be data included), and let through only one
//   whose numbers the write can use;
// - the file reader there sees the same lines as the coefficient and
//   tmp.dat parsers do.

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/report.h"
#include "fuzz/check.h"
#include "modbus/boundsfile.h"
#include "modbus/coeffile.h"
#include "modbus/device_float.h"
#include "modbus/number_text.h"
#include "modbus/register_map.h"
#include "modbus/textfile.h"
#include "ui/tool_texts.h"

#include <QFile>

#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace {

bool SameInvocation(const Invocation& a, const Invocation& b) {
  return a.port == b.port && a.address == b.address && a.json == b.json && a.help == b.help &&
         a.command == b.command && a.file == b.file && a.codeWord == b.codeWord &&
         a.from == b.from && a.to == b.to && a.newAddress == b.newAddress && a.force == b.force &&
         a.readdress == b.readdress && a.fast == b.fast && a.allPorts == b.allPorts &&
         a.noHistory == b.noHistory && a.serial == b.serial && a.entryId == b.entryId &&
         a.output == b.output;
}

QString CommandName(Command command) {
  switch (command) {
    case Command::Scan:
      return "scan";
    case Command::Read:
      return "read";
    case Command::Save:
      return "save";
    case Command::Write:
      return "write";
    case Command::WriteBounds:
      return "write-bounds";
    case Command::SetAddress:
      return "set-address";
    case Command::PassThrough:
      return "passthrough";
    case Command::Inventory:
      return "inventory";
    case Command::Ports:
      return "ports";
    case Command::History:
      return "history";
    case Command::Restore:
      return "restore";
    case Command::Report:
      return "report";
  }
  return {};
}

// The invocation as a command line of its own, every option in its "=" form.
QStringList CommandLineOf(const Invocation& v) {
  QStringList args = {"--address=" + QString::number(v.address)};
  if (!v.allPorts) args << "--port=" + v.port;  // --all-ports names no port
  if (v.json) args << "--json";
  args << CommandName(*v.command);
  if (v.fast) args << "--fast";
  if (v.noHistory) args << "--no-history";
  switch (*v.command) {
    case Command::Scan:
    case Command::Inventory:
      if (v.allPorts) args << "--all-ports";
      args << "--from=" + QString::number(v.from) << "--to=" + QString::number(v.to);
      break;
    case Command::Write:
      if (v.readdress) args << "--readdress";
      [[fallthrough]];
    case Command::WriteBounds:
      args << "--code-word=" + v.codeWord << v.file;
      break;
    case Command::Save:
      if (v.force) args << "--force";
      args << v.file;
      break;
    case Command::SetAddress:
      args << QString::number(v.newAddress);
      break;
    case Command::History:
      if (v.serial) args << "--serial=" + QString::number(*v.serial);
      break;
    case Command::Restore:
      if (v.readdress) args << "--readdress";
      args << "--code-word=" + v.codeWord << v.entryId;
      break;
    case Command::Report:
      args << "--output=" + v.output << v.entryId;
      break;
    case Command::Read:
    case Command::PassThrough:
    case Command::Ports:
      break;
  }
  return args;
}

void CheckInvocation(const Invocation& v) {
  FUZZ_REQUIRE(!HelpText(v.command).isEmpty());
  if (v.help) return;
  FUZZ_REQUIRE(v.command.has_value());
  FUZZ_REQUIRE(!v.port.isEmpty() && IsAdapterAddress(v.address));
  FUZZ_REQUIRE(IsAdapterAddress(v.from) && IsAdapterAddress(v.to) && v.from <= v.to);
  if (*v.command == Command::SetAddress) FUZZ_REQUIRE(IsAdapterAddress(v.newAddress));
  if (*v.command == Command::Report) FUZZ_REQUIRE(!v.output.isEmpty());
  if (*v.command == Command::Save || *v.command == Command::Write ||
      *v.command == Command::WriteBounds)
    FUZZ_REQUIRE(!v.file.isEmpty());
  FUZZ_REQUIRE(SameInvocation(ParseArguments(CommandLineOf(v)), v));
}

bool Number(const QString& text) { return StrictToFloat(text).has_value(); }

// The write commands' checks on the file: refusals are the tool's texts (or
// a number's or a file's own message); what passes holds usable numbers.
// The command's FILE, one per fuzzing process, removed when it ends.
struct ScratchFile {
  const QString path = QStringLiteral("/tmp/tl8-fuzz-file-%1").arg(getpid());
  ~ScratchFile() { QFile::remove(path); }
};

// Nothing a command says is looked at here.
class SilentConsole final : public Console {
 public:
  void Out(const QString&) override {}
  void Err(const QString&) override {}
  bool ErrIsTerminal() const override { return false; }
};

void CheckFile(Invocation v, const QByteArray& content) {
  static const ScratchFile scratch;
  const QString& path = scratch.path;
  QFile file(path);
  FUZZ_REQUIRE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  FUZZ_REQUIRE(file.write(content) == content.size());
  file.close();
  v.file = path;
  SilentConsole console;
  Report report(false, console);
  try {
    CommandRun run(v, report);
  } catch (const EBadInput& refusal) {
    const QString text = QString::fromStdString(refusal.what());
    if (text.contains(
            QStringLiteral("--readdress"))) {  // the file's address would move the adapter
      const std::optional<int32_t> address = StrictToInt(ParseCoefFile(content).Address);
      FUZZ_REQUIRE(*v.command == Command::Write && !v.readdress && address &&
                   *address != v.address);
      return;
    }
    FUZZ_REQUIRE(text == kWrongPasswordText || text == kAddressRangeText || text == kCheckDataText);
    return;
  } catch (const EConvertError&) {  // the address line is no integer
    FUZZ_REQUIRE(!StrictToInt(ParseCoefFile(content).Address));
    return;
  } catch (const EFloatOverflow&) {  // a number too large for the adapter
    return;
  } catch (const EBadFileData&) {  // shown as "Проверьте данные"; the parsers agree
    bool parsed = true;
    try {
      if (*v.command == Command::Write) {
        ParseCoefFile(content);
      } else {
        ParseBoundsFile(content);
      }
    } catch (const EBadFileData&) {
      parsed = false;
    }
    FUZZ_REQUIRE(!parsed);
    return;
  }
  if (*v.command == Command::Write) {
    const CoefFileFields fields = ParseCoefFile(content);
    const auto address = StrictToInt(fields.Address);
    FUZZ_REQUIRE(address && IsAdapterAddress(*address) && StrictToInt(fields.SerialNumber));
    for (const QString& coefficient : fields.Coefficients) FUZZ_REQUIRE(Number(coefficient));
  } else {
    for (const QString& bound : ParseBoundsFile(content)) FUZZ_REQUIRE(Number(bound));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const qsizetype nul = input.indexOf('\0');
  const QByteArray lines = nul < 0 ? input : input.left(nul);
  QStringList args;
  if (!lines.isEmpty())
    for (const QByteArray& line : lines.split('\n')) args << QString::fromUtf8(line);

  Invocation invocation;
  try {
    invocation = ParseArguments(args);
  } catch (const EUsage& refusal) {
    FUZZ_REQUIRE(*refusal.what() != '\0');
    return 0;
  }
  // A failure is told in JSON exactly when a run would have been.
  FUZZ_REQUIRE(JsonAsked(args) == invocation.json);
  CheckInvocation(invocation);
  if (!invocation.help && nul >= 0 &&
      (*invocation.command == Command::Write || *invocation.command == Command::WriteBounds))
    CheckFile(invocation, input.mid(nul + 1));
  return 0;
}
