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
class FileReplacement;
class Report;
class Session;
struct ChangeEntry;
struct ReadOutcome;

// How tl8ctl reaches ports: the program gives it the system's, a test its own.
struct PortAccess {
  // Opens the line the session talks through on the port named (--port, or
  // each port of scan --all-ports in turn, the one before closed first);
  // throws EComPort when the port does not open.
  std::function<void(const QString& port)> open;
  // The system's ports, described; throws EComPort when the list cannot be read.
  std::function<std::vector<ComPortInfo>()> list;
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
  // (opened) or on the ports it opens itself through `ports`. Throws
  // EAdapterFailure or the port's EComPort; a stop request ends it
  // (EStopRequested).
  void Run(Session& session, const PortAccess& ports);

 private:
  void Scan(Session& session);
  void ScanAllPorts(Session& session, const PortAccess& ports);
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

  const Invocation& invocation_;
  Report& report_;
  std::optional<ImageTexts> coefficients_;   // write: the file's texts
  std::array<QString, 6> bounds_;            // write-bounds: the file's six bounds
  std::unique_ptr<FileReplacement> saveTo_;  // save, report: the file, made ready
  std::unique_ptr<ChangeEntry> entry_;       // restore, report: the entry named
};
