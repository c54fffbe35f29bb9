#include "modbus/service.h"

#include "modbus/number_text.h"
#include "modbus/register_map.h"
#include "modbus/session.h"

#include <algorithm>
#include <optional>
#include <set>

namespace {

constexpr size_t kShortestAnswer = 3;  // address, function and one byte more
constexpr int kPauseMs = 50;           // before a retry and between written parameters
constexpr uint8_t kParameterByteCount = 4;

bool ReadParameterWithRetry(Session& s) {
  s.Requests().ReadParameter(0);
  if (s.Exchange().ResponseStatus != kStatusAccepted) s.Requests().ReadParameter(0);
  return s.Exchange().ResponseStatus == kStatusAccepted;
}

// Sends, and when the answer is not `usable` sends `retry` (the same request
// when empty) once more, pausing 50 ms before or after the second try.
bool TriedTwice(Session& s, const std::function<void()>& send, const std::function<bool()>& usable,
                RetryPause pause, const std::function<void()>& retry, int pauseMs = kPauseMs) {
  send();
  if (usable()) return true;
  if (pause == RetryPause::BeforeRetry) s.Requests().Clock().Delay(pauseMs);
  (retry ? retry : send)();
  if (pause == RetryPause::AfterRetry) s.Requests().Clock().Delay(pauseMs);
  return usable();
}

// Fast reads for as long as it lives, when asked for.
class FastReads {
 public:
  FastReads(ModbusRequests& requests, bool fast) : requests_(requests), was_(requests.FastReads()) {
    requests_.SetFastReads(fast);
  }
  ~FastReads() { requests_.SetFastReads(was_); }
  FastReads(const FastReads&) = delete;
  FastReads& operator=(const FastReads&) = delete;

 private:
  ModbusRequests& requests_;
  bool was_;
};

// Only the adapter's echo of the write counts; a refusal or a stranger's
// answer is no answer to it.
bool AcknowledgedTwice(Session& s, const std::function<void()>& send) {
  return TriedTwice(s, send, [&s] { return s.Exchange().ResponseStatus == kStatusAccepted; },
                    RetryPause::BeforeRetry, {});
}

// The plan's first request, tried twice.
bool FirstRequestAnswered(Session& s, const ReadPlan& plan) {
  ModbusRequests& requests = s.Requests();
  const auto probe = [&requests] { requests.ReadParameter(1); };
  const auto answered = [&s] { return Answered(s); };
  const int pauseMs = requests.PauseBetweenReads(kPauseMs);
  if (plan.first == ReadPlan::FirstRequest::Probe)
    return TriedTwice(s, probe, answered, plan.retryPause, {}, pauseMs);
  s.Exchange().ParamIndex = 1;
  return TriedTwice(
      s, [&requests] { requests.ReadParameter(0); }, answered, plan.retryPause, probe, pauseMs);
}

// Only a parameter's answer carries 4 data bytes; the probe's carries 14.
bool AnswersAParameter(const Session& s) {
  return static_cast<uint8_t>(s.Exchange().ResponseText[2]) == kParameterByteCount;
}

void Keep(AdapterReading& reading, const ParameterReading& parameter, const Session& s) {
  switch (ParamInfoOf(parameter.index).kind) {
    case ParamKind::Float:
      reading.shown[parameter.index - 1] = parameter.shown;
      break;
    case ParamKind::SerialNumber:
      reading.serialNumber = s.Exchange().SerialNumber;
      break;
    case ParamKind::Stamp:
      reading.writeDate = parameter.shown;
      break;
    case ParamKind::Address:
      reading.storedAddress = parameter.shown.toInt();
      break;
    case ParamKind::Checksum:
      break;
  }
}

}  // namespace

bool Answered(const Session& s) { return s.Exchange().ResponseText.size() >= kShortestAnswer; }

bool AnsweredWithRetry(Session& s, const std::function<void()>& send, RetryPause pause,
                       const std::function<void()>& retry) {
  return TriedTwice(
      s, send, [&s] { return Answered(s); }, pause, retry);
}

ParameterReading ReadingOf(int index, const Session& s) {
  const ExchangeState& x = s.Exchange();
  ParameterReading reading{index, x.ParamValue, {}};
  switch (ParamInfoOf(index).kind) {
    case ParamKind::Float:
      reading.shown = ParamShownText(index, x.ParamValue);
      break;
    case ParamKind::SerialNumber:
      reading.shown = SerialNumberText(x.SerialNumber);
      break;
    case ParamKind::Stamp:
      reading.shown = x.StampText;
      break;
    case ParamKind::Address:  // kept in the second of the four bytes
      reading.shown = QString::number(s.Params().ParamRaw[ParamByteOffset(index) + 1]);
      break;
    case ParamKind::Checksum:
      break;
  }
  return reading;
}

