#include "windows/servicetexts.h"

#include "modbus/params.h"
#include "modbus/session.h"
#include "ui/boxes.h"

QString NoAdapterText(const Session& session) {
  return QStringLiteral("Нет ответа от ТЛ-8 с адресом  00") + QString::number(session.Exchange.DeviceAddress);
}

bool BuildImageOrSaySo(Session& session, const ImageTexts& texts) {
  if (BuildParamImage(texts, session.Params, session.Exchange)) return true;
  boxes().Message(QStringLiteral("Проверьте данные"));
  return false;
}

void ChecksumVerify(Session& session) {
  if (!ChecksumVerify(session.Params, session.Exchange))
    boxes().Message(QStringLiteral("Ошибка ЦИК массива"), BoxIcon::None, QPoint(386, 390));
}

bool AcknowledgedOrSaySo(bool acknowledged, QPoint at) {
  if (!acknowledged) boxes().Message(kNoAnswerText, BoxIcon::None, at);
  return acknowledged;
}
