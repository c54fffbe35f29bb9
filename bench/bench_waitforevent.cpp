// WaitForEvent wake-up latency over a pseudo-terminal: from the moment the
// far end writes a byte, or another thread signals the stop event, to the
// moment WaitForEvent returns. Prints median, p99 and max in microseconds.

#include "serial/comport.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 1000;

// A helper thread waits for the go signal, pauses so the waiter is surely
// blocked, stamps the time and fires; the waiter stamps its wake-up.
std::vector<double> Measure(TCustomComPort& port, TComStopEvent& stop,
                            const std::function<void()>& fire,
                            const std::function<void()>& afterRound, TComEvent expected) {
  std::vector<double> latencies;
  std::atomic<int> go{0};
  std::atomic<Clock::time_point> fired{};
  std::thread helper([&] {
    for (int round = 1; round <= kRounds; ++round) {
      while (go.load() != round) std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      fired.store(Clock::now());
      fire();
    }
  });
  for (int round = 1; round <= kRounds; ++round) {
    go.store(round);
    TComEvents events{evRxChar};
    port.WaitForEvent(events, &stop, 5000);
    const auto woke = Clock::now();
    if (events.contains(evRxChar) != (expected == evRxChar))
      std::fprintf(stderr, "unexpected wake-up\n");
    latencies.push_back(std::chrono::duration<double, std::micro>(woke - fired.load()).count());
    afterRound();
  }
  helper.join();
  return latencies;
}

void Print(const char* what, std::vector<double> us) {
  std::sort(us.begin(), us.end());
  std::printf("%-12s rounds %zu  median %7.1f us  p99 %7.1f us  max %7.1f us\n", what, us.size(),
              us[us.size() / 2], us[us.size() * 99 / 100], us.back());
}

}  // namespace

int main() {
  int master = -1, slave = -1;
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  TComPort port;
  port.SetPort(name);
  port.OpenPort();
  TComStopEvent stop;

  const char byte = 'x';
  Print("on data", Measure(
                       port, stop, [&] { [[maybe_unused]] ssize_t n = write(master, &byte, 1); },
                       [&] { port.ReadBytes(port.PendingInputCount()); }, evRxChar));
  Print("on stop", Measure(
                       port, stop, [&] { stop.Signal(); }, [&] { stop.Reset(); }, evRxFlag));
  port.ClosePort();
  close(master);
  close(slave);
  return 0;
}
