#include "modbus/service_steps.h"

#include "modbus/register_map.h"
#include "modbus/session.h"

#include <algorithm>

namespace {

constexpr size_t kShortestAnswer = 3;  // address, function and one byte more
constexpr int kPauseMs = 50;           // before a retry and between written parameters

bool ReadParameterWithRetry(Session& s) {
  s.Requests.ReadParameter(0);
  if (s.Exchange.ResponseStatus != kStatusAccepted) s.Requests.ReadParameter(0);
  return s.Exchange.ResponseStatus == kStatusAccepted;
}

// Sends, and when the answer is not `usable` sends `retry` (the same request
// when empty) once more, pausing 50 ms before or after the second try.
bool TriedTwice(Session& s, const std::function<void()>& send, const std::function<bool()>& usable,
                RetryPause pause, const std::function<void()>& retry) {
  send();
  if (usable()) return true;
  if (pause == RetryPause::BeforeRetry) s.Requests.Clock().Delay(kPauseMs);
  (retry ? retry : send)();
  if (pause == RetryPause::AfterRetry) s.Requests.Clock().Delay(kPauseMs);
  return usable();
}

// Only the adapter's echo of the write counts; a refusal or a stranger's
// answer is no answer to it.
bool AcknowledgedTwice(Session& s, const std::function<void()>& send) {
  return TriedTwice(s, send, [&s] { return s.Exchange.ResponseStatus == kStatusAccepted; },
                    RetryPause::BeforeRetry, {});
}

}  // namespace

bool Answered(const Session& s) { return s.Exchange.ResponseText.size() >= kShortestAnswer; }

bool AnsweredWithRetry(Session& s, const std::function<void()>& send, RetryPause pause,
                       const std::function<void()>& retry) {
  return TriedTwice(
      s, send, [&s] { return Answered(s); }, pause, retry);
}

bool ReadAllParameters(Session& s, const std::function<void(int index)>& shown, int pauseMs) {
  ExchangeState& x = s.Exchange;
  x.ParamIndex = 1;
  for (int i = 1; i <= kParamCount; ++i) {
    if (!ReadParameterWithRetry(s)) {
      s.Params.ReadFailed = 1;
      return false;
    }
    if (IsFloatParam(i)) s.Params.ParamText[i] = ParamTableText(i, x.ParamValue);
    shown(i);
    s.Requests.Clock().Delay(pauseMs);
    x.ParamIndex = i + 1;
  }
  return true;
}

bool WriteAddressRegister(Session& s, int32_t address) {
  return AcknowledgedTwice(s, [&s, address] {
    s.Requests.WriteSingleRegister(kAddressRegister, static_cast<uint16_t>(address));
  });
}

bool WriteAllParameters(Session& s, const std::function<void(int index)>& written) {
  ExchangeState& x = s.Exchange;
  x.ParamIndex = 1;
  for (int i = 1; i <= kParamCount; ++i) {
    if (!AcknowledgedTwice(s, [&s] { s.Requests.WriteParameter(); })) return false;
    x.ParamIndex = i + 1;
    written(i);
    s.Requests.Clock().Delay(kPauseMs);
  }
  return true;
}

int FindAdapterAddress(Session& s, const std::function<void()>& between, int from, int to) {
  ExchangeState& x = s.Exchange;
  for (int address = std::max(from, kFirstAdapterAddress);
       address <= std::min(to, kLastAdapterAddress); ++address) {
    s.Requests.SearchRead(address);
    // Nothing of the answer matters but who sent it and its CRC.
    if (!x.ResponseText.empty() && static_cast<uint8_t>(x.ResponseText[0]) == address &&
        x.ResponseCrcMatches())
      return address;
    between();
  }
  return 0;
}

void BroadcastNewAddress(Session& s, int32_t address) {
  s.Exchange.DeviceAddress = static_cast<uint8_t>(address);
  s.Requests.BroadcastAddress(address);
  s.Requests.Clock().Delay(kPauseMs);
}

bool SwitchAdapterToPassThrough(Session& s) {
  ExchangeState& x = s.Exchange;
  s.Requests.PassThroughCommand();
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
