#include "tests/modbus/scripted_link.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>

namespace {
constexpr std::chrono::milliseconds kFrameGap{5};  // the frame is over, the answer may start
}

void ScriptedLink::Arrive(Duration at, const std::string& bytes) {
  for (char byte : bytes) arrivals_.emplace(at, byte);
}

void ScriptedLink::Write(const std::string& bytes) { Arrive(clock_.Now(), bytes); }

int ScriptedLink::WriteBytes(const void* buffer, int count) {
  if (count <= 0) return 0;
  const std::string frame(static_cast<const char*>(buffer), count);
  frames_.push_back(frame);
  if (!responder_) return count;
  Duration at = clock_.Now() + kFrameGap;
  for (const Burst& burst : responder_(frame)) {
    at += std::chrono::milliseconds(burst.delayMs);
    Arrive(at, burst.bytes);
  }
  return count;
}

int ScriptedLink::Arrived() const {
  return static_cast<int>(std::distance(arrivals_.begin(), arrivals_.upper_bound(clock_.Now())));
}

int ScriptedLink::PendingInputCount() { return Arrived(); }

std::string ScriptedLink::ReadBytes(int count) {
  std::string received;
  for (int taken = std::min(count, Arrived()); taken > 0; --taken) {
    received += arrivals_.begin()->second;
    arrivals_.erase(arrivals_.begin());
  }
  return received;
}

void ScriptedLink::WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) {
  const bool forChar = events.contains(evRxChar);
  std::optional<Duration> deadline;
  if (timeoutMs >= 0) deadline = clock_.Now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (forChar && Arrived() > 0) {
      events = {evRxChar};
      return;
    }
    if ((stopEvent && stopEvent->IsSignalled()) || (deadline && clock_.Now() >= *deadline)) {
      events = {};
      return;
    }
    std::optional<Duration> wake = deadline;
    const auto earlier = [&wake](std::optional<Duration> t) {
      if (t && (!wake || *t < *wake)) wake = t;
    };
    if (forChar && !arrivals_.empty()) earlier(arrivals_.begin()->first);
    earlier(clock_.NextDue());
    if (!wake) throw std::logic_error("a wait without a limit on a line where nothing comes");
    clock_.AdvanceTo(*wake);
  }
}
