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

bool AcknowledgedOrSaySo(const std::function<void()>& send, QPoint noAnswerAt) {
  if (AnsweredWithRetry(send, RetryPause::BeforeRetry)) return true;
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
  send();
  if (Answered()) return true;
  if (pause == RetryPause::BeforeRetry) Delay(kPauseMs);
  (retry ? retry : send)();
  if (pause == RetryPause::AfterRetry) Delay(kPauseMs);
  return Answered();
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
  for (int i = 1; i <= kParamCount; ++i) {
    if (!AcknowledgedOrSaySo([] { Requests().WriteParameter(); }, noAnswerAt)) return false;
    x.ParamIndex = i + 1;
    written(i);
    Delay(kPauseMs);
  }
  return true;
}
