#include "windows/servicetexts.h"

#include "modbus/params.h"
#include "modbus/session.h"
#include "ui/boxes.h"

QString NoAdapterText(const Session& session) {
  return NoAdapterText(session.Exchange.DeviceAddress);
}

bool BuildImageOrSaySo(Session& session, const ImageTexts& texts) {
  if (BuildParamImage(texts, session.Params, session.Exchange)) return true;
  boxes().Message(kCheckDataText);
  return false;
}

bool ChecksumVerify(Session& session) {
  if (ChecksumVerify(session.Params, session.Exchange)) return true;
  boxes().Message(kChecksumErrorText, BoxIcon::None, QPoint(386, 390));
  return false;
}

bool AcknowledgedOrSaySo(bool acknowledged, QPoint at) {
  if (!acknowledged) boxes().Message(kNoAnswerText, BoxIcon::None, at);
  return acknowledged;
}
