#include "cli/commands.h"

#include "cli/every_port.h"
#include "cli/report.h"
#include "modbus/boundsfile.h"
#include "modbus/coeffile.h"
#include "modbus/number_text.h"
#include "modbus/password.h"
#include "modbus/register_map.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "ui/tool_texts.h"

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
  QJsonArray values;
  for (const QString& text : reading.shown) values.append(*StrictToFloat(text));
  return {{"address", reading.storedAddress},
          {"answering_address", reading.answeringAddress},
          {"serial", reading.serialNumber},
          {"date", reading.writeDate},
          {"values", values}};
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

CommandRun::CommandRun(const Invocation& invocation, Report& report)
    : invocation_(invocation), report_(report) {
  switch (invocation.command.value()) {
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
  return invocation_.command != Command::Ports && !invocation_.allPorts;
}

void CommandRun::Run(Session& session, const PortAccess& ports) {
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

void CommandRun::Write(Session& session) {
  ImageTexts texts = *coefficients_;
  texts.Moment = QDateTime::currentDateTime();
  if (!BuildParamImage(texts, session.Params(), session.Exchange()))
    throw EBadInput(kCheckDataText);
  WriteAndReport(session, StrToInt(texts.Address));
}

void CommandRun::WriteBounds(Session& session) {
  // The bounds window's read on request; a set that does not check out is
  // not written back with a fresh checksum.
  const ReadOutcome outcome = ReadOrFail(
      session, [this](const QString& step) { ShowStep(step); }, RetryPause::BeforeRetry,
      invocation_.fast);
  RequireChecksum(outcome);
  const AdapterReading& reading = outcome.reading;
  ImageTexts texts{{},
                   SerialNumberText(reading.serialNumber),
                   QString::number(reading.answeringAddress),
                   QDateTime::currentDateTime()};
  for (size_t b = 0; b < kBoundParams.size(); ++b) texts.FloatFields[kBoundParams[b]] = bounds_[b];
  if (!BuildParamImage(texts, session.Params(), session.Exchange()))
    throw EBadInput(kCheckDataText);
  WriteAndReport(session, reading.answeringAddress);
}

void CommandRun::WriteAndReport(Session& session, int32_t newAddress) {
  const WriteOutcome outcome = WriteImage(
      session, newAddress, {{}, [this](int i) {
                              ShowStep(Steps(QStringLiteral("writing parameter"), i, kParamCount));
                            }});
  report_.EndProgress();
  if (outcome.result != WriteResult::Written) throw EAdapterFailure(kNoAnswerText);
  if (report_.Json())
    report_.Object({{"address", newAddress}});
  else
    report_.Line("written to address " + QString::number(newAddress));
}

void CommandRun::SetAddress(Session& session) {
  const int address = invocation_.newAddress;
  BroadcastNewAddress(session, address);
  // The search's read, at the new address only.
  if (FindAdapterAddress(
          session, [] {}, address, address) != address)
    throw EAdapterFailure(NoAdapterText(session.DeviceAddress()));
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
