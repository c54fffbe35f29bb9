#include "cli/commands.h"

#include "cli/report.h"
#include "modbus/boundsfile.h"
#include "modbus/coeffile.h"
#include "modbus/number_text.h"
#include "modbus/password.h"
#include "modbus/register_map.h"
#include "modbus/service_steps.h"
#include "modbus/session.h"
#include "ui/service_texts.h"

#include <QJsonArray>

#include <algorithm>

namespace {

// Bounds-window parameters, in the order of the bound boxes and of tmp.dat.
constexpr std::array<int, 6> kBoundParams = {1, 2, 5, 6, 9, 10};

constexpr int kReadPauseMs = 50;  // after each parameter, as a read on request

// What a read of all parameters found, as the calibration window shows it.
struct Reading {
  int answeredBy = 0;  // the address in the probe's answer
  int address = 0;     // parameter 15's copy of the address
  int32_t serial = 0;
  QString date;
  std::array<QString, kFloatParamCount> shown;
  bool checksumMatches = false;
};

void ShowSteps(Report& report, const QString& what, int done, int of) {
  report.Progress(QStringLiteral("%1 %2/%3").arg(what).arg(done).arg(of));
}

// The probe, then every parameter with its retry; the windows' texts when
// the adapter does not answer or a parameter fails twice.
Reading ReadAdapter(Session& s, Report& report, RetryPause probePause) {
  ExchangeState& x = s.Exchange;
  s.Params.ReadFailed = 0;
  if (!AnsweredWithRetry(
          s, [&s] { s.Requests.ReadParameter(1); }, probePause))
    throw EAdapterFailure(NoAdapterText(x.DeviceAddress));
  Reading reading;
  reading.answeredBy = static_cast<uint8_t>(x.ResponseText[0]);
  const auto shown = [&](int i) {
    switch (ParamInfoOf(i).kind) {
      case ParamKind::Float:
        reading.shown[i - 1] = ParamShownText(i, x.ParamValue);
        break;
      case ParamKind::SerialNumber:
        reading.serial = x.SerialNumber;
        break;
      case ParamKind::Stamp:
        reading.date = x.StampText;
        break;
      case ParamKind::Address:
        reading.address = s.Params.ParamRaw[ParamByteOffset(i) + 1];
        break;
      case ParamKind::Checksum:
        break;
    }
    ShowSteps(report, QStringLiteral("reading parameter"), i, kParamCount);
  };
  const bool complete = ReadAllParameters(s, shown, kReadPauseMs);
  report.EndProgress();
  if (!complete) throw EAdapterFailure(kReadFailedText);
  reading.checksumMatches = ChecksumVerify(s.Params, s.Exchange);
  return reading;
}

void Print(Report& report, const Reading& reading) {
  if (report.Json()) {
    QJsonArray values;
    for (const QString& text : reading.shown) values.append(*StrictToFloat(text));
    report.Object({{"address", reading.address},
                   {"answering_address", reading.answeredBy},
                   {"serial", reading.serial},
                   {"date", reading.date},
                   {"values", values}});
    return;
  }
  report.Line("address " + QString::number(reading.address));
  report.Line("answering_address " + QString::number(reading.answeredBy));
  report.Line("serial  " + SerialNumberText(reading.serial));
  report.Line("date    " + reading.date);
  report.Line("values  " + QStringList(reading.shown.begin(), reading.shown.end()).join(' '));
}

// A reading printed or saved still fails when its checksum does not match.
void RequireChecksum(const Reading& reading) {
  if (!reading.checksumMatches) throw EAdapterFailure(kChecksumErrorText);
}

void RequireCodeWord(int mode, const QString& word) {
  if (!PasswordPasses(mode, word)) throw EBadInput(kWrongPasswordText);
}

// Whether the texts make an image, tried on scratch data: nothing of the
// session changes.
void RequireImage(const ImageTexts& texts, ParamData scratch = {}) {
  ExchangeState exchange;
  if (!BuildParamImage(texts, scratch, exchange)) throw EBadInput(kCheckDataText);
}

}  // namespace

