#include "windows/outcomeboxes.h"

#include "modbus/params.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "ui/boxes.h"

void SayCheckData() { boxes().Message(kCheckDataText); }

bool BuildImageOrSaySo(Session& session, const ImageTexts& texts) {
  if (BuildParamImage(texts, session.Params(), session.Exchange())) return true;
  SayCheckData();
  return false;
}

bool ChecksumVerify(const ReadOutcome& outcome) {
  if (outcome.result != ReadResult::Read || outcome.checksumMatches) return true;
  boxes().Message(kChecksumErrorText, BoxIcon::None, QPoint(386, 390));
  return false;
}

bool WrittenOrSaySo(const WriteOutcome& outcome, QPoint addressAt, QPoint parameterAt) {
  if (outcome.result == WriteResult::Written) return true;
  const bool atAddress = outcome.result == WriteResult::AddressNotAcknowledged;
  boxes().Message(kNoAnswerText, BoxIcon::None, atAddress ? addressAt : parameterAt);
  return false;
}

bool RecordedOrSaySo(const QString& refusal) {
  if (refusal.isEmpty()) return true;
  boxes().Message(HistoryRefusedText(refusal), BoxIcon::Warning);
  return false;
}

void SayIfNotCompleted(const QString& completionError) {
  if (!completionError.isEmpty())
    boxes().Message(HistoryNotCompletedText(completionError), BoxIcon::Warning);
}
