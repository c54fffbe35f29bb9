#pragma once
// The time the requests run on: their fixed delays, the time limits of the
// collection loops and of the silence timer. The system clock is the real
// time of the machine; the virtual clock lets tests run a whole exchange with
// a simulated adapter in no time, with the same frames in the same order. A
// link and the clock given with it must agree: a real port waits in real
// time, a simulated link moves the virtual clock it was made with.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

class ExchangeClock {
 public:
  using Duration = std::chrono::nanoseconds;

  virtual ~ExchangeClock() = default;
  // The time since an arbitrary start; it never goes back.
  virtual Duration Now() const = 0;
  // Lasts until more than `ms` milliseconds have passed on the millisecond
  // tick (Delay(0): until the next tick), handling the application's events.
  virtual void Delay(int32_t ms) = 0;
};

// The machine's steady clock and the event-handling Delay of modbus/delay.h.
class SystemClock final : public ExchangeClock {
 public:
  Duration Now() const override;
  void Delay(int32_t ms) override;
};

// The one system clock, the default of everything that takes a clock.
SystemClock& TheSystemClock();

// Time that moves only when asked: Delay handles the pending events once (so
// windows still repaint and their handlers run) and jumps to its end. Actions
// scheduled for a moment run, in time order, when the clock passes it: a
// simulated link finds its bytes there, a test signals a stop event there.
class VirtualClock final : public ExchangeClock {
 public:
  Duration Now() const override { return now_; }
  void Delay(int32_t ms) override;

  // Runs `action` once the clock reaches `at` (at once on the next advance
  // when `at` has passed already).
  void At(Duration at, std::function<void()> action);
  // The moment of the earliest action not yet run.
  std::optional<Duration> NextDue() const;
  // Moves to `to` (never back), running the actions due on the way with the
  // clock set to each one's moment.
  void AdvanceTo(Duration to);

 private:
  Duration now_{};
  std::multimap<Duration, std::function<void()>> due_;
};