CommandRun::CommandRun(const Invocation& invocation, Report& report)
    : invocation_(invocation), report_(report) {
  switch (invocation.command.value()) {
    case Command::Save:
      saveTo_ = std::make_unique<FileReplacement>(invocation.file, QStringLiteral("save"));
      break;
    case Command::Write: {
      RequireCodeWord(0, invocation.codeWord);
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
      RequireCodeWord(1, invocation.codeWord);
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
      break;  // the command line says it all, and it has been checked
  }
}

CommandRun::~CommandRun() = default;

void CommandRun::Run(Session& session) {
  switch (invocation_.command.value()) {
    case Command::Scan:
      return Scan(session);
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
  }
}

void CommandRun::Scan(Session& session) {
  const int last = invocation_.to;
  int polled = invocation_.from;
  const auto show = [&] { ShowSteps(report_, QStringLiteral("searching address"), polled, last); };
  show();
  // `between` follows an address that did not answer: the next one is polled.
  const auto next = [&] {
    polled = std::min(polled + 1, last);
    show();
  };
  const int found = FindAdapterAddress(session, next, invocation_.from, last);
  report_.EndProgress();
  if (!found) throw EAdapterFailure(kNoAdapterOnLineText);
  if (report_.Json())
    report_.Object({{"address", found}});
  else
    report_.Line(QString::number(found));
}

void CommandRun::Read(Session& session) {
  const Reading reading = ReadAdapter(session, report_, RetryPause::AfterRetry);
  Print(report_, reading);
  RequireChecksum(reading);
}

void CommandRun::Save(Session& session) {
  const Reading reading = ReadAdapter(session, report_, RetryPause::AfterRetry);
  // A reading that does not check out never takes the place of a file that
  // may be the only good copy, unless the user insists.
  if (reading.checksumMatches || invocation_.force) {
    CoefFileFields fields{QString::number(reading.address),
                          CoefFileDateText(QDateTime::currentDateTime()),
                          SerialNumberText(reading.serial), reading.shown};
    saveTo_->Append(CoefFileBytes(fields));
    saveTo_->Commit();
  }
  if (reading.address != reading.answeredBy)
    report_.Error(QStringLiteral("tl8ctl: warning: the adapter answered at %1, but its stored "
                                 "address, saved as the file's address, is %2")
                      .arg(reading.answeredBy)
                      .arg(reading.address));
  Print(report_, reading);
  RequireChecksum(reading);
}

void CommandRun::Write(Session& session) {
  ImageTexts texts = *coefficients_;
  texts.Moment = QDateTime::currentDateTime();
  if (!BuildParamImage(texts, session.Params, session.Exchange)) throw EBadInput(kCheckDataText);
  WriteImage(session, StrToInt(texts.Address));
}

void CommandRun::WriteBounds(Session& session) {
  // The bounds window's read on request; a set that does not check out is
  // not written back with a fresh checksum.
  const Reading reading = ReadAdapter(session, report_, RetryPause::BeforeRetry);
  RequireChecksum(reading);
  ImageTexts texts{{},
                   SerialNumberText(reading.serial),
                   QString::number(reading.answeredBy),
                   QDateTime::currentDateTime()};
  for (size_t b = 0; b < kBoundParams.size(); ++b) texts.FloatFields[kBoundParams[b]] = bounds_[b];
  if (!BuildParamImage(texts, session.Params, session.Exchange)) throw EBadInput(kCheckDataText);
  WriteImage(session, reading.answeredBy);
}

void CommandRun::WriteImage(Session& session, int32_t newAddress) {
  if (!WriteAddressRegister(session, newAddress)) throw EAdapterFailure(kNoAnswerText);
  session.Exchange.DeviceAddress = static_cast<uint8_t>(newAddress);
  const auto written = [this](int i) {
    ShowSteps(report_, QStringLiteral("writing parameter"), i, kParamCount);
  };
  const bool complete = WriteAllParameters(session, written);
  report_.EndProgress();
  if (!complete) throw EAdapterFailure(kNoAnswerText);
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
    throw EAdapterFailure(NoAdapterText(session.Exchange.DeviceAddress));
  if (report_.Json())
    report_.Object({{"address", address}});
  else
    report_.Line(QString::number(address));
}

void CommandRun::PassThrough(Session& session) {
  // The search's read first, as in the windows, where the search always comes
  // before: the adapter's answer to the command is a copy of it, which only a
  // session that has seen whether the line echoes can tell from an echo.
  const int address = session.Exchange.DeviceAddress;
  if (FindAdapterAddress(
          session, [] {}, address, address) != address ||
      !SwitchAdapterToPassThrough(session))
    throw EAdapterFailure(NoAdapterText(session.Exchange.DeviceAddress));
  if (report_.Json())
    report_.Object({{"address", session.Exchange.DeviceAddress}, {"passthrough", true}});
  else
    report_.Line(kPassThroughDoneText);
}
