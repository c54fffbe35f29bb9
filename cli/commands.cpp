#include "cli/commands.h"

#include "cli/every_port.h"
#include "cli/report.h"
#include "modbus/boundsfile.h"
#include "modbus/coeffile.h"
#include "modbus/history.h"
#include "modbus/number_text.h"
#include "modbus/password.h"
#include "modbus/recorded_write.h"
#include "modbus/register_map.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "modbus/textfile.h"
#include "report/protocol.h"
#include "ui/tool_texts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonArray>

#include <algorithm>
#include <optional>

// An adapter the inventory found: its reading, when the read got through,
// and why it failed, when it did (a reading whose checksum fails has both).
struct InventoryFind {
  int address = 0;
  std::optional<AdapterReading> reading;
  QString failure;
};

namespace {

constexpr int kReadPauseMs = 50;  // after each parameter, as a read on request

QString Steps(const QString& what, int done, int of) {
  return QStringLiteral("%1 %2/%3").arg(what).arg(done).arg(of);
}

// The address search from `from` to `to`, each address polled shown as a
// step; the address found, 0 when nobody answered.
int SearchShowingSteps(Session& s, const StepShower& show, int from, int to) {
  const QString what = QStringLiteral("searching address");
  int polled = from;
  show(Steps(what, polled, to));
  // `between` follows an address that did not answer: the next one is polled.
  const auto next = [&] {
    polled = std::min(polled + 1, to);
    show(Steps(what, polled, to));
  };
  const int found = FindAdapterAddress(s, next, from, to);
  show({});
  return found;
}

// The probe, then every parameter with its retry, each shown as a step.
ReadOutcome ReadShowingSteps(Session& s, const StepShower& show, RetryPause probePause, bool fast) {
  const ReadOutcome outcome =
      ReadAdapter(s, {ReadPlan::FirstRequest::Probe, probePause, kReadPauseMs, fast},
                  {{}, [&show](const ParameterReading& parameter) {
                     show(Steps(QStringLiteral("reading parameter"), parameter.index, kParamCount));
                   }});
  show({});
  return outcome;
}

// The windows' text when a read did not get through: the adapter did not
// answer, or a parameter failed twice.
QString ReadFailureText(const ReadOutcome& outcome, uint8_t address) {
  return outcome.result == ReadResult::NoAnswer ? NoAdapterText(address) : kReadFailedText;
}

ReadOutcome ReadOrFail(Session& s, const StepShower& show, RetryPause probePause, bool fast) {
  const ReadOutcome outcome = ReadShowingSteps(s, show, probePause, fast);
  if (outcome.result != ReadResult::Read)
    throw EAdapterFailure(ReadFailureText(outcome, s.DeviceAddress()));
  return outcome;
}

QJsonObject ReadingObject(const AdapterReading& reading) {
  QJsonObject object = ReadingValuesObject(reading);
  object["answering_address"] = reading.answeringAddress;
  return object;
}

// No answer at the new address: through a gateway, which may have dropped
// the broadcast, the change could not be confirmed.
QString UnconfirmedAddressText(Session& session, int address) {
  if (session.Requests().ThroughGateway())
    return GatewayUnconfirmedText(address).replace('\r', ' ');
  return NoAdapterText(static_cast<uint8_t>(address));
}

QString ValuesText(const AdapterReading& reading) {
  return QStringList(reading.shown.begin(), reading.shown.end()).join(' ');
}

void Print(Report& report, const AdapterReading& reading) {
  if (report.Json()) return report.Object(ReadingObject(reading));
  report.Line("address " + QString::number(reading.storedAddress));
  report.Line("answering_address " + QString::number(reading.answeringAddress));
  report.Line("serial  " + SerialNumberText(reading.serialNumber));
  report.Line("date    " + reading.writeDate);
  report.Line("values  " + ValuesText(reading));
}

// An adapter of the inventory: read's object, or its words in one line;
// with the port it is on first, when given.
void PrintLine(Report& report, const QString& port, const AdapterReading& reading) {
  if (report.Json()) {
    QJsonObject object = ReadingObject(reading);
    if (!port.isEmpty()) object.insert(QStringLiteral("port"), port);
    return report.Object(object);
  }
  report.Line(
      (port.isEmpty() ? QString() : port + ' ') +
      QStringLiteral("address %1 answering_address %2 serial %3 date %4 values %5")
          .arg(reading.storedAddress)
          .arg(reading.answeringAddress)
          .arg(SerialNumberText(reading.serialNumber), reading.writeDate, ValuesText(reading)));
}

// A reading printed or saved still fails when its checksum does not match.
void RequireChecksum(const ReadOutcome& outcome) {
  if (!outcome.checksumMatches) throw EAdapterFailure(kChecksumErrorText);
}

void RequireCodeWord(PasswordRequest request, const QString& word) {
  if (!PasswordPasses(request, word)) throw EBadInput(kWrongPasswordText);
}

// The change record could not be written: nothing goes to the adapter.
void RequireRecorded(const QString& refusal) {
  if (!refusal.isEmpty())
    throw EBadInput(QStringLiteral("tl8ctl: the change record cannot be written: %1; nothing was "
                                   "written to the adapter (--no-history writes without a record)")
                        .arg(refusal));
}

void WarnIfNotCompleted(Report& report, const QString& id, const QString& completionError) {
  if (!completionError.isEmpty())
    report.Error(QStringLiteral("tl8ctl: warning: the change record %1 keeps no outcome: %2")
                     .arg(id, completionError));
}

// One entry of the change records in a line.
QString HistoryLine(const ChangeEntry& e) {
  QString outcome = OutcomeText(e);
  if (!e.before)
    outcome += QStringLiteral(" (values before unknown)");
  else if (e.after && e.steps > 2 && e.outcome == ChangeOutcome::Written)
    outcome += ChangedValues(e).size() == 1
                   ? QStringLiteral(" (1 value changed)")
                   : QStringLiteral(" (%1 values changed)").arg(ChangedValues(e).size());
  return QStringLiteral("%1  %2  %3  %4  %5  serial %6  address %7->%8  %9")
      .arg(e.id, TimeWithOffset(e.time, false), e.user, e.frontEnd,
           e.port.isEmpty() ? QStringLiteral("-") : e.port,
           e.serial ? SerialNumberText(*e.serial) : QStringLiteral("unknown"))
      .arg(e.addressBefore)
      .arg(e.addressAfter)
      .arg(outcome);
}

// The session's writes go unrecorded while it lives (--no-history); its
// records stay readable for the command.
class RecordsOff {
 public:
  RecordsOff(Session& session, bool off) : session_(session), history_(session.History()) {
    if (off) session_.RecordChangesIn(nullptr);
  }
  ~RecordsOff() { session_.RecordChangesIn(history_); }
  RecordsOff(const RecordsOff&) = delete;
  RecordsOff& operator=(const RecordsOff&) = delete;

