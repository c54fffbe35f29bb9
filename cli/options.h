#pragma once
// tl8ctl's command line: the global options, the command and its arguments,
// and the help that describes them.

#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

enum class Command {
  Scan,
  Read,
  Save,
  Write,
  WriteBounds,
  SetAddress,
  PassThrough,
  Inventory,
  Ports,
  History,
  Restore,
  Report
};

struct Invocation {
  QString port = QStringLiteral("COM1");
  int address = 1;
  bool json = false;
  bool trace = false;  // the line monitor's lines on stderr
  bool help = false;   // the help of `command`, or the whole help without one
  std::optional<Command> command;
  QString file;      // save, write, write-bounds
  QString codeWord;  // write, write-bounds
  int from = 1;      // scan, inventory
  int to = 247;
  bool allPorts = false;   // scan, inventory: every free port of the system's list at once
  int newAddress = 0;      // set-address
  bool force = false;      // save: write the file even when the checksum read back fails
  bool readdress = false;  // write: the file's address may differ from --address
  bool fast = false;       // read, save, inventory, write-bounds: reads at the line's own speed
  bool noHistory = false;  // write, write-bounds, set-address, restore: no change record
  std::optional<int32_t> serial;  // history: one adapter's entries
  QString entryId;                // restore, report
  QString output;                 // report: the PDF file
};

// A command line that cannot be run; the message says why, in a line.
class EUsage : public std::runtime_error {
 public:
  explicit EUsage(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// `args` without the program's name. Throws EUsage.
Invocation ParseArguments(const QStringList& args);

// Whether `args` ask for JSON output (--json where an option stands), for a
// command line that ParseArguments refuses: its failure is told in JSON too.
bool JsonAsked(const QStringList& args);

// The whole help, or one command's.
QString HelpText(std::optional<Command> command);
