#include "modbus/service_steps.h"

#include "modbus/boxes.h"
#include "modbus/delay.h"
#include "modbus/exchange_state.h"
#include "modbus/params.h"
#include "modbus/requests.h"

namespace {

constexpr uint16_t kAddressRegister = 375;
constexpr int32_t kFirstAdapterAddress = 1, kLastAdapterAddress = 247;
constexpr size_t kShortestAnswer = 3;  // address, function and one byte more
constexpr int kPauseMs = 50;  // before a retry and between written parameters

bool ReadParameterWithRetry() {
  Requests().ReadParameter(0);
  if (Exchange().ResponseStatus != kStatusAccepted) Requests().ReadParameter(0);
  return Exchange().ResponseStatus == kStatusAccepted;
}

// Sends, and when the answer is not `usable` sends `retry` (the same request
// when empty) once more, pausing 50 ms before or after the second try.
bool TriedTwice(const std::function<void()>& send, bool (*usable)(), RetryPause pause,
                const std::function<void()>& retry) {
  send();
  if (usable()) return true;
  if (pause == RetryPause::BeforeRetry) Delay(kPauseMs);
  (retry ? retry : send)();
  if (pause == RetryPause::AfterRetry) Delay(kPauseMs);
  return usable();
}

// Only the adapter's echo of the write counts; a refusal or a stranger's
// answer is no answer to it.
bool Acknowledged() { return Exchange().ResponseStatus == kStatusAccepted; }

bool AcknowledgedOrSaySo(const std::function<void()>& send, QPoint noAnswerAt) {
  if (TriedTwice(send, Acknowledged, RetryPause::BeforeRetry, {})) return true;
  boxes().Message(kNoAnswerText, BoxIcon::None, noAnswerAt);
  return false;
}

}  // namespace

QString NoAdapterText() {
  return QStringLiteral("Нет ответа от ТЛ-8 с адресом  00") + QString::number(Exchange().DeviceAddress);
}

bool IsAdapterAddress(int32_t address) {
  return address >= kFirstAdapterAddress && address <= kLastAdapterAddress;
}

bool Answered() { return Exchange().ResponseText.size() >= kShortestAnswer; }

bool AnsweredWithRetry(const std::function<void()>& send, RetryPause pause,
                       const std::function<void()>& retry) {
  return TriedTwice(send, Answered, pause, retry);
}

bool ReadAllParameters(const std::function<void(int index)>& shown, int pauseMs) {
  ExchangeState& x = Exchange();
  x.ParamIndex = 1;
  for (int i = 1; i <= kParamCount; ++i) {
    if (!ReadParameterWithRetry()) {
      boxes().Message(QStringLiteral("Сбой!"));
      Params().ReadFailed = 1;
      return false;
    }
    if (IsFloatParam(i)) Params().ParamText[i] = ParamTableText(i, x.ParamValue);
    shown(i);
    Delay(pauseMs);
    x.ParamIndex = i + 1;
  }
  return true;
}

bool WriteAddressRegister(int32_t address, QPoint noAnswerAt) {
  return AcknowledgedOrSaySo(
      [address] { Requests().WriteSingleRegister(kAddressRegister, static_cast<uint16_t>(address)); },
      noAnswerAt);
}

bool WriteAllParameters(const std::function<void(int index)>& written, QPoint noAnswerAt) {
  ExchangeState& x = Exchange();
  x.ParamIndex = 1;
  for (int i = 1; i <= kParamCount; ++i) {
    if (!AcknowledgedOrSaySo([] { Requests().WriteParameter(); }, noAnswerAt)) return false;
    x.ParamIndex = i + 1;
    written(i);
    Delay(kPauseMs);
  }
  return true;
}