 private:
  Session& session_;
  ChangeHistory* history_;
};

// Whether the texts make an image, tried on scratch data: nothing of the
// session changes.
void RequireImage(const ImageTexts& texts, ParamData scratch = {}) {
  ExchangeState exchange;
  if (!BuildParamImage(texts, scratch, exchange)) throw EBadInput(kCheckDataText);
}

// Every adapter between `from` and `to`: the search going on after each one
// found, and the read of each, handed to `found` as it is read.
void TakeInventory(Session& s, const StepShower& show, int from, int to, bool fast,
                   const std::function<void(const InventoryFind&)>& found) {
  while (from <= to) {
    const int address = SearchShowingSteps(s, show, from, to);
    if (!address) return;
    s.TalkTo(static_cast<uint8_t>(address));
    const ReadOutcome outcome = ReadShowingSteps(s, show, RetryPause::AfterRetry, fast);
    InventoryFind find{address, {}, {}};
    if (outcome.result != ReadResult::Read) {
      find.failure = ReadFailureText(outcome, static_cast<uint8_t>(address));
    } else {
      find.reading = outcome.reading;  // shown even when its checksum fails, as by read
      if (!outcome.checksumMatches) find.failure = kChecksumErrorText;
    }
    found(find);
    from = address + 1;
  }
}

// An inventory is done when every adapter found was read: else it fails
// with `problems`, the reads that failed first.
void RequireEveryRead(int found, const QStringList& failed, QStringList problems = {}) {
  if (!failed.isEmpty())
    problems.prepend(QStringLiteral("the read failed at %1 (%2 of %3 adapters found)")
                         .arg(failed.join(QStringLiteral(", ")))
                         .arg(failed.size())
                         .arg(found));
  if (!problems.isEmpty()) throw EAdapterFailure("tl8ctl: " + problems.join(QStringLiteral("; ")));
  if (!found) throw EAdapterFailure(kNoAdapterOnLineText);
}

// A stop request that ended any port ends the run, once everything else is told.
void RequireNoStop(const std::vector<PortEnd>& ends) {
  if (std::find(ends.begin(), ends.end(), PortEnd::Stopped) != ends.end()) throw EStopRequested();
}

// A port of the list in a word: the console is no line for an adapter,
// whoever holds it.
QString PortState(const ComPortInfo& port) {
  if (port.console) return QStringLiteral("console");
  return port.busy ? QStringLiteral("busy") : QStringLiteral("free");
}

}  // namespace

