#include "modbus/late_answers.h"

#include "modbus/exchange_state.h"
#include "modbus/register_map.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kCharacterMs = 10'000.0 / 9600;  // start, 8 data and stop bits
constexpr size_t kRefusalLength = 5;              // address, function, code, CRC
constexpr size_t kEchoedBytes = 6;                // a write's answer repeats them
constexpr size_t kWriteAnswerLength = kEchoedBytes + 2;

uint8_t Byte(std::string_view bytes, size_t i) { return static_cast<uint8_t>(bytes[i]); }

}  // namespace

int DelayBeyondLineMs(size_t requestBytes, size_t answerBytes, ExchangeClock::Duration sentAt,
                      ExchangeClock::Duration answeredAt) {
  const double tookMs = std::chrono::duration<double, std::milli>(answeredAt - sentAt).count();
  const double lineMs = static_cast<double>(requestBytes + answerBytes) * kCharacterMs;
  return static_cast<int>(std::max(0.0, std::ceil(tookMs - lineMs)));
}

bool AnswersFrame(std::string_view frame, std::string_view answer) {
  if (frame.size() < kEchoedBytes || Byte(frame, 0) == kBroadcastAddress ||
      answer.size() < kRefusalLength || Byte(answer, 0) != Byte(frame, 0) || !CrcMatches(answer))
    return false;
  const uint8_t function = Byte(frame, 1);
  if (Byte(answer, 1) == (function | kExceptionFlag)) return answer.size() == kRefusalLength;
  if (Byte(answer, 1) != function) return false;
  if (function == kReadRegisters) {
    const size_t count = Byte(frame, 4) << 8 | Byte(frame, 5);
    return Byte(answer, 2) == 2 * count && answer.size() == 5 + 2 * count;
  }
  return answer.size() == kWriteAnswerLength &&
         answer.substr(0, kEchoedBytes) == frame.substr(0, kEchoedBytes);
}

void LateAnswers::Unanswered(const std::string& frame, ExchangeClock::Duration sentAt) {
  frames_.push_back({frame, sentAt});
  if (frames_.size() > kMostFrames) frames_.pop_front();
}

std::optional<LateAnswers::Recognised> LateAnswers::Recognise(std::string_view bytes,
                                                              ExchangeClock::Duration at) {
  auto match = frames_.end();
  std::string_view answer;
  for (auto it = frames_.begin(); it != frames_.end(); ++it) {
    std::string_view candidate = bytes;
    if (candidate.starts_with(it->bytes)) candidate.remove_prefix(it->bytes.size());  // an echo
    if (!AnswersFrame(it->bytes, candidate)) continue;
    if (match == frames_.end()) {
      match = it;  // of the same frame written twice, the earlier: the longer delay
      answer = candidate;
    } else if (match->bytes != it->bytes) {
      return std::nullopt;  // which one it answers cannot be told
    }
  }
  if (match == frames_.end()) return std::nullopt;
  Recognised recognised{match->bytes,
                        DelayBeyondLineMs(match->bytes.size(), answer.size(), match->sentAt, at)};
  frames_.erase(match);
  return recognised;
}

bool LateAnswers::Waits(const std::string& frame) const {
  return std::any_of(frames_.begin(), frames_.end(),
                     [&frame](const Frame& waiting) { return waiting.bytes == frame; });
}

void LateAnswers::ForgetBefore(ExchangeClock::Duration before) {
  std::erase_if(frames_, [before](const Frame& frame) { return frame.sentAt < before; });
}
