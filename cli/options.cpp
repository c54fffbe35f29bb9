#include "cli/options.h"

#include "modbus/number_text.h"
#include "modbus/register_map.h"
#include "net/netline.h"
#include "ui/tool_texts.h"

#include <map>
#include <vector>

namespace {

struct CommandInfo {
  Command command;
  QString name;
  QStringList options;  // the command's own options, each taking a value
  QStringList flags;    // the command's own options that take no value
  int arguments;        // positional arguments it takes
  QString help;
};

const QString kUsageLine =
    QStringLiteral("tl8ctl [--port NAME] [--address N] [--json] [--trace] COMMAND [ARGS]");

// Each platform's help names its own ports, in its examples too.
#ifdef _WIN32
const QString kExamplePort = QStringLiteral("COM5");
const QString kPortHelp = QStringLiteral(
    "  --port NAME      serial port as Windows names it (COM1, COM12: Device Manager, \"Ports (COM "
    "& LPT)\").\n"
    "                   Default COM1. 9600 8N1, DTR and RTS raised, opened exclusively.\n");
#else
const QString kExamplePort = QStringLiteral("ttyUSB0");
const QString kPortHelp = QStringLiteral(
    "  --port NAME      serial port, named as in the tool (COM1 → /dev/COM1, else /dev/ttyS0 "
    "unless that is the\n"
    "                   kernel's console; ttyUSB0 → /dev/ttyUSB0; a path as it stands, such as "
    "/dev/serial/by-id/usb-...).\n"
    "                   Default COM1. 9600 8N1, DTR and RTS raised, opened exclusively.\n");
#endif

const QString kGlobalHelp =
    kPortHelp +
    QStringLiteral(
        "                   `tl8ctl ports` lists the system's ports.\n"
        "                   A serial device server: tcp://HOST:PORT (raw) or rfc2217://HOST:PORT;\n"
        "                   a Modbus TCP to RTU gateway: modbus-tcp://HOST[:PORT] (502 unless "
        "given). "
        "?allow=MS after it\n"
        "                   setting the allowance added to every wait for an answer (else "
        "measured).\n"
        "  --address N      the adapter's address, 1..247. Default 1.\n"
        "  --json           machine-readable output on stdout: one JSON object (inventory: one per "
        "adapter, a line each;\n"
        "                   ports and scan --all-ports: one array); a failure ends it with "
        "{\"error\": \"the message\", \"exit\": N}\n"
        "                   (the message also on stderr).\n"
        "  --trace          every frame sent and every answer collected on stderr, as the line "
        "monitor shows them.\n");

const QString kExitHelp = QStringLiteral(
    "Exit codes: 0 success; 1 the adapter did not answer or answered wrongly, or the port could "
    "not be opened;\n"
    "2 bad usage or bad input, and then nothing is sent (nor written, when a change record cannot "
    "be). Ctrl-C stops\n"
    "after the frame in flight (exit 130).\n");

const QString kHistoryHelp = QStringLiteral(
    "Change records: write, write-bounds, set-address and restore first read the adapter (--fast; "
    "write-bounds's own\n"
    "read) for the values before, then put an entry into the adapter's history before the first "
    "write frame and\n"
    "complete it with the outcome. When the entry cannot be written nothing is written to the "
    "adapter (exit 2);\n"
    "--no-history writes without a record (and without that read). The records: the user's data "
    "folder,\n"
    "Kavrion/Tl8v05/history, one file per serial number, the same for the windows.\n");

const QString kFastHelp = QStringLiteral(
    "--fast (read, save, inventory, write-bounds): each read's wait ends as soon as the whole "
    "answer is in (CRC correct,\n"
    "from the address asked), the fixed waits staying the upper bound, and the line is left quiet "
    "for the Modbus\n"
    "inter-frame gap before the next frame: a 16-parameter read in about 0.4 s instead of 2.8 s, "
    "the same values.\n"
    "Writes and the address search keep the windows' pace.\n");

const std::vector<CommandInfo>& Commands() {
  static const std::vector<CommandInfo> commands = {
      {Command::Scan,
       "scan",
       {"--from", "--to"},
       {"--all-ports"},
       0,
       "  scan [--from A] [--to B]     the address search of \"Настройка адреса\" (same frames, "
       "same acceptance rule,\n"
       "                               same timing); prints the address found; exit 1 when nobody "
       "answers.\n"
       "  scan --all-ports [--from A] [--to B]\n"
       "                               the same search on every free port of the system's list at "
       "once, each port a\n"
       "                               bus of its own (no --port); prints \"PORT ADDRESS\" for "
       "each port where an\n"
       "                               adapter answered, in the list's order, JSON:\n"
       "                               [{\"port\": \"" +
           kExamplePort +
           "\", \"address\": 17}]; a busy port, "
           "the kernel's console,\n"
           "                               or one that does not open, is skipped with a note on "
           "stderr; exit 1 when no\n"
           "                               adapter answered on any port.\n"},
      {Command::Read,
       "read",
       {},
       {"--fast"},
       0,
       "  read [--fast]                the calibration window's read of the 16 parameters (probe, "
       "then each parameter\n"
       "                               with its retry); prints address (parameter 15's copy), the "
       "address that answered,\n"
       "                               serial number, write date and the twelve values.\n"
       "                               JSON: {\"address\": 17, \"answering_address\": 17, "
       "\"serial\": 4321,\n"
       "                                      \"date\": \"08/12/2024(14:05:06)\",\n"
       "                                      \"values\": [v1, ..., v12]}  (values as the windows "
       "show them: channel 2's\n"
       "                                      bounds without their +100; numbers, not texts)\n"},
      {Command::Save,
       "save",
       {},
       {"--force", "--fast"},
       1,
       "  save FILE [--force] [--fast] read, then write FILE in the coefficient-file format (15 "
       "lines, Windows-1251, CR LF).\n"
       "                               A reading whose checksum fails writes no file (exit 1) "
       "unless --force is given;\n"
       "                               the address line is parameter 15's copy (a warning on "
       "stderr "
       "when it is not the\n"
       "                               address that answered).\n"},
      {Command::Write,
       "write",
       {"--code-word"},
       {"--readdress", "--no-history"},
       1,
       "  write FILE --code-word WORD [--readdress] [--no-history]\n"
       "                               the calibration write of a coefficient file's values "
       "(address register first, then the\n"
       "                               16 parameters with a fresh date stamp and checksum); WORD "
       "must pass the same gate as the\n"
       "                               window's write. The file's address line is the address to "
       "set: when it is not\n"
       "                               --address, nothing is sent (exit 2) unless --readdress "
       "allows the move.\n"},
      {Command::WriteBounds,
       "write-bounds",
       {"--code-word"},
       {"--fast", "--no-history"},
       1,
       "  write-bounds FILE --code-word WORD [--fast] [--no-history]\n"
       "                               the bounds window's write from a tmp.dat-format file (8 "
       "lines), the rest of the\n"
       "                               parameters as read from the adapter first (--fast: that "
       "read); WORD as for the\n"
       "                               bounds window.\n"},
      {Command::SetAddress,
       "set-address",
       {},
       {"--no-history"},
       1,
       "  set-address NEW [--no-history]\n"
       "                               the address window's write (broadcast to register 375), "
       "then a read at NEW to confirm.\n"},
      {Command::PassThrough,
       "passthrough",
       {},
       {},
       0,
       "  passthrough                  the search's read at the address, then the pass-through "
       "command; exit 0 only on\n"
       "                               the verdict of success.\n"},
      {Command::Inventory,
       "inventory",
       {"--from", "--to"},
       {"--fast", "--all-ports"},
       0,
       "  inventory [--from A] [--to B] [--fast] [--all-ports]\n"
       "                               the address search from A to B (1..247), going on after "
       "each adapter found, and\n"
       "                               the read of each: a line per adapter (address, "
       "answering_address, serial, date,\n"
       "                               values; JSON: read's object, one per line). Exit 1 when "
       "nobody answered or a\n"
       "                               read failed (the others are still printed).\n"
       "                               --all-ports: on every free port at once, as scan "
       "--all-ports; each line starts\n"
       "                               with its PORT (JSON: a \"port\" field), in the list's "
       "order.\n"},
      {Command::Ports,
       "ports",
       {},
       {},
       0,
       "  ports                        the system's serial ports, one a line: the name to give "
       "--port, free, busy\n"
       "                               (another program holds it) or console (the kernel's "
       "console writes there), and\n"
       "                               what the system knows of the device. JSON:\n"
       "                               [{\"name\": \"" +
           kExamplePort +
           "\", \"description\": \"...\", "
           "\"busy\": false, \"console\": false}];\n"
           "                               exit 1 when the list cannot be read.\n"},
      {Command::History,
       "history",
       {"--serial"},
       {},
       0,
       "  history [--serial N]         the change records, oldest first, of every adapter or of "
       "serial number N: a line\n"
       "                               each (id, time, user, window or command, port, serial, "
       "address, outcome); JSON:\n"
       "                               an object per line with id, time, user, front_end, port, "
       "serial, outcome, before\n"
       "                               and after (read's form: address, serial, date, values; "
       "before null when unknown).\n"
       "                               A damaged line is skipped with a note on stderr.\n"},
      {Command::Restore,
       "restore",
       {"--code-word"},
       {"--readdress", "--no-history"},
       1,
       "  restore ID --code-word WORD [--readdress] [--no-history]\n"
       "                               writes entry ID's values before back through the "
       "calibration write (WORD as for\n"
       "                               write), after a read that finds the same serial number; a "
       "new entry itself. The\n"
       "                               entry's address before is the address to set: when it is "
       "not --address, nothing\n"
       "                               is sent (exit 2) unless --readdress allows the move.\n"},
      {Command::Report,
       "report",
       {"--output"},
       {},
       1,
       "  report ID -o FILE.pdf        the service protocol of entry ID: an A4 page (adapter, when "
       "and who, the values\n"
       "                               before and after, each channel's 4-20 mA line, the "
       "outcome).\n"},
  };
  return commands;
}

const CommandInfo* FindCommand(const QString& name) {
  for (const CommandInfo& info : Commands())
    if (info.name == name) return &info;
  return nullptr;
}

const CommandInfo& InfoOf(Command command) {
  for (const CommandInfo& info : Commands())
    if (info.command == command) return info;
  throw std::logic_error("command without help");
}

// An adapter address given on the command line.
int AddressArgument(const QString& what, const QString& text) {
  const std::optional<int32_t> value = StrictToInt(text);
  if (!value || !IsAdapterAddress(*value))
    throw EUsage(what + " " + text + ": " + kAddressRangeText);
  return *value;
}

// A network port name that cannot be opened as it stands is a usage error:
// nothing is opened.
void RefuseMalformedNetName(const QString& port) {
  const std::string name = port.toStdString();
  if (!IsNetPortName(name)) return;
  if (const std::optional<TNetNameProblem> problem = NetPortNameProblem(name))
    throw EUsage("--port " + port + ": " + QString::fromStdString(NetNameProblemText(*problem)));
}

// Every option that takes a value, and every command's own flag; which
// command may have which is checked once the command is known.
const QStringList kValueOptions = {"--port",      "--address", "--from",   "--to",
                                   "--code-word", "--serial",  "--output", "-o"};
const QStringList kCommandFlags = {"--force", "--readdress", "--fast", "--all-ports",
                                   "--no-history"};
const QString kShortOutput = QStringLiteral("-o");

}  // namespace