CommandRun::CommandRun(const Invocation& invocation, Report& report, const ChangeHistory* history)
    : invocation_(invocation), report_(report) {
  switch (invocation.command.value()) {
    case Command::Restore: {
      RequireCodeWord(PasswordRequest::Write, invocation.codeWord);
      entry_ = std::make_unique<ChangeEntry>(EntryNamed(history));
      if (!entry_->before)
        throw EBadInput(QStringLiteral("tl8ctl: entry %1 holds no values before its write: "
                                       "nothing to restore")
                            .arg(entry_->id));
      const int address = entry_->addressBefore;
      if (!IsAdapterAddress(address)) throw EBadInput(kAddressRangeText);
      if (address != invocation.address && !invocation.readdress)
        throw EBadInput(QStringLiteral("tl8ctl: entry %1 puts the adapter back at address %2, not "
                                       "at --address %3; --readdress allows the move")
                            .arg(entry_->id)
                            .arg(address)
                            .arg(invocation.address));
      break;
    }
    case Command::Report:
      entry_ = std::make_unique<ChangeEntry>(EntryNamed(history));
      saveTo_ = std::make_unique<FileReplacement>(invocation.output, QStringLiteral("save"));
      break;
    case Command::History:
      break;
    case Command::Save:
      saveTo_ = std::make_unique<FileReplacement>(invocation.file, QStringLiteral("save"));
      break;
    case Command::Write: {
      RequireCodeWord(PasswordRequest::Write, invocation.codeWord);
      const CoefFileFields fields = LoadCoefFile(invocation.file);
      const int32_t fileAddress = StrToInt(fields.Address);
      if (!IsAdapterAddress(fileAddress)) throw EBadInput(kAddressRangeText);
      // The write gives the adapter the file's address: only on request may
      // that move it away from the address it answers at.
      if (fileAddress != invocation.address && !invocation.readdress)
        throw EBadInput(QStringLiteral("tl8ctl: the file's address %1 is not the adapter's address "
                                       "%2; --readdress moves the adapter to %1")
                            .arg(fileAddress)
                            .arg(invocation.address));
      ImageTexts texts{{}, fields.SerialNumber, fields.Address, QDateTime::currentDateTime()};
      for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = fields.Coefficients[i - 1];
      RequireImage(texts);
      coefficients_ = texts;
      break;
    }
    case Command::WriteBounds: {
      RequireCodeWord(PasswordRequest::Unlock, invocation.codeWord);
      bounds_ = LoadBoundsFile(invocation.file);
      // The other parameters come from the adapter; any number stands in for them here.
      ImageTexts texts{{}, QStringLiteral("0"), QStringLiteral("1"), QDateTime::currentDateTime()};
      ParamData standIn;
      for (int i = 1; i <= kFloatParamCount; ++i) standIn.ParamText[i] = QStringLiteral("0");
      for (size_t b = 0; b < kBoundParams.size(); ++b)
        texts.FloatFields[kBoundParams[b]] = bounds_[b];
      RequireImage(texts, standIn);
      break;
    }
    case Command::Scan:
    case Command::Read:
    case Command::SetAddress:
    case Command::PassThrough:
    case Command::Inventory:
    case Command::Ports:
      break;  // the command line says it all, and it has been checked
  }
}

