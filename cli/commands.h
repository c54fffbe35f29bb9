#pragma once
// tl8ctl's commands on the service core the windows use: each is checked
// whole before the port opens (files, addresses, the code word), so a bad
// input sends nothing, and then runs the windows' exchange on the session.

#include "cli/options.h"
#include "modbus/params.h"
#include "serial/comport.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class ChangeHistory;
class ExchangeClock;
class FileReplacement;
class Report;
class Session;
class TComLink;
struct ChangeEntry;
struct InventoryFind;
struct ReadOutcome;

// A port opened as a bus of its own, for a run beside other ports' (scan and
// inventory --all-ports): the line a session of its own talks through, and
// the clock that line waits on. The port closes with it.
class PortLine {
 public:
  virtual ~PortLine() = default;
  virtual TComLink& Link() = 0;
  virtual ExchangeClock& Clock() = 0;
};

// How tl8ctl reaches ports: the program gives it the system's, a test its own.
struct PortAccess {
  // Opens the line the session talks through on the port --port names;
  // throws EComPort when the port does not open.
  std::function<void(const QString& port)> open;
  // The system's ports, described; throws EComPort when the list cannot be read.
  std::function<std::vector<ComPortInfo>()> list;
  // Opens a port of that list as a line of its own. The ports of --all-ports
  // run at once, each on a thread of its own, which calls this. Throws
  // EComPort when the port does not open.
  std::function<std::unique_ptr<PortLine>(const QString& port)> openLine;
};

// The adapter did not answer, or answered wrongly; the message is the tool's
// own text.
class EAdapterFailure : public std::runtime_error {
 public:
  explicit EAdapterFailure(const QString& text) : std::runtime_error(text.toStdString()) {}
};

// An input the command cannot use; nothing has been sent.
class EBadInput : public std::runtime_error {
 public:
  explicit EBadInput(const QString& text) : std::runtime_error(text.toStdString()) {}
};

class CommandRun {
 public:
  // Checks and readies every input of the command, an entry of `history`
  // (the change records) among them; throws EBadInput or the file error
  // (textfile.h) of a file that cannot be read or made.
  CommandRun(const Invocation& invocation, Report& report, const ChangeHistory* history = nullptr);
  ~CommandRun();
  CommandRun(const CommandRun&) = delete;
  CommandRun& operator=(const CommandRun&) = delete;

  // Whether it runs on the port --port names, opened before Run (the change
  // records' commands but restore need none).
  bool OpensNamedPort() const;

  // Runs it on a session talking to DeviceAddress, on the port --port named
  // (opened), or with --all-ports on every free port at once, each opened
  // through `ports` with a session of its own that `session`'s stop event
  // stops too. Throws EAdapterFailure or the port's EComPort; a stop request
  // ends it (EStopRequested).
  void Run(Session& session, const PortAccess& ports);

 private:
  void Scan(Session& session);
  void ScanAllPorts(Session& session, const PortAccess& ports);
  void InventoryAllPorts(Session& session, const PortAccess& ports);
  void ListPorts(const PortAccess& ports);
  void Read(Session& session);
  void Save(Session& session);
  void Write(Session& session);
  void WriteBounds(Session& session);
  void SetAddress(Session& session);
  void PassThrough(Session& session);
  // Every adapter between --from and --to: the search going on after each
  // one found, and the read of each.
  void Inventory(Session& session);
  void ListHistory(Session& session);
  void Restore(Session& session);
  void SaveReport();

  // The read before a recorded write: its values are the record's values
  // before. None when the write is not recorded.
  void ReadBeforeWriting(Session& session);
  // Writes the session's image, moving the adapter to `newAddress` first,
  // recorded as coming from `frontEnd`.
  void WriteAndReport(Session& session, int32_t newAddress, const QString& frontEnd);
  // The entry the command names; throws EBadInput when there is none.
  ChangeEntry EntryNamed(const ChangeHistory* history) const;
  // Shows an exchange's step on the progress line; an empty text ends it.
  void ShowStep(const QString& text);
  // ShowStep for the steps of an exchange.
  std::function<void(const QString&)> Shower() {
    return [this](const QString& step) { ShowStep(step); };
  }
  // Tells an adapter the inventory found: its reading (with the port it is
  // on, when given), then why its read failed.
  void TellFind(const QString& port, const InventoryFind& find);

  const Invocation& invocation_;
  Report& report_;
  std::optional<ImageTexts> coefficients_;   // write: the file's texts
  std::array<QString, 6> bounds_;            // write-bounds: the file's six bounds
  std::unique_ptr<FileReplacement> saveTo_;  // save, report: the file, made ready
  std::unique_ptr<ChangeEntry> entry_;       // restore, report: the entry named
};
