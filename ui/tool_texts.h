#pragma once
// The tool's own words for what happened on the line, shared by the windows
// (in their message boxes) and the command line (on stderr).

#include "os/line_types.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

inline const QString kNoAnswerText = QStringLiteral("Нет ответа");
inline const QString kNoAdapterOnLineText = QStringLiteral("Нет ответа от адаптера");
inline const QString kAddressRangeText = QStringLiteral("Адрес должен быть от 1 до 247");
inline const QString kReadFailedText = QStringLiteral("Сбой!");
inline const QString kCheckDataText = QStringLiteral("Проверьте данные");
inline const QString kChecksumErrorText = QStringLiteral("Ошибка ЦИК массива");
inline const QString kWrongPasswordText = QStringLiteral("Пароль введен неверно");
inline const QString kPassThroughDoneText =
    QStringLiteral("Адаптер переведен в режим побайтовой трансляции");
inline const QString kPortOpenFailureCaption = QStringLiteral("Неудача при открытии порта");

// The change record of a write could not be put on the disk, so the write
// was not made; `reason` is the file's failure.
inline QString HistoryRefusedText(const QString& reason) {
  return QStringLiteral("Запись в журнал изменений невозможна:\r") + reason +
         QStringLiteral("\rВ адаптер ничего не записано.");
}
// The write went out, but its outcome could not be added to its record.
inline QString HistoryNotCompletedText(const QString& reason) {
  return QStringLiteral("Итог записи не внесён в журнал изменений:\r") + reason;
}

// "Нет ответа от ТЛ-8 с адресом  00" followed by the address.
inline QString NoAdapterText(uint8_t address) {
  return QStringLiteral("Нет ответа от ТЛ-8 с адресом  00") + QString::number(address);
}

// The address change went to unit 0 through a Modbus TCP gateway, and no
// adapter answered at the new address: the gateway may drop broadcasts.
inline QString GatewayUnconfirmedText(int address) {
  return QStringLiteral(
             "Смена адреса не подтверждена через этот шлюз: нет ответа по адресу %1.\r"
             "Шлюз Modbus TCP может не передавать широковещательные запросы (адрес 0).")
      .arg(address);
}

// Why a port did not open; "\r" breaks the lines of the message box. A
// local port is most likely held by another program; a network line's
// opening says what it met (`network`, see NetOpenFailureOf in net/).
QString PortOpenFailureText(const std::string& port,
                            const std::optional<TNetOpenFailure>& network = std::nullopt);
