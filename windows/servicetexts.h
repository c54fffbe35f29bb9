#pragma once
// What the service windows tell the user about an exchange, in the tool's own
// words and places: the outcomes the exchange core returns, shown.

#include "ui/service_texts.h"

#include <QPoint>
#include <QString>

class Session;
struct ImageTexts;

// "Нет ответа от ТЛ-8 с адресом  00" followed by the session's DeviceAddress.
QString NoAdapterText(const Session& session);

// Builds the session's ParamImage from the texts; false after
// "Проверьте данные" when one does not convert.
bool BuildImageOrSaySo(Session& session, const ImageTexts& texts);

// After a read of all parameters: "Ошибка ЦИК массива" at (386, 390) when the
// checksum read back does not match; whether it matched (or was not judged,
// after a failed read).
bool ChecksumVerify(Session& session);

// A write step's outcome: true, or false after "Нет ответа" at `at`.
bool AcknowledgedOrSaySo(bool acknowledged, QPoint at);