CommandRun::~CommandRun() = default;

bool CommandRun::OpensNamedPort() const {
  const Command command = invocation_.command.value();
  return command != Command::Ports && command != Command::History && command != Command::Report &&
         !invocation_.allPorts;
}

ChangeEntry CommandRun::EntryNamed(const ChangeHistory* history) const {
  if (!history) throw EBadInput(QStringLiteral("tl8ctl: no change records are kept here"));
  QStringList notes;
  std::optional<ChangeEntry> entry = history->Find(invocation_.entryId, notes);
  for (const QString& note : notes) report_.Error("tl8ctl: note: " + note);
  if (!entry)
    throw EBadInput(
        QStringLiteral("tl8ctl: no entry %1 in the change records").arg(invocation_.entryId));
  return std::move(*entry);
}

void CommandRun::Run(Session& session, const PortAccess& ports) {
  const RecordsOff records(session, invocation_.noHistory);
  switch (invocation_.command.value()) {
    case Command::Scan:
      return invocation_.allPorts ? ScanAllPorts(session, ports) : Scan(session);
    case Command::Ports:
      return ListPorts(ports);
    case Command::Read:
      return Read(session);
    case Command::Save:
      return Save(session);
    case Command::Write:
      return Write(session);
    case Command::WriteBounds:
      return WriteBounds(session);
    case Command::SetAddress:
      return SetAddress(session);
    case Command::PassThrough:
      return PassThrough(session);
    case Command::Inventory:
      return invocation_.allPorts ? InventoryAllPorts(session, ports) : Inventory(session);
    case Command::History:
      return ListHistory(session);
    case Command::Restore:
      return Restore(session);
    case Command::Report:
      return SaveReport();
  }
}

void CommandRun::ShowStep(const QString& text) {
  if (text.isEmpty())
    report_.EndProgress();
  else
    report_.Progress(text);
}

void CommandRun::Scan(Session& session) {
  const int found = SearchShowingSteps(
      session, [this](const QString& step) { ShowStep(step); }, invocation_.from, invocation_.to);
  if (!found) throw EAdapterFailure(kNoAdapterOnLineText);
  if (report_.Json())
    report_.Object({{"address", found}});
  else
    report_.Line(QString::number(found));
}

void CommandRun::ScanAllPorts(Session& session, const PortAccess& ports) {
  const std::vector<ComPortInfo> listed = ports.list();
  std::vector<int> found(listed.size(), 0);  // each port's address found
  const auto name = [&listed](size_t index) { return QString::fromStdString(listed[index].name); };
  const std::vector<PortEnd> ends = RunOnEveryPort(
      listed, {ports, session.StopEvent(), report_, invocation_.trace},
      [&](size_t index, Session& own, const StepShower& show) {
        found[index] = SearchShowingSteps(own, show, invocation_.from, invocation_.to);
      },
      [&](size_t index) {
        if (found[index] && !report_.Json())
          report_.Line(name(index) + ' ' + QString::number(found[index]));
      });
  RequireNoStop(ends);
  QJsonArray array;
  for (size_t index = 0; index < listed.size(); ++index)
    if (found[index]) array.append(QJsonObject{{"port", name(index)}, {"address", found[index]}});
  // In JSON mode a failure is its error object alone, never after an array.
  if (array.isEmpty()) throw EAdapterFailure(kNoAdapterOnLineText);
  if (report_.Json()) report_.Array(array);
}

