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

// The meanings of the collected answers.
namespace traffic {
inline const QString kEcho = QStringLiteral("эхо");
inline const QString kNoAnswer = QStringLiteral("нет ответа");
inline const QString kBadCrc = QStringLiteral("CRC неверна");
}  // namespace traffic

// What an answer says by its bytes alone: "нет ответа" below 3 bytes, "CRC
// неверна", "отказ, код N" for an exception answer, empty otherwise.
QString AnswerMeaning(const std::string& answer);

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
