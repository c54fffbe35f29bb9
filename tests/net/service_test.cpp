// Each kind of device server as it is met, with 40 ms each way between the
// tool and the server (a delaying proxy on 127.0.0.1): raw TCP to tl8sim
// --tcp, the same with a line that echoes, and RFC 2217 to pyserial's own
// server (rfc2217_server.py) in front of tl8sim's pseudo-terminal, which must
// then run at the tool's settings. Real processes and sockets, in real time:
// the search and a read through each, once (every service function behind
// such a path: modbus_network_latency_test, in virtual time).

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
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using tl8test::kServedAdapter;
using tl8test::NetTestDir;

constexpr auto kEachWay = std::chrono::milliseconds(40);

int PortOf(const std::string& name) { return std::stoi(name.substr(name.rfind(':') + 1)); }

std::string Loopback(const std::string& scheme, int port, const std::string& query = "") {
  return scheme + "://127.0.0.1:" + std::to_string(port) + query;
}

enum class Server { Raw, RawEchoing, Rfc2217 };

// A device server with the simulated adapter behind it, and the delaying
// path to it; `name` is the port name the tool opens.
struct DeviceServer {
  explicit DeviceServer(Server kind) {
    if (kind == Server::Rfc2217) {
      sim = std::make_unique<tl8test::SimProcess>(
          std::vector<std::string>{"--address", std::to_string(kServedAdapter)});
      record = sim->path("settings.txt");
      rfc2217 = std::make_unique<tl8test::ScriptProcess>(std::vector<std::string>{
          "/usr/bin/python3", NetTestDir() + "/rfc2217_server.py", sim->port(), record});
      path = std::make_unique<tl8test::DelayProxy>(std::stoi(rfc2217->FirstLine()), kEachWay);
      // The settings' round trip measures the path: no allowance to give.
      name = Loopback("rfc2217", path->Port());
      return;
    }
    std::vector<std::string> args{"--tcp", "0", "--address", std::to_string(kServedAdapter)};
    if (kind == Server::RawEchoing) args.push_back("--echo");
    sim = std::make_unique<tl8test::SimProcess>(args);
    path = std::make_unique<tl8test::DelayProxy>(PortOf(sim->port()), kEachWay);
    // The connection is made with the proxy next door: the user says the allowance.
    const int allowance = AllowanceForRoundTrip(2 * static_cast<int>(kEachWay.count()));
    name = Loopback("tcp", path->Port(), "?allow=" + std::to_string(allowance));
  }

  std::unique_ptr<tl8test::SimProcess> sim;
  std::unique_ptr<tl8test::ScriptProcess> rfc2217;
  std::unique_ptr<tl8test::DelayProxy> path;
  std::string record;  // the RFC 2217 server's port settings, as they changed
  std::string name;
};

const char* NameOf(Server kind) {
  switch (kind) {
    case Server::Raw:
      return "raw TCP";
    case Server::RawEchoing:
      return "raw TCP, the line echoing";
    case Server::Rfc2217:
      return "RFC 2217";
  }
  return "";
}

// The search, then a read at the line's own speed, as tl8ctl runs them.
void SearchAndRead(Server kind) {
  SCOPED_TRACE(NameOf(kind));
  const DeviceServer server(kind);
  TComPort port;
  Session session(port);
  OpenAdapterLine(port, server.name);
  EXPECT_GE(port.LatencyAllowanceMs(), AllowanceForRoundTrip(80));

  EXPECT_EQ(FindAdapterAddress(
                session, [] {}, 1, kServedAdapter),
            kServedAdapter)
      << "the address search";
  session.TalkTo(kServedAdapter);
  ReadPlan plan;
  plan.fast = true;
  const ReadOutcome read = ReadAdapter(session, plan);
  EXPECT_EQ(read.result, ReadResult::Read) << "the read";
  EXPECT_TRUE(read.checksumMatches);
  EXPECT_EQ(session.Requests().LineEchoes(), kind == Server::RawEchoing);
}

// The three kinds of server at once, each with its own processes and
// ports: the run takes one kind's time instead of three.
TEST(NetService, EachKindOfServerCarriesTheSearchAndARead) {
  std::vector<std::thread> runs;
  for (Server kind : {Server::Raw, Server::RawEchoing, Server::Rfc2217})
    runs.emplace_back(SearchAndRead, kind);
  for (std::thread& run : runs) run.join();
}

// pyserial's server has set its port (the simulator's pseudo-terminal) as
// the tool asked: 9600 bit/s, 8 data bits, no parity, 1 stop bit, DTR and
// RTS raised. It started at 1200 bit/s, 7N2, DTR and RTS low.
TEST(NetServiceRfc2217, TheToolsSettingsReachTheServersPort) {
  const DeviceServer server(Server::Rfc2217);
  TComPort port;
  OpenAdapterLine(port, server.name);

  std::ifstream record(server.record);
  std::string line;
  std::string last;
  while (std::getline(record, line)) last = line;
  EXPECT_EQ(last, "baudrate=9600 bytesize=8 parity=N stopbits=1 dtr=True rts=True");

  const int fd = ::open(server.sim->port().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios settings{};
  ASSERT_EQ(::tcgetattr(fd, &settings), 0);
  ::close(fd);
  EXPECT_EQ(::cfgetospeed(&settings), B9600);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
}

}  // namespace