void CommandRun::InventoryAllPorts(Session& session, const PortAccess& ports) {
  const std::vector<ComPortInfo> listed = ports.list();
  std::vector<std::vector<InventoryFind>> finds(listed.size());  // each port's, in order
  int found = 0;
  QStringList failed;  // "PORT ADDRESS" of each read that failed
  const auto name = [&listed](size_t index) { return QString::fromStdString(listed[index].name); };
  const std::vector<PortEnd> ends = RunOnEveryPort(
      listed, {ports, session.StopEvent(), report_, invocation_.trace},
      [&](size_t index, Session& own, const StepShower& show) {
        TakeInventory(own, show, invocation_.from, invocation_.to, invocation_.fast,
                      [&finds, index](const InventoryFind& find) { finds[index].push_back(find); });
      },
      [&](size_t index) {
        for (const InventoryFind& find : finds[index]) {
          ++found;
          TellFind(name(index), find);
          if (!find.failure.isEmpty()) failed << name(index) + ' ' + QString::number(find.address);
        }
      });
  RequireNoStop(ends);
  QStringList lost;  // the ports whose line failed: adapters there may be missing
  for (size_t index = 0; index < listed.size(); ++index)
    if (ends[index] == PortEnd::LineFailed) lost << name(index);
  RequireEveryRead(
      found, failed,
      lost.isEmpty() ? QStringList() : QStringList{"the line failed on " + lost.join(", ")});
}

void CommandRun::ListPorts(const PortAccess& ports) {
  const std::vector<ComPortInfo> listed = ports.list();
  if (report_.Json()) {
    QJsonArray array;
    for (const ComPortInfo& port : listed)
      array.append(QJsonObject{{"name", QString::fromStdString(port.name)},
                               {"description", QString::fromStdString(port.description)},
                               {"busy", port.busy},
                               {"console", port.console}});
    report_.Array(array);
    return;
  }
  qsizetype width = 0;
  qsizetype stateWidth = 0;
  for (const ComPortInfo& port : listed) {
    width = std::max(width, QString::fromStdString(port.name).size());
    stateWidth = std::max(stateWidth, PortState(port).size());
  }
  for (const ComPortInfo& port : listed) {
    const QString line = QString::fromStdString(port.name).leftJustified(width) + "  " +
                         PortState(port).leftJustified(stateWidth) + "  " +
                         QString::fromStdString(port.description);
    report_.Line(line.trimmed());
  }
}

void CommandRun::Read(Session& session) {
  const ReadOutcome outcome = ReadOrFail(
      session, [this](const QString& step) { ShowStep(step); }, RetryPause::AfterRetry,
      invocation_.fast);
  Print(report_, outcome.reading);
  RequireChecksum(outcome);
}

void CommandRun::Save(Session& session) {
  const ReadOutcome outcome = ReadOrFail(
      session, [this](const QString& step) { ShowStep(step); }, RetryPause::AfterRetry,
      invocation_.fast);
  const AdapterReading& reading = outcome.reading;
  // A reading that does not check out never takes the place of a file that
  // may be the only good copy, unless the user insists.
  if (outcome.checksumMatches || invocation_.force) {
    CoefFileFields fields{QString::number(reading.storedAddress),
                          CoefFileDateText(QDateTime::currentDateTime()),
                          SerialNumberText(reading.serialNumber), reading.shown};
    saveTo_->Append(CoefFileBytes(fields));
    saveTo_->Commit();
  }
  if (reading.storedAddress != reading.answeringAddress)
    report_.Error(QStringLiteral("tl8ctl: warning: the adapter answered at %1, but its stored "
                                 "address, saved as the file's address, is %2")
                      .arg(reading.answeringAddress)
                      .arg(reading.storedAddress));
  Print(report_, reading);
  RequireChecksum(outcome);
}

