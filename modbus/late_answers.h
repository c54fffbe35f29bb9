#pragma once
// On a line that learns its latency (a network path to a device server): the
// frames whose wait ended before their answer came, and the answers that come
// for them afterwards. A Modbus answer names its adapter and function but not
// always its request, so a late answer is only recognised when it fits
// exactly one such frame: it then says how much longer the path took than
// was allowed, and which adapter asked a moment before does answer. It is
// never taken for the answer of another request.

#include "modbus/clock.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

// How long an answer took beyond its time on a 9600 bit/s line: from the
// moment its request had been written to the moment it was whole, less the
// request's and the answer's characters.
int DelayBeyondLineMs(size_t requestBytes, size_t answerBytes, ExchangeClock::Duration sentAt,
                      ExchangeClock::Duration answeredAt);

// Whether `answer` is a whole answer to `frame`: from its adapter, with a
// correct CRC, as long as the function says; a read's with the byte count of
// the registers asked for, a write's with the request's first six bytes, or
// a refusal of the function. A broadcast has none.
bool AnswersFrame(std::string_view frame, std::string_view answer);

class LateAnswers {
 public:
  struct Recognised {
    std::string frame;  // the request it answers
    int delayMs;        // beyond the line time, from the request's writing
  };

  // A frame written at `sentAt` whose wait has ended without its answer.
  void Unanswered(const std::string& frame, ExchangeClock::Duration sentAt);
  // Bytes that came at `at` with no request waiting for them, a copy of a
  // frame written (the line's echo) in front allowed: the frame they answer
  // when they are a whole answer to exactly one unanswered frame, which is
  // then no longer waited for.
  std::optional<Recognised> Recognise(std::string_view bytes, ExchangeClock::Duration at);
  // Whether `frame` is among those waited for: an answer to it may be late.
  bool Waits(const std::string& frame) const;
  // Frames written before `before` are no longer waited for.
  void ForgetBefore(ExchangeClock::Duration before);

 private:
  struct Frame {
    std::string bytes;
    ExchangeClock::Duration sentAt;
  };
  static constexpr size_t kMostFrames = 64;
  std::deque<Frame> frames_;
};
