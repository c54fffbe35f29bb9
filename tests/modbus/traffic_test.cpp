// The lines the line monitor and tl8ctl --trace show: their form, what the
// traffic log keeps, and the meanings the requests give the frames they send
// and the answers they collect.

#include "modbus/traffic.h"

#include "modbus/service.h"
#include "modbus/session.h"
#include "tests/modbus/bytes_text.h"
#include "tests/support/sim_session.h"
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace {

using tl8test::SimSession;
using tl8test::SimulatorSetup;

TEST(TrafficLine, TimeDirectionBytesAndMeaning) {
  const QTime at(9, 5, 7, 42);
  const struct {
    TrafficEntry entry;
    const char* line;
  } cases[] = {
      {{at, TrafficDirection::Sent, Bytes("01 03 01 07 00 02 74 36"), "чтение пар. 3"},
       "09:05:07.042 → 01 03 01 07 00 02 74 36  чтение пар. 3"},
      {{at, TrafficDirection::Received, "", traffic::kNoAnswer}, "09:05:07.042 ← нет ответа"},
      {{at, TrafficDirection::Received, Bytes("0a ff"), ""}, "09:05:07.042 ← 0A FF"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrafficLine(c.entry), QString::fromUtf8(c.line));
}

TEST(TrafficLine, WhatAnAnswerSaysByItsBytes) {
  std::string swapped = WithCrc(Bytes("01 03 04 00 00 3F 80"));
  std::swap(swapped[7], swapped[8]);
  const struct {
    std::string answer;
    const char* meaning;
  } cases[] = {
      {"", "нет ответа"},
      {Bytes("01 03"), "нет ответа"},
      {swapped, "CRC неверна"},
      {WithCrc(Bytes("01 83 02")), "отказ, код 2"},
      {WithCrc(Bytes("01 03 04 00 00 3F 80")), "ответ"},
  };
  for (const auto& c : cases) EXPECT_EQ(traffic::WhatCame(c.answer), QString::fromUtf8(c.meaning));
}

TEST(TrafficLog, KeepsTheNewestEntriesAndNumbersThemOnAcrossClear) {
  TrafficLog log;
  std::vector<std::string> heard;
  log.SetListener([&heard](const TrafficEntry& e) { heard.push_back(e.bytes); });
  const size_t total = TrafficLog::kCapacity + 5;
  for (size_t i = 0; i < total; ++i)
    log.Record(TrafficDirection::Sent, std::to_string(i), QString());
  EXPECT_EQ(heard.size(), total);
  EXPECT_EQ(log.End(), total);

  std::vector<TrafficEntry> kept = log.Since(0);
  ASSERT_EQ(kept.size(), TrafficLog::kCapacity);
  EXPECT_EQ(kept.front().bytes, "5");
  EXPECT_EQ(kept.back().bytes, std::to_string(total - 1));
  kept = log.Since(total - 2);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept.front().bytes, std::to_string(total - 2));
  EXPECT_TRUE(log.Since(total).empty());

  log.Clear();
  EXPECT_TRUE(log.Since(0).empty());
  log.Record(TrafficDirection::Received, "new", QString());
  EXPECT_EQ(log.End(), total + 1);
  kept = log.Since(total);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept.front().bytes, "new");
}

struct Shown {
  TrafficDirection direction;
  QString meaning;
  bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& s, std::ostream* out) {
  *out << (s.direction == TrafficDirection::Sent ? "→ " : "← ") << s.meaning.toStdString();
}

std::vector<Shown> ShownSince(const TrafficLog& log, uint64_t first) {
  std::vector<Shown> shown;
  for (const TrafficEntry& e : log.Since(first)) shown.push_back({e.direction, e.meaning});
  return shown;
}

constexpr auto kSent = TrafficDirection::Sent;
constexpr auto kReceived = TrafficDirection::Received;

TEST(TrafficLog, TheRequestsSayWhatEachFrameIs) {
  // Parameter 3 of the factory set is 16.0 (a float the device keeps
  // exactly); the simulator answers it at once on an echoing line.
  SimSession sim(SimulatorSetup({"--address", "2", "--echo", "--fault", "silent,reg=263", "--fault",
                                 "badcrc,reg=265", "--fault", "exception:2,reg=267"}));
  Session& s = sim.session;
  const struct {
    const char* name;
    std::function<void()> exchange;
    std::vector<Shown> lines;
  } cases[] = {
      {"search",
       [&] { FindAdapterAddress(s, [] {}); },
       {{kSent, "адрес 1"},
        {kReceived, "эхо"},
        {kReceived, "нет ответа"},
        {kSent, "адрес 2"},
        {kReceived, "эхо"},
        {kReceived, "ответ"}}},
      {"read",
       [&] {
         s.Exchange().DeviceAddress = 2;
         s.Exchange().ParamIndex = 3;
         s.Requests().ReadParameter(0);
       },
       {{kSent, "чтение пар. 3"}, {kReceived, "эхо"}, {kReceived, "ответ: 16.0000"}}},
      {"read of a silent parameter",
       [&] {
         s.Exchange().ParamIndex = 4;
         s.Requests().ReadParameter(0);
       },
       {{kSent, "чтение пар. 4"}, {kReceived, "эхо"}, {kReceived, "нет ответа"}}},
      {"read with a bad CRC",
       [&] {
         s.Exchange().ParamIndex = 5;
         s.Requests().ReadParameter(0);
       },
       {{kSent, "чтение пар. 5"}, {kReceived, "эхо"}, {kReceived, "CRC неверна"}}},
      {"refused read",
       [&] {
         s.Exchange().ParamIndex = 6;
         s.Requests().ReadParameter(0);
       },
       {{kSent, "чтение пар. 6"}, {kReceived, "эхо"}, {kReceived, "отказ, код 2"}}},
      {"probe",
       [&] { s.Requests().ReadParameter(1); },
       {{kSent, "проба"}, {kReceived, "эхо"}, {kReceived, "ответ"}}},
      {"read of the address parameter",
       [&] {
         s.Exchange().ParamIndex = 15;
         s.Requests().ReadParameter(0);
       },
       {{kSent, "чтение пар. 15"}, {kReceived, "эхо"}, {kReceived, "ответ: адрес 2"}}},
      {"write",
       [&] {
         s.Exchange().ParamIndex = 15;
         s.Requests().WriteParameter();
       },
       {{kSent, "запись пар. 15"}, {kReceived, "эхо"}, {kReceived, "подтверждено"}}},
      {"address write",
       [&] { WriteAddressRegister(s, 17); },
       {{kSent, "новый адрес 17"}, {kReceived, "эхо"}, {kReceived, "подтверждено"}}},
  };
  const QTime started = QTime::currentTime();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t before = s.Traffic().End();
    c.exchange();
    EXPECT_EQ(ShownSince(s.Traffic(), before), c.lines);
  }
  const QTime ended = QTime::currentTime();
  // The echo's bytes are the frame's, the time is the local time of day:
  // between the start and the end of the exchanges, midnight in between or not.
  const std::vector<TrafficEntry> all = s.Traffic().Since(0);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[1].bytes, all[0].bytes);
  EXPECT_EQ(Hex(all[0].bytes), "01 03 01 01 00 02 94 37");
  const QTime at = all[0].at;
  EXPECT_TRUE(started <= ended ? started <= at && at <= ended : at >= started || at <= ended)
      << at.toString().toStdString();
}

}  // namespace
