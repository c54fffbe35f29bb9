// The address search over 1..247 with the adapter at 247, through a Modbus
// TCP to RTU gateway that answers 0x0B for each silent address, against the
// same search on the line itself: in virtual time on the simulated link (the
// gateway's own timeout set), and in real time against tl8sim on its
// pseudo-terminal and tl8sim --modbus-tcp. Prints the times; asserts nothing.

#include "modbus/service.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/sim_process.h"
#include "tests/support/sim_session.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace {

constexpr int kAdapter = 247;

void Print(const std::string& what, double seconds, int found) {
  std::printf("%-44s %8.2f s %8.1f ms/address  found %d\n", what.c_str(), seconds,
              1000 * seconds / kAdapter, found);
}

void InVirtualTime(const std::string& what, std::optional<sim::GatewaySetup> gateway,
                   bool learns = false) {
  tl8test::SimLinkSetup setup = tl8test::SimulatorSetup({"--address", std::to_string(kAdapter)});
  setup.gateway = gateway;
  if (learns) setup.learnsFromRoundTripMs = 0;
  tl8test::SimSession sim(setup);
  const auto start = sim.clock.Now();
  const int found = FindAdapterAddress(sim.session, [] {});
  Print(what, std::chrono::duration<double>(sim.clock.Now() - start).count(), found);
}

void InRealTime(const std::string& what, const std::vector<std::string>& simArgs,
                const std::string& query) {
  std::vector<std::string> args = {"--address", std::to_string(kAdapter)};
  args.insert(args.end(), simArgs.begin(), simArgs.end());
  const tl8test::SimProcess sim(args);
  TComPort port;
  Session session(port);
  OpenAdapterLine(port, sim.port() + query);
  const auto start = std::chrono::steady_clock::now();
  const int found = FindAdapterAddress(session, [] {});
  Print(what, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
        found);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("the address search 1..%d, the adapter at %d\n", kAdapter, kAdapter);
  std::printf("virtual time (the simulated link):\n");
  InVirtualTime("  on the line", std::nullopt);
  for (const double timeoutMs : {20.0, 50.0, 100.0}) {
    sim::GatewaySetup gateway;
    gateway.responseTimeoutMs = timeoutMs;
    InVirtualTime("  gateway, 0x0B after " + std::to_string(static_cast<int>(timeoutMs)) + " ms",
                  gateway);
  }
  // Slower than the tool's wait: its 0x0B comes after the next request has gone.
  sim::GatewaySetup slow;
  slow.responseTimeoutMs = 300;
  InVirtualTime("  gateway, 0x0B after 300 ms, allowance learnt", slow, true);
  std::printf("real time (tl8sim):\n");
  InRealTime("  on its pseudo-terminal", {}, "");
  InRealTime("  tl8sim --modbus-tcp (0x0B after 50 ms)", {"--modbus-tcp", "0"}, "?allow=0");
  InRealTime("  tl8sim --modbus-tcp, the allowance learnt", {"--modbus-tcp", "0"}, "");
  return 0;
}