bool ReadAllParameters(Session& s, const std::function<void(const ParameterReading&)>& read,
                       int pauseMs) {
  ExchangeState& x = s.Exchange();
  x.ParamIndex = 1;
  for (int i = 1; i <= kParamCount; ++i) {
    if (!ReadParameterWithRetry(s)) {
      s.Params().ReadFailed = 1;
      return false;
    }
    if (IsFloatParam(i)) s.Params().ParamText[i] = ParamTableText(i, x.ParamValue);
    read(ReadingOf(i, s));
    s.Requests().Clock().Delay(pauseMs);
    x.ParamIndex = i + 1;
  }
  return true;
}

ReadOutcome ReadAdapter(Session& s, const ReadPlan& plan, const ReadProgress& progress) {
  const FastReads pace(s.Requests(), plan.fast);
  ReadOutcome outcome;
  s.Params().ReadFailed = 0;
  if (!FirstRequestAnswered(s, plan)) return outcome;
  if (plan.first == ReadPlan::FirstRequest::ParameterOneThenProbe && !AnswersAParameter(s)) {
    outcome.result = ReadResult::UnexpectedAnswer;
    return outcome;
  }
  AdapterReading& reading = outcome.reading;
  reading.answeringAddress = static_cast<uint8_t>(s.Exchange().ResponseText[0]);
  if (progress.answered) progress.answered(reading.answeringAddress);
  const bool complete = ReadAllParameters(
      s,
      [&](const ParameterReading& parameter) {
        Keep(reading, parameter, s);
        if (progress.parameter) progress.parameter(parameter);
      },
      s.Requests().PauseBetweenReads(plan.pauseMs));
  outcome.result = complete ? ReadResult::Read : ReadResult::ParameterFailed;
  outcome.checksumMatches = complete && ChecksumVerify(s.Params(), s.Exchange());
  // What a change record takes as the values before the next write.
  if (complete) s.KeepReading(s.DeviceAddress(), reading);
  return outcome;
}

bool WriteAddressRegister(Session& s, int32_t address) {
  return AcknowledgedTwice(s, [&s, address] {
    s.Requests().WriteSingleRegister(kAddressRegister, static_cast<uint16_t>(address));
  });
}

bool WriteAllParameters(Session& s, const std::function<void(int index)>& written) {
  ExchangeState& x = s.Exchange();
  x.ParamIndex = 1;
  for (int i = 1; i <= kParamCount; ++i) {
    if (!AcknowledgedTwice(s, [&s] { s.Requests().WriteParameter(); })) return false;
    x.ParamIndex = i + 1;
    written(i);
    s.Requests().Clock().Delay(kPauseMs);
  }
  return true;
}

WriteOutcome WriteImage(Session& s, int32_t newAddress, const WriteProgress& progress) {
  if (!WriteAddressRegister(s, newAddress)) return {WriteResult::AddressNotAcknowledged, 0};
  s.TalkTo(static_cast<uint8_t>(newAddress));
  if (progress.addressTaken) progress.addressTaken();
  const bool complete = WriteAllParameters(s, [&progress](int index) {
    if (progress.written) progress.written(index);
  });
  if (complete) return {WriteResult::Written, 0};
  return {WriteResult::ParameterNotAcknowledged, s.Exchange().ParamIndex};
}

int FindAdapterAddress(Session& s, const std::function<void()>& between, int from, int to) {
  ExchangeState& x = s.Exchange();
  const int first = std::max(from, kFirstAdapterAddress);
  std::set<int> askedAgain;
  s.Requests().TakeLateAnswerer();  // of an earlier exchange: not this search's
  for (int address = first; address <= std::min(to, kLastAdapterAddress); ++address) {
    s.Requests().SearchRead(address);
    // Nothing of the answer matters but who sent it and its CRC.
    if (!x.ResponseText.empty() && static_cast<uint8_t>(x.ResponseText[0]) == address &&
        x.ResponseCrcMatches())
      return address;
    // An adapter asked a moment before answered after its wait (a network
    // path longer than the line allowed for): it is asked again, now that the
    // line allows for the path, once.
    if (const std::optional<int> late = s.Requests().TakeLateAnswerer();
        late && *late >= first && *late < address && askedAgain.insert(*late).second)
      address = *late - 1;
    between();
  }
  return 0;
}

void BroadcastNewAddress(Session& s, int32_t address) {
  s.TalkTo(static_cast<uint8_t>(address));
  s.Requests().BroadcastAddress(address);
  s.Requests().Clock().Delay(kPauseMs);
}

bool SwitchAdapterToPassThrough(Session& s) {
  ExchangeState& x = s.Exchange();
  s.Requests().PassThroughCommand();
  const auto length = static_cast<int32_t>(x.ResponseText.size());
  if (length < static_cast<int32_t>(kShortestAnswer))
    x.ResponseStatus = kStatusNoAnswer;
  else if (!x.ResponseCrcMatches())
    x.ResponseStatus = kStatusBadAnswer;
  else
    x.ResponseStatus = length;
  // A CRC-correct answer of 5 bytes thus reads as a mismatch: that is the
  // length of an exception answer, which refuses the command.
  return x.ResponseStatus != kStatusNoAnswer && x.ResponseStatus != kStatusBadAnswer;
}
