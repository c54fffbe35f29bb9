#include "tests/modbus/scripted_link.h"

#include "tests/support/virtual_wait.h"

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
  const VirtualLine line{
      .arrived = [this] { return Arrived(); },
      .nextMoment = [this](bool forChar) -> std::optional<Duration> {
        if (!forChar || arrivals_.empty()) return std::nullopt;
        return arrivals_.begin()->first;
      },
  };
  WaitInVirtualTime(clock_, line, events, stopEvent, timeoutMs);
}
