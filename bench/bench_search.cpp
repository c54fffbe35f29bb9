// The address search over all 247 addresses when nobody answers: on a silent
// line, and on a line that never falls silent (a byte about every
// millisecond, as a 9600 bit/s line carries them). Prints the wall time of the
// whole search and per address.

#include "modbus/service.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/pty_pair.h"

#include <QCoreApplication>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr int kAddresses = 247;

// The far end: takes what the tool sends and, when `noisy`, sends a byte
// every millisecond.
void PlayFarEnd(int master, bool noisy, const std::atomic<bool>& done) {
  char buffer[256];
  const char noise = 0x55;
  while (!done.load()) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 1) > 0 && (p.revents & POLLIN) && read(master, buffer, sizeof buffer) <= 0)
      return;
    if (noisy && write(master, &noise, 1) != 1) return;
  }
}

void Search(const char* line, bool noisy) {
  PtyPair pty;
  TComPort port;
  Session session{port};
  port.SetEvents({});
  port.SetPort(pty.SlavePath());
  port.OpenPort();
  std::atomic<bool> done{false};
  std::thread farEnd(PlayFarEnd, pty.Master(), noisy, std::cref(done));

  const auto start = std::chrono::steady_clock::now();
  const int found = FindAdapterAddress(session, [] {});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  done = true;
  farEnd.join();
  std::printf("%-8s %9.2f %13.1f %6d\n", line, seconds, 1000 * seconds / kAddresses, found);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("%-8s %9s %13s %6s\n", "line", "search s", "per address ms", "found");
  Search("silent", false);
  Search("noisy", true);
  return 0;
}
