#include "app/passthrough.h"

#include "modbus/service_steps.h"
#include "modbus/session.h"
#include "ui/boxes.h"
#include "windows/servicetexts.h"

#include <QPoint>

bool SwitchToPassThrough(Session& session) {
  ExchangeGate::Scope exchange(session.Gate);
  if (!exchange) return false;
  const QPoint messagePos(180, 250);
  if (!SwitchAdapterToPassThrough(session)) {
    boxes().Message(NoAdapterText(session), BoxIcon::None, messagePos);
    return false;
  }
  boxes().Message(kPassThroughDoneText, BoxIcon::None, messagePos);
  return true;
}
