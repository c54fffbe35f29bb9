#include "app/passthrough.h"

#include "modbus/boxes.h"
#include "modbus/exchange_gate.h"
#include "modbus/exchange_state.h"
#include "modbus/requests.h"
#include "modbus/service_steps.h"

#include <QPoint>

namespace {

const QPoint kMessagePos(180, 250);

// The answer's length, or the no-answer and CRC-mismatch codes. A CRC-correct
// answer of exactly 5 bytes thus reads as a mismatch: that is the length of an
// exception answer, which refuses the command.
int32_t AnswerStatus(ExchangeState& x) {
  const auto length = static_cast<int32_t>(x.ResponseText.size());
  if (length < 3) return kStatusNoAnswer;
  if (!x.ResponseCrcMatches()) return kStatusBadAnswer;
  return length;
}

}  // namespace

bool SwitchToPassThrough() {
  ExchangeGate::Scope exchange(Gate());
  if (!exchange) return false;
  ExchangeState& x = Exchange();
  Requests().SendOwnFrame({x.DeviceAddress, 0x06, 0x01, 0x75, 0x00, 0x01});
  x.ResponseStatus = AnswerStatus(x);
  if (x.ResponseStatus == kStatusNoAnswer || x.ResponseStatus == kStatusBadAnswer) {
    boxes().Message(NoAdapterText(), BoxIcon::None, kMessagePos);
    return false;
  }
  boxes().Message(QStringLiteral("Адаптер переведен в режим побайтовой трансляции"), BoxIcon::None,
                  kMessagePos);
  return true;
}