void CommandRun::ReadBeforeWriting(Session& session) {
  // A read that fails leaves the values before unknown; the write goes on
  // as without a record.
  if (session.History()) ReadShowingSteps(session, Shower(), RetryPause::AfterRetry, true);
}

void CommandRun::Write(Session& session) {
  ReadBeforeWriting(session);
  ImageTexts texts = *coefficients_;
  texts.Moment = QDateTime::currentDateTime();
  if (!BuildParamImage(texts, session.Params(), session.Exchange()))
    throw EBadInput(kCheckDataText);
  WriteAndReport(session, StrToInt(texts.Address), QStringLiteral("tl8ctl write"));
}

void CommandRun::WriteBounds(Session& session) {
  // The bounds window's read on request; a set that does not check out is
  // not written back with a fresh checksum.
  // Its read is the record's read before.
  const ReadOutcome outcome =
      ReadOrFail(session, Shower(), RetryPause::BeforeRetry, invocation_.fast);
  const AdapterReading& reading = outcome.reading;
  ImageTexts texts{{},
                   SerialNumberText(reading.serialNumber),
                   QString::number(reading.answeringAddress),
                   QDateTime::currentDateTime()};
  for (size_t b = 0; b < kBoundParams.size(); ++b) texts.FloatFields[kBoundParams[b]] = bounds_[b];
  if (!BuildParamImage(texts, session.Params(), session.Exchange()))
    throw EBadInput(kCheckDataText);
  const QString frontEnd = QStringLiteral("tl8ctl write-bounds");
  if (!outcome.checksumMatches) {
    // The attempt is recorded too: what was there, and what was not written.
    const QString why = RecordChecksumMismatch(session, {frontEnd, kNoAnswerText},
                                               reading.answeringAddress, kChecksumErrorText);
    if (!why.isEmpty())
      report_.Error("tl8ctl: warning: the change record cannot be written: " + why);
    RequireChecksum(outcome);
  }
  WriteAndReport(session, reading.answeringAddress, frontEnd);
}

void CommandRun::WriteAndReport(Session& session, int32_t newAddress, const QString& frontEnd) {
  const RecordedWriteOutcome recorded = WriteImageRecorded(
      session, {frontEnd, kNoAnswerText}, newAddress,
      {{},
       [this](int i) { ShowStep(Steps(QStringLiteral("writing parameter"), i, kParamCount)); }});
  report_.EndProgress();
  RequireRecorded(recorded.refusal);
  WarnIfNotCompleted(report_, recorded.entryId, recorded.completionError);
  if (recorded.write.result != WriteResult::Written) throw EAdapterFailure(kNoAnswerText);
  if (report_.Json())
    report_.Object({{"address", newAddress}});
  else
    report_.Line("written to address " + QString::number(newAddress));
}

void CommandRun::SetAddress(Session& session) {
  const int address = invocation_.newAddress;
  ReadBeforeWriting(session);
  // The broadcast, then the search's read at the new address only.
  const RecordedAddressOutcome recorded = BroadcastNewAddressRecorded(
      session, {QStringLiteral("tl8ctl set-address"), UnconfirmedAddressText(session, address)},
      address, true);
  RequireRecorded(recorded.refusal);
  WarnIfNotCompleted(report_, recorded.entryId, recorded.completionError);
  if (!recorded.confirmed) throw EAdapterFailure(UnconfirmedAddressText(session, address));
  if (report_.Json())
    report_.Object({{"address", address}});
  else
    report_.Line(QString::number(address));
}