Invocation ParseArguments(const QStringList& args) {
  Invocation invocation;
  std::map<QString, QString> options;  // the command's own, checked once it is known
  QStringList flags;                   // likewise
  QStringList positional;
  bool portGiven = false;
  for (int i = 0; i < args.size(); ++i) {
    QString arg = args[i];
    if (arg == kShortOutput) arg = QStringLiteral("--output");
    if (!arg.startsWith(QStringLiteral("--")) || arg == QStringLiteral("--")) {
      if (arg.startsWith('-') && arg.size() > 1) throw EUsage("unknown option " + arg);
      positional << arg;
      continue;
    }
    std::optional<QString> value;
    if (const qsizetype equals = arg.indexOf('='); equals > 0) {
      value = arg.mid(equals + 1);
      arg.truncate(equals);
    }
    if (const std::map<QString, bool*> globalFlags = {{"--json", &invocation.json},
                                                      {"--help", &invocation.help},
                                                      {"--trace", &invocation.trace}};
        globalFlags.count(arg)) {
      if (value) throw EUsage(arg + " takes no value");
      *globalFlags.at(arg) = true;
      continue;
    }
    if (kCommandFlags.contains(arg)) {
      if (value) throw EUsage(arg + " takes no value");
      flags << arg;
      continue;
    }
    if (!kValueOptions.contains(arg)) throw EUsage("unknown option " + arg);
    if (!value) {
      if (i + 1 >= args.size()) throw EUsage(arg + " needs a value");
      value = args[++i];
    }
    if (arg == QStringLiteral("--port")) {
      if (value->isEmpty()) throw EUsage("--port needs a name");
      RefuseMalformedNetName(*value);
      invocation.port = *value;
      portGiven = true;
    } else if (arg == QStringLiteral("--address")) {
      invocation.address = AddressArgument(arg, *value);
    } else {
      options[arg] = *value;
    }
  }

  if (positional.isEmpty()) {
    if (invocation.help) return invocation;
    throw EUsage(QStringLiteral("no command given"));
  }
  const QString name = positional.takeFirst();
  const CommandInfo* info = FindCommand(name);
  if (!info) throw EUsage("unknown command " + name);
  invocation.command = info->command;
  if (invocation.help) return invocation;

  for (const auto& [option, value] : options)
    if (!info->options.contains(option))
      throw EUsage("unknown option " + option + " for " + info->name);
  for (const QString& flag : flags)
    if (!info->flags.contains(flag)) throw EUsage("unknown option " + flag + " for " + info->name);
  invocation.force = flags.contains(QStringLiteral("--force"));
  invocation.readdress = flags.contains(QStringLiteral("--readdress"));
  invocation.fast = flags.contains(QStringLiteral("--fast"));
  invocation.allPorts = flags.contains(QStringLiteral("--all-ports"));
  invocation.noHistory = flags.contains(QStringLiteral("--no-history"));
  if (invocation.allPorts && portGiven)
    throw EUsage(QStringLiteral("--all-ports searches every port: --port cannot name one"));
  if (positional.size() != info->arguments)
    throw EUsage(info->name + (info->arguments
                                   ? " takes " + QString::number(info->arguments) + " argument"
                                   : QStringLiteral(" takes no argument")));

  switch (info->command) {
    case Command::Scan:
    case Command::Inventory:
      if (options.count("--from")) invocation.from = AddressArgument("--from", options["--from"]);
      if (options.count("--to")) invocation.to = AddressArgument("--to", options["--to"]);
      if (invocation.from > invocation.to) throw EUsage(QStringLiteral("--from is above --to"));
      break;
    case Command::Write:
    case Command::WriteBounds:
      if (!options.count("--code-word")) throw EUsage(info->name + " needs --code-word WORD");
      invocation.codeWord = options["--code-word"];
      [[fallthrough]];
    case Command::Save:
      invocation.file = positional.first();
      if (invocation.file.isEmpty()) throw EUsage(info->name + " needs a file name");
      break;
    case Command::SetAddress:
      invocation.newAddress = AddressArgument(info->name, positional.first());
      break;
    case Command::History:
      if (options.count("--serial")) {
        invocation.serial = StrictToInt(options["--serial"]);
        if (!invocation.serial)
          throw EUsage("--serial " + options["--serial"] + ": not a serial number");
      }
      break;
    case Command::Restore:
      if (!options.count("--code-word")) throw EUsage(info->name + " needs --code-word WORD");
      invocation.codeWord = options["--code-word"];
      invocation.entryId = positional.first();
      break;
    case Command::Report:
      if (!options.count("--output")) throw EUsage(info->name + " needs -o FILE.pdf");
      invocation.output = options["--output"];
      if (invocation.output.isEmpty()) throw EUsage(info->name + " needs a file name");
      invocation.entryId = positional.first();
      break;
    case Command::Read:
    case Command::PassThrough:
    case Command::Ports:
      break;
  }
  return invocation;
}

bool JsonAsked(const QStringList& args) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    if (args[i] == QStringLiteral("--json")) return true;
    if (kValueOptions.contains(args[i])) ++i;  // its value, whatever it reads
  }
  return false;
}

QString HelpText(std::optional<Command> command) {
  if (command) {
    const CommandInfo& info = InfoOf(*command);
    const QString fast = info.flags.contains(QStringLiteral("--fast")) ? kFastHelp + "\n" : "";
    const bool records = info.flags.contains(QStringLiteral("--no-history")) ||
                         info.command == Command::History || info.command == Command::Report;
    return "tl8ctl [--port NAME] [--address N] [--json] [--trace] " + info.name +
           (info.arguments ? " ..." : "") + "\n" + info.help + "\n" + fast +
           (records ? kHistoryHelp + "\n" : "") + kGlobalHelp + "\n" + kExitHelp;
  }
  QString text = kUsageLine + "\n" + kGlobalHelp + "\n";
  for (const CommandInfo& info : Commands()) text += info.help;
  return text + "\n" + kFastHelp + "\n" + kHistoryHelp + "\n" + kExitHelp;
}
