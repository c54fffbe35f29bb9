#include "modbus/clock.h"

#include "modbus/delay.h"

#include <algorithm>

ExchangeClock::Duration SystemClock::Now() const {
  return std::chrono::steady_clock::now().time_since_epoch();
}

void SystemClock::Delay(int32_t ms) { ::Delay(ms); }

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

void VirtualClock::Delay(int32_t ms) {
  using std::chrono::milliseconds;
  // The same end as the real Delay: the moment the tick first exceeds start + ms.
  const auto startTick = std::chrono::floor<milliseconds>(now_);
  const Duration end = startTick + milliseconds(int64_t{ms} + 1);
  ProcessPendingEvents();
  AdvanceTo(end);
}

void VirtualClock::At(Duration at, std::function<void()> action) {
  due_.emplace(at, std::move(action));
}

std::optional<ExchangeClock::Duration> VirtualClock::NextDue() const {
  if (due_.empty()) return std::nullopt;
  return due_.begin()->first;
}

void VirtualClock::AdvanceTo(Duration to) {
  while (!due_.empty() && due_.begin()->first <= to) {
    auto first = due_.begin();
    now_ = std::max(now_, first->first);
    const std::function<void()> action = std::move(first->second);
    due_.erase(first);
    action();  // may schedule more actions, or advance the clock itself
  }
  now_ = std::max(now_, to);
}
