#include "app/passthrough.h"

#include "modbus/service.h"
#include "modbus/session.h"
#include "ui/boxes.h"
#include "ui/tool_texts.h"

#include <QPoint>

bool SwitchToPassThrough(Session& session) {
  ExchangeGate::Scope exchange(session.Gate());
  if (!exchange) return false;
  const QPoint messagePos(180, 250);
  if (!SwitchAdapterToPassThrough(session)) {
    boxes().Message(NoAdapterText(session.DeviceAddress()), BoxIcon::None, messagePos);
    return false;
  }
  boxes().Message(kPassThroughDoneText, BoxIcon::None, messagePos);
  return true;
}
