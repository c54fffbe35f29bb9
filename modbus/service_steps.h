#pragma once
// The exchange steps the service windows share: reading all sixteen
// parameters, writing the address register and the image, each request
// repeated once when its answer is unusable, and the texts they report with.

#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>

inline const QString kNoAnswerText = QStringLiteral("Нет ответа");
inline const QString kAddressRangeText = QStringLiteral("Адрес должен быть от 1 до 247");

// "Нет ответа от ТЛ-8 с адресом  00" followed by the current DeviceAddress.
QString NoAdapterText();

// A unicast Modbus address: an adapter given any other can no longer be reached.
bool IsAdapterAddress(int32_t address);

// The adapter answered: at least 3 bytes came back.
bool Answered();

enum class RetryPause { BeforeRetry, AfterRetry };

// Sends, and when it was not answered sends `retry` (the same request when
// empty) once more, pausing 50 ms before or after the second try.
bool AnsweredWithRetry(const std::function<void()>& send, RetryPause pause,
                       const std::function<void()>& retry = {});

// Reads parameters 1..16, each repeated at once when its status is not 0.
// Stores the 4-decimal text of each float in ParamText, then lets the window
// show it (`shown(index)`, ParamValue still as read), then pauses `pauseMs`.
// A parameter that fails twice shows "Сбой!", sets ReadFailed and ends the
// read: false.
bool ReadAllParameters(const std::function<void(int index)>& shown, int pauseMs);

// Gives the adapter at DeviceAddress its new address (register 375); when the
// adapter does not acknowledge it, twice, shows "Нет ответа" at `noAnswerAt`.
bool WriteAddressRegister(int32_t address, QPoint noAnswerAt);

// Writes parameters 1..16 from ParamImage, with `written(index)` and a 50 ms
// pause after each; a parameter the adapter does not acknowledge, twice,
// shows "Нет ответа" at `noAnswerAt` and ends the write: false.
bool WriteAllParameters(const std::function<void(int index)>& written, QPoint noAnswerAt);
