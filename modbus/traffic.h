#pragma once
// What went over the line, frame by frame: every frame the requests send and
// every answer they collect, with the time and a short meaning where the
// requests know it. The line monitor window and tl8ctl --trace show it; it
// lives in memory only (the newest 10 000 frames) and is written nowhere
// unless the user saves the monitor's lines. Widget-free.

#include <QString>
#include <QTime>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

enum class TrafficDirection { Sent, Received };

struct TrafficEntry {
  QTime at;  // local time of day
  TrafficDirection direction;
  std::string bytes;  // empty when nothing came
  QString meaning;    // empty when there is nothing to say
};

// One line for the entry, e.g.
//   14:03:07.125 → 01 03 01 07 00 02 74 36  чтение пар. 3
//   14:03:07.250 ← нет ответа
QString TrafficLine(const TrafficEntry& entry);

// The meanings the requests give what they send and collect.
namespace traffic {
QString Reading(int index);      // "чтение пар. 3"
QString Writing(int index);      // "запись пар. 15"
QString Searching(int address);  // "адрес 17": the address search asks there
QString NewAddress(int address);
QString RegisterWrite(int reg, int value);
inline const QString kProbe = QStringLiteral("проба");
inline const QString kPassThrough = QStringLiteral("побайтовая трансляция");

inline const QString kEcho = QStringLiteral("эхо");
inline const QString kNoAnswer = QStringLiteral("нет ответа");
inline const QString kBadCrc = QStringLiteral("CRC неверна");
inline const QString kAcknowledged = QStringLiteral("подтверждено");
QString Value(const QString& text);  // "ответ: 16.0125"
// What an answer's bytes say by themselves: "нет ответа" below 3 bytes, "CRC
// неверна", "отказ, код N" for an exception answer, else "ответ".
QString WhatCame(const std::string& answer);
// The same for an answer a read or write did not take: `otherwise` when its
// bytes are a sound answer, only not to this request.
QString WhyNotTaken(const std::string& answer, const QString& otherwise);
inline const QString kNotTheReadsAnswer = QStringLiteral("не ответ на чтение");
// A frame sent on a line with a latency allowance: "чтение пар. 3, запас 130 мс".
QString WithAllowance(const QString& meaning, int allowanceMs);
// An answer that came after its wait had ended, `delayMs` beyond its line
// time: "поздний ответ, сеть +320 мс".
QString LateAnswer(int delayMs);
inline const QString kNotTheWritesAnswer = QStringLiteral("не ответ на запись");
// On a Modbus TCP gateway's line, ADUs that are no answer to the request:
// the gateway's own refusal, "шлюз: адаптер не ответил (код 0B)" or "шлюз:
// линия недоступна (код 0A)";
QString GatewayFailure(int code);
// another transaction's, "транзакция 7, не ответ на этот запрос"; another
// unit's; one whose length no answer to the request has;
QString OtherTransaction(int transaction);
QString OtherUnit(int unit);
QString WrongLength(int length);
// bytes that are no MBAP header, and the start of an ADU whose rest never came.
inline const QString kNotMbap = QStringLiteral("не заголовок Modbus TCP, принятое отброшено");
inline const QString kIncompleteAdu = QStringLiteral("кадр Modbus TCP не пришёл целиком, отброшен");
}  // namespace traffic

class TrafficLog {
 public:
  static constexpr std::size_t kCapacity = 10000;
  using Listener = std::function<void(const TrafficEntry&)>;

  // Keeps the entry, stamped with the local time, dropping the oldest beyond
  // the capacity, and hands it to the listener.
  void Record(TrafficDirection direction, std::string bytes, QString meaning);

  // Entries are numbered from 0 in the order they were recorded; the numbers
  // go on across Clear. The number the next entry will get:
  uint64_t End() const { return end_; }
  // The kept entries numbered `first` or later, oldest first.
  std::vector<TrafficEntry> Since(uint64_t first) const;
  void Clear() { entries_.clear(); }

  // Called with every entry as it is recorded (tl8ctl --trace); empty: none.
  void SetListener(Listener listener) { listener_ = std::move(listener); }

 private:
  std::deque<TrafficEntry> entries_;
  uint64_t end_ = 0;
  Listener listener_;
};
