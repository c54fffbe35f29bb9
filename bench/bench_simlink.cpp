// The requests over the in-process simulated adapter in virtual time: the
// wall time of an address search over all 247 addresses with nobody
// answering, and of reading the 16 parameters, with the virtual time each
// took (what it takes on a real line). Runs each several times and prints
// the fastest and the median wall time.

#include "modbus/clock.h"
#include "modbus/requests.h"
#include "tests/support/sim_link.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRuns = 21;

struct Figures {
  double fastestMs;
  double medianMs;
  double virtualMs;
};

// `run` gets a fresh clock and link each time.
Figures Measure(const tl8test::SimLinkSetup& setup,
                const std::function<void(ModbusRequests&, ExchangeState&)>& run) {
  std::vector<double> wall;
  double virtualMs = 0;
  for (int i = 0; i < kRuns; ++i) {
    VirtualClock clock;
    tl8test::SimLink link(clock, setup);
    ExchangeState exchange;
    ParamData params;
    exchange.DeviceAddress = 1;
    ModbusRequests requests(link, exchange, params, clock);
    const auto start = std::chrono::steady_clock::now();
    run(requests, exchange);
    wall.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    virtualMs = std::chrono::duration<double, std::milli>(clock.Now()).count();
  }
  std::sort(wall.begin(), wall.end());
  return {wall.front(), wall[wall.size() / 2], virtualMs};
}

tl8test::SimLinkSetup Silent() {
  tl8test::SimLinkSetup setup;
  setup.adapters.clear();
  return setup;
}

void Print(const char* what, const Figures& f) {
  std::printf("%-34s %10.3f %10.3f %12.1f\n", what, f.fastestMs, f.medianMs, f.virtualMs);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the virtual delays handle its events as the real ones do
  std::printf("%-34s %10s %10s %12s\n", "", "wall min ms", "median ms", "virtual ms");
  Print("search, 247 silent addresses", Measure(Silent(), [](ModbusRequests& r, ExchangeState&) {
          for (int address = 1; address <= 247; ++address) {
            r.SendOwnFrame({address, 0x03, 0x01, 0x01, 0x00, 0x02});
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
          }
        }));
  Print("read of the 16 parameters", Measure({}, [](ModbusRequests& r, ExchangeState& x) {
          for (int index = 1; index <= 16; ++index) {
            x.ParamIndex = index;
            r.ReadParameter(0);
            if (x.ResponseStatus != kStatusAccepted) std::printf("parameter %d not read\n", index);
          }
        }));
  return 0;
}
