// The network line against a real, widely used device server: ser2net (a
// Debian package) in front of tl8sim's pseudo-terminal, raw and RFC 2217.
// A pseudo-terminal has no modem-control lines, so ser2net takes the speed
// and the framing but never answers DTR and RTS: the tool must open all the
// same. Skipped, with a message, where ser2net is not installed
// (scripts/setup.sh installs it). Real processes and sockets, in real time.

#include "modbus/service.h"
#include "modbus/session.h"
#include "net/netline.h"
#include "serial/comport.h"
#include "tests/net/net_test_dir.h"
#include "tests/support/loopback.h"
#include "tests/support/script_process.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

namespace {

using tl8test::kServedAdapter;

using tl8test::kLongWait;
using tl8test::LoopSocket;

constexpr const char* kSer2net = "/usr/sbin/ser2net";

// A free TCP port on 127.0.0.1, for ser2net to listen on.
int FreePort() { return LoopSocket::Listen().Port(); }

// ser2net serving the simulator's pseudo-terminal: raw at 9600 8N1, RFC 2217
// with the port set to 1200 bit/s (only the tool's settings make it work),
// and RFC 2217 to a device that does not exist (and one more such entry, to
// see ser2net listening).
class Ser2net {
 public:
  explicit Ser2net(const tl8test::SimProcess& sim)
      : raw_(FreePort()), rfc2217_(FreePort()), missing_(FreePort()), probe_(FreePort()) {
    const std::string config = sim.path("ser2net.yaml");
    std::ofstream(config) << Entry("raw", "tcp", raw_, sim.port() + ",9600n81")
                          << Entry("rfc2217", "telnet(rfc2217),tcp", rfc2217_,
                                   sim.port() + ",1200n81")
                          << Entry("missing", "telnet(rfc2217),tcp", missing_,
                                   sim.path("no-such-tty") + ",9600n81")
                          << Entry("probe", "tcp", probe_, sim.path("no-such-tty") + ",9600n81");
    // The shell says its process number and becomes ser2net, which the
    // helper stops at the end.
    process_ = std::make_unique<tl8test::ScriptProcess>(std::vector<std::string>{
        "/bin/sh", "-c", "echo $$; exec \"$0\" -n -d -c \"$1\" >/dev/null 2>&1", kSer2net, config});
  }

  // Whether ser2net takes connections, waited for with a generous bound.
  bool Listening() const {
    const auto deadline = std::chrono::steady_clock::now() + kLongWait;
    while (std::chrono::steady_clock::now() < deadline) {
      if (LoopSocket::Connect(probe_).Valid()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  std::string Raw() const { return "tcp://127.0.0.1:" + std::to_string(raw_); }
  std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217_); }
  std::string Missing() const { return "rfc2217://127.0.0.1:" + std::to_string(missing_); }

 private:
  static std::string Entry(const std::string& alias, const std::string& accepter, int port,
                           const std::string& device) {
    return "connection: &" + alias + "\n  accepter: " + accepter + ",127.0.0.1," +
           std::to_string(port) + "\n  connector: serialdev," + device + ",local\n";
  }

  int raw_, rfc2217_, missing_;
  int probe_;  // where Listening knocks, so that the others' one client is free
  std::unique_ptr<tl8test::ScriptProcess> process_;
};

class Ser2netLine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kSer2net, X_OK) != 0)
      GTEST_SKIP() << kSer2net << " is not installed (scripts/setup.sh installs it)";
    sim = std::make_unique<tl8test::SimProcess>(
        std::vector<std::string>{"--address", std::to_string(kServedAdapter)});
    server = std::make_unique<Ser2net>(*sim);
    ASSERT_TRUE(server->Listening()) << "ser2net did not start";
  }

  // The address search and a read at the line's own speed on the open `port`.
  void SearchAndRead(TComPort& port) {
    Session session(port);
    EXPECT_EQ(FindAdapterAddress(
                  session, [] {}, 1, kServedAdapter),
              kServedAdapter);
    session.TalkTo(kServedAdapter);
    ReadPlan plan;
    plan.fast = true;
    const ReadOutcome read = ReadAdapter(session, plan);
    EXPECT_EQ(read.result, ReadResult::Read);
    EXPECT_TRUE(read.checksumMatches);
  }

  std::unique_ptr<tl8test::SimProcess> sim;
  std::unique_ptr<Ser2net> server;
};

TEST_F(Ser2netLine, RawCarriesTheExchanges) {
  TComPort port;
  OpenAdapterLine(port, server->Raw());
  SearchAndRead(port);
}

// The port starts at 1200 bit/s: the tool's settings make it 9600 8N1, and
// the DTR and RTS it never confirms are noted, not a failure.
TEST_F(Ser2netLine, Rfc2217SetsThePortAndGoesOnWithoutDtrAndRts) {
  // One connection: ser2net serves one client at a time, and a second one
  // right after the first may find it still busy.
  TComPort port;
  OpenAdapterLine(port, server->Rfc2217());
  EXPECT_EQ(port.SettingsNotes(),
            std::vector<std::string>{"RFC 2217: the server did not confirm DTR on (no answer), "
                                     "RTS on (no answer); the line goes on without"});
  const int fd = ::open(sim->port().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios settings{};
  ASSERT_EQ(::tcgetattr(fd, &settings), 0);
  ::close(fd);
  EXPECT_EQ(::cfgetospeed(&settings), B9600);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
  SearchAndRead(port);
}

// A device ser2net cannot open: its own words end the opening.
TEST_F(Ser2netLine, TheServersOwnWordsEndAnOpeningItCannotServe) {
  TComPort port;
  try {
    OpenAdapterLine(port, server->Missing());
    FAIL() << "opened";
  } catch (const EComPort& failure) {
    const std::optional<TNetOpenFailure> what = NetOpenFailureOf(server->Missing(), failure);
    ASSERT_TRUE(what);
    EXPECT_EQ(what->kind, TNetOpenFailure::ServerText) << failure.what();
    EXPECT_TRUE(what->detail.starts_with("Device open failure")) << what->detail;
  }
}

}  // namespace
