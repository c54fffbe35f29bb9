#pragma once
// The message boxes the service windows show for the outcomes the exchange
// core returns, in the tool's own words and places.

#include "modbus/textfile.h"
#include "ui/tool_texts.h"

#include <QPoint>
#include <QString>

#include <optional>

class Session;
struct ImageTexts;
struct ReadOutcome;
struct WriteOutcome;

// "Проверьте данные": what the user typed or loaded is no data the adapter takes.
void SayCheckData();

// Builds the session's ParamImage from the texts; false after
// "Проверьте данные" when one does not convert.
bool BuildImageOrSaySo(Session& session, const ImageTexts& texts);

// What `load` reads from a file; nothing after "Проверьте данные" when the
// file cannot be what its format holds (EBadFileData: a line too long, a
// line too many). Other failures go on to the standard error report.
template <class Load>
auto LoadedOrSaySo(Load load) -> std::optional<decltype(load())> {
  try {
    return load();
  } catch (const EBadFileData&) {
    SayCheckData();
    return std::nullopt;
  }
}

// After a read of all parameters: "Ошибка ЦИК массива" at (386, 390) when the
// checksum read back does not match; whether the read may be trusted that far
// (true also after a read that stopped early: it judged no checksum).
bool ChecksumVerify(const ReadOutcome& outcome);

// A recorded write's record: false after the box that says it could not be
// written (`refusal`, then nothing was sent); a box too when its outcome
// could not be added (`completionError`), which ends nothing.
bool RecordedOrSaySo(const QString& refusal);
void SayIfNotCompleted(const QString& completionError);

// A write's outcome: true when written, false after "Нет ответа" at
// `addressAt` (the address register went unacknowledged) or `parameterAt` (a
// parameter did).
bool WrittenOrSaySo(const WriteOutcome& outcome, QPoint addressAt, QPoint parameterAt);
