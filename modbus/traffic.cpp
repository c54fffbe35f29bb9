#include "modbus/traffic.h"

#include "modbus/exchange_state.h"
#include "modbus/register_map.h"

#include <algorithm>

namespace {

QString HexBytes(const std::string& bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()) * 3);
  for (const char byte : bytes) {
    if (!text.isEmpty()) text += ' ';
    text += QStringLiteral("%1").arg(static_cast<uint8_t>(byte), 2, 16, QChar('0')).toUpper();
  }
  return text;
}

// The verdicts' own CRC check, on a scratch state: the exchange's frame
// buffer stays as the requests left it.
bool CrcMatches(const std::string& answer) {
  ExchangeState scratch;
  scratch.ResponseText = answer;
  return scratch.ResponseCrcMatches();
}

// What an ADU that does not answer the request is, for the traffic log.
QString NotThisRequests(const QString& what) {
  return what + QStringLiteral(", не ответ на этот запрос");
}

}  // namespace

QString TrafficLine(const TrafficEntry& entry) {
  QString line = entry.at.toString(QStringLiteral("HH:mm:ss.zzz"));
  line += entry.direction == TrafficDirection::Sent ? QStringLiteral(" →") : QStringLiteral(" ←");
  if (!entry.bytes.empty()) line += ' ' + HexBytes(entry.bytes);
  if (!entry.meaning.isEmpty()) line += (entry.bytes.empty() ? " " : "  ") + entry.meaning;
  return line;
}

namespace traffic {

QString Reading(int index) { return QStringLiteral("чтение пар. %1").arg(index); }
QString Writing(int index) { return QStringLiteral("запись пар. %1").arg(index); }
QString Searching(int address) { return QStringLiteral("адрес %1").arg(address); }
QString NewAddress(int address) { return QStringLiteral("новый адрес %1").arg(address); }
QString RegisterWrite(int reg, int value) {
  return QStringLiteral("запись рег. %1 = %2").arg(reg).arg(value);
}
QString Value(const QString& text) { return QStringLiteral("ответ: ") + text; }

QString WithAllowance(const QString& meaning, int allowanceMs) {
  const QString allowance = QStringLiteral("запас %1 мс").arg(allowanceMs);
  return meaning.isEmpty() ? allowance : meaning + QStringLiteral(", ") + allowance;
}

QString LateAnswer(int delayMs) {
  return QStringLiteral("поздний ответ, сеть +%1 мс").arg(delayMs);
}

QString WhyNotTaken(const std::string& answer, const QString& otherwise) {
  if (answer.size() < 3) return kNoAnswer;
  if (!CrcMatches(answer)) return kBadCrc;
  if (static_cast<uint8_t>(answer[1]) & kExceptionFlag)
    return QStringLiteral("отказ, код %1").arg(static_cast<uint8_t>(answer[2]));
  return otherwise;
}

QString WhatCame(const std::string& answer) { return WhyNotTaken(answer, QStringLiteral("ответ")); }

QString GatewayFailure(int code) {
  const QString what =
      code == 0x0A ? QStringLiteral("линия недоступна") : QStringLiteral("адаптер не ответил");
  const QString hex = QStringLiteral("%1").arg(code, 2, 16, QChar('0')).toUpper();
  return QStringLiteral("шлюз: %1 (код %2)").arg(what, hex);
}

QString OtherTransaction(int transaction) {
  return NotThisRequests(QStringLiteral("транзакция %1").arg(transaction));
}
QString OtherUnit(int unit) { return NotThisRequests(QStringLiteral("устройство %1").arg(unit)); }
QString WrongLength(int length) { return NotThisRequests(QStringLiteral("длина %1").arg(length)); }

}  // namespace traffic

void TrafficLog::Record(TrafficDirection direction, std::string bytes, QString meaning) {
  entries_.push_back({QTime::currentTime(), direction, std::move(bytes), std::move(meaning)});
  ++end_;
  if (entries_.size() > kCapacity) entries_.pop_front();
  if (listener_) listener_(entries_.back());
}

std::vector<TrafficEntry> TrafficLog::Since(uint64_t first) const {
  const uint64_t oldest = end_ - entries_.size();
  const auto skip = static_cast<std::ptrdiff_t>(
      std::min<uint64_t>(first > oldest ? first - oldest : 0, entries_.size()));
  return {entries_.begin() + skip, entries_.end()};
}