void CommandRun::PassThrough(Session& session) {
  // The search's read first, as in the windows, where the search always comes
  // before: the adapter's answer to the command is a copy of it, which only a
  // session that has seen whether the line echoes can tell from an echo.
  const int address = session.DeviceAddress();
  if (FindAdapterAddress(
          session, [] {}, address, address) != address ||
      !SwitchAdapterToPassThrough(session))
    throw EAdapterFailure(NoAdapterText(session.DeviceAddress()));
  if (report_.Json())
    report_.Object({{"address", session.DeviceAddress()}, {"passthrough", true}});
  else
    report_.Line(kPassThroughDoneText);
}

void CommandRun::TellFind(const QString& port, const InventoryFind& find) {
  if (find.reading) PrintLine(report_, port, *find.reading);
  if (find.failure.isEmpty()) return;
  const QString where = port.isEmpty() ? QString() : port + ": ";
  report_.Error(
      QStringLiteral("tl8ctl: %1adapter %2: %3").arg(where).arg(find.address).arg(find.failure));
}

void CommandRun::Inventory(Session& session) {
  int found = 0;
  QStringList failed;  // the addresses whose read failed
  TakeInventory(
      session, [this](const QString& step) { ShowStep(step); }, invocation_.from, invocation_.to,
      invocation_.fast,
      [&](const InventoryFind& find) {
        ++found;
        TellFind({}, find);
        if (!find.failure.isEmpty()) failed << QString::number(find.address);
      });
  RequireEveryRead(found, failed);
}

void CommandRun::ListHistory(Session& session) {
  const ChangeHistory* history = session.History();
  if (!history) throw EBadInput(QStringLiteral("tl8ctl: no change records are kept here"));
  const ChangeHistory::Listing listing = history->Entries(invocation_.serial);
  for (const QString& note : listing.notes) report_.Error("tl8ctl: note: " + note);
  for (const ChangeEntry& entry : listing.entries) {
    if (report_.Json())
      report_.Object(EntryObject(entry));
    else
      report_.Line(HistoryLine(entry));
  }
}

void CommandRun::Restore(Session& session) {
  const ChangeEntry& entry = *entry_;
  const AdapterReading& before = *entry.before;
  // Only into the adapter the entry is of: the read is the new record's
  // values before, too.
  const ReadOutcome now = ReadOrFail(session, Shower(), RetryPause::AfterRetry, true);
  const int32_t serial = now.reading.serialNumber;
  if (serial != before.serialNumber && !(entry.after && serial == entry.after->serialNumber))
    throw EAdapterFailure(
        QStringLiteral("tl8ctl: the adapter at %1 has serial number %2, entry "
                       "%3 is of %4: nothing was written")
            .arg(session.DeviceAddress())
            .arg(SerialNumberText(serial), entry.id, SerialNumberText(before.serialNumber)));
  ImageTexts texts{{},
                   SerialNumberText(before.serialNumber),
                   QString::number(entry.addressBefore),
                   QDateTime::currentDateTime()};
  for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = before.shown[i - 1];
  if (!BuildParamImage(texts, session.Params(), session.Exchange()))
    throw EBadInput(kCheckDataText);
  WriteAndReport(session, entry.addressBefore, "tl8ctl restore " + entry.id);
}

void CommandRun::SaveReport() {
  // The page's fonts come from Qt's GUI platform, which tl8ctl starts for this command.
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    throw EBadInput(QStringLiteral("tl8ctl: report needs Qt's GUI platform"));
  saveTo_->Append(ServiceProtocolPdf(*entry_));
  saveTo_->Commit();
  if (report_.Json())
    report_.Object({{"id", entry_->id}, {"file", invocation_.output}});
  else
    report_.Line(invocation_.output);
}
