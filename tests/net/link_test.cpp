// The port component on a network line, against servers on 127.0.0.1 that
// the tests play by script: the port names, the bytes both ways in raw and
// RFC 2217 mode, the failures at opening (refused, no such host, silent
// servers) with their time bound, stop requests ending every wait, a dropped
// connection, a line that echoes, and the round trip measured through a
// delaying path. Runs on Linux and, under Wine, on Windows.

#include "modbus/exchange_state.h"
#include "modbus/params.h"
#include "modbus/requests.h"
#include "net/netline.h"
#include "os/platform.h"
#include "serial/comport.h"
#include "tests/net/telnet_peer.h"
#include "tests/support/loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using tl8test::Bytes;
using tl8test::kLongWait;
using tl8test::LoopSocket;
using tl8test::ScriptedServer;
using Clock = std::chrono::steady_clock;

// A read of parameter 1 at address 1 and the adapter's answer; a 255 in each.
const std::string kRequest = Bytes({0x01, 0x03, 0x01, 0x01, 0x00, 0x02, 0x94, 0x37});
const std::string kAnswer = Bytes({0x01, 0x03, 0x04, 0x80, 0x00, 0x44, 0x7C, 0xE1, 0x12});
const std::string kWithIac = Bytes({0x01, 0xFF, 0x02});

// The failure opening raises; nothing when it opened.
std::optional<EComPort> OpeningFailure(TComPort& port, const std::string& name) {
  try {
    OpenAdapterLine(port, name);
  } catch (const EComPort& failure) {
    return failure;
  }
  return std::nullopt;
}

// Everything received until `count` bytes are in (or the wait gives up).
std::string ReceiveCount(TComLink& link, size_t count) {
  std::string received;
  const Clock::time_point deadline = Clock::now() + kLongWait;
  while (received.size() < count && Clock::now() < deadline) {
    TComEvents events{evRxChar};
    link.WaitForEvent(events, nullptr, static_cast<int>(kLongWait.count()));
    received += link.ReadBytes(link.PendingInputCount());
  }
  return received;
}

// An RFC 2217 server's opening: it agrees to the option and takes every
// setting the client sends (the client's bytes so far go to `fromClient`).
void AgreeToSettings(const LoopSocket& client, std::string& fromClient) {
  while (tl8test::ComPortCommands(fromClient).size() < 7) {
    const std::string got = client.Receive(kLongWait);
    if (got.empty()) return;
    fromClient += got;
  }
  client.Send(Bytes({255, 253, 0, 255, 251, 0, 255, 251, 3, 255, 253, 44}) +
              tl8test::AnswersTo(fromClient));
}

// A server that takes connections and says nothing: the RFC 2217 opening
// then waits for answers that never come. It ends once the client has gone.
ScriptedServer SilentServer() {
  return ScriptedServer([](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    client.AwaitClose(kLongWait);
  });
}

// A listening port whose backlog is full: a connection to it is never taken
// (the system drops its requests), so connecting waits in vain.
struct FullBacklog {
  LoopSocket listener = LoopSocket::Listen(0);
  std::vector<LoopSocket> fillers;
  FullBacklog() {
    for (int i = 0; i < 4; ++i) fillers.push_back(LoopSocket::Connect(listener.Port(), false));
  }
  std::string Name() const { return "tcp://127.0.0.1:" + std::to_string(listener.Port()); }
};

int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Signals the stop event a little after the wait it must end has begun; the
// failure's code tells whether the stop or the time bound ended that wait.
class StopSoon {
 public:
  explicit StopSoon(TComStopEvent& stop)
      : thread_([&stop] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          stop.Signal();
        }) {}
  ~StopSoon() { thread_.join(); }

 private:
  std::thread thread_;
};

// --- Port names ---------------------------------------------------------------

TEST(NetPortName, TheFormsAreReadAndAnythingElseRefused) {
  const struct {
    const char* name;
    bool valid;
    TNetMode mode = TNetMode::Raw;
    const char* host = "";
    const char* port = "";
    std::optional<int> allowance = {};
  } cases[] = {
      {"tcp://192.168.1.20:4001", true, TNetMode::Raw, "192.168.1.20", "4001"},
      {"RFC2217://moxa-7.plant:950?allow=250", true, TNetMode::Rfc2217, "moxa-7.plant", "950", 250},
      {"tcp://[fe80::1]:502?allow=0", true, TNetMode::Raw, "fe80::1", "502", 0},
      {"tcp://host", false},
      {"tcp://:502", false},
      {"tcp://host:0", false},
      {"tcp://host:65536", false},
      {"tcp://host:50x", false},
      {"tcp://fe80::1:502", false},
      {"tcp://host:502?allow=-1", false},
      {"tcp://host:502?allow=10001", false},
      {"tcp://host:502?speed=9600", false},
      {"rfc2217://host:502/", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(IsNetPortName(c.name));
    const std::optional<TNetPortName> parsed = ParseNetPortName(c.name);
    ASSERT_EQ(parsed.has_value(), c.valid);
    if (!parsed) continue;
    EXPECT_EQ(parsed->mode, c.mode);
    EXPECT_EQ(parsed->host, c.host);
    EXPECT_EQ(parsed->port, c.port);
    EXPECT_EQ(parsed->allowanceMs, c.allowance);
  }
  for (const char* local : {"COM1", "/dev/ttyUSB0", "telnet://host:23", "tcp:/host:1"})
    EXPECT_FALSE(IsNetPortName(local)) << local;
}

TEST(NetPortName, TheAllowanceGrowsWithTheRoundTripUpToASecond) {
  EXPECT_EQ(AllowanceForRoundTrip(0), 10);
  EXPECT_EQ(AllowanceForRoundTrip(80), 130);  // 40 ms each way
  EXPECT_EQ(AllowanceForRoundTrip(5000), 1000);
}

// --- Bytes both ways -------------------------------------------------------------

TEST(NetLink, ARawLineCarriesTheBytesUnchangedBothWays) {
  std::string request;
  ScriptedServer server([&](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    request = client.ReceiveCount(kWithIac.size(), kLongWait);
    client.Send(kWithIac + kAnswer);
    client.AwaitClose(kLongWait);
  });
  TComPort port;
  OpenAdapterLine(port, server.Name("tcp", "?allow=250"));
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.LatencyAllowanceMs(), 250);
  EXPECT_EQ(port.WriteBytes(kWithIac.data(), static_cast<int>(kWithIac.size())), 3);
  EXPECT_EQ(ReceiveCount(port, kWithIac.size() + kAnswer.size()), kWithIac + kAnswer);
  port.ClosePort();
  server.Join();
  EXPECT_EQ(request, kWithIac);
}

TEST(NetLink, AnRfc2217LineSetsTheServersPortAndEscapesTheData) {
  std::string fromClient;
  std::string data;
  ScriptedServer server([&](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    AgreeToSettings(client, fromClient);
    data = client.ReceiveCount(4, kLongWait);  // 01 FF FF 02
    // The answer with a doubled 255, a modem-state notification in its middle.
    client.Send(Bytes({0x01, 0xFF, 0xFF, 255, 250, 44, 107, 0x30, 255, 240, 0x02}));
    client.AwaitClose(kLongWait);
  });
  TComPort port;
  OpenAdapterLine(port, server.Name("rfc2217"));
  port.WriteBytes(kWithIac.data(), static_cast<int>(kWithIac.size()));
  EXPECT_EQ(ReceiveCount(port, kWithIac.size()), kWithIac);
  port.ClosePort();
  server.Join();

  EXPECT_EQ(data, Bytes({0x01, 0xFF, 0xFF, 0x02}));
  const std::vector<std::string> expected = {
      Bytes({1, 0x00, 0x00, 0x25, 0x80}),  // 9600 bit/s
      Bytes({2, 8}),                       // 8 data bits
      Bytes({3, 1}),                       // no parity
      Bytes({4, 1}),                       // 1 stop bit
      Bytes({5, 1}),                       // no flow control
      Bytes({5, 8}),                       // DTR on
      Bytes({5, 11}),                      // RTS on
  };
  EXPECT_EQ(tl8test::ComPortCommands(fromClient), expected);
}

// The answer comes after a copy of the request, as on a two-wire converter
// that hears itself: the requests drop the copy and learn that the line echoes.
TEST(NetLink, AnEchoOnTheLineIsDroppedBeforeTheAnswerIsJudged) {
  ScriptedServer server([](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    client.Send(client.ReceiveCount(kRequest.size(), kLongWait) + kAnswer);
    client.AwaitClose(kLongWait);
  });
  TComPort port;
  OpenAdapterLine(port, server.Name("tcp", "?allow=0"));
  ExchangeState exchange;
  ParamData params;
  ModbusRequests requests(port, exchange, params);
  exchange.DeviceAddress = 1;
  exchange.ParamIndex = 1;
  requests.SetFastReads(true);  // the answer is taken as soon as it is whole
  requests.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseStatus, kStatusAccepted);
  EXPECT_EQ(exchange.ParamValue, 1010.0);
  EXPECT_TRUE(requests.LineEchoes());
  port.ClosePort();
}

// --- Opening failures -------------------------------------------------------------

TEST(NetLink, AnOpeningThatFailsReportsAsAPortThatDoesNotOpen) {
  LoopSocket unused = LoopSocket::Listen();
  const std::string nobody = "tcp://127.0.0.1:" + std::to_string(unused.Port());
  unused.Close();  // nobody listens there any more: the connection is refused
  const struct {
    std::string name;
    std::optional<int> systemCode;
  } cases[] = {
      {nobody, std::nullopt},
      {"tcp://no-such-host.invalid:502", std::nullopt},
      {"rfc2217://127.0.0.1:0", comdev::kNetBadName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TComPort port;
    const std::optional<EComPort> failure = OpeningFailure(port, c.name);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Code(), ceOpenFailed);
    EXPECT_GT(failure->WinCode(), 0);
    if (c.systemCode) {
      EXPECT_EQ(failure->WinCode(), *c.systemCode);
    }
    EXPECT_FALSE(port.Connected());
  }
}

// No answer to the connection request, and an RFC 2217 server that never
// answers the settings: each ends after its 3 s bound with the timeout's code.
TEST(NetLink, ASilentServerEndsTheOpeningAfterItsBound) {
  const FullBacklog backlog;
  const ScriptedServer silent = SilentServer();
  const struct {
    std::string name;
    int code;
  } cases[] = {
      {backlog.Name(), ceOpenFailed},
      {silent.Name("rfc2217"), ceSetStateFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TComPort port;
    const Clock::time_point started = Clock::now();
    const std::optional<EComPort> failure = OpeningFailure(port, c.name);
    const int elapsedMs = ElapsedMs(started);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Code(), c.code);
    EXPECT_EQ(failure->WinCode(), comdev::kNetTimedOut);
    EXPECT_GE(elapsedMs, kNetOpenTimeoutMs - 50);  // the system's clock may round
    EXPECT_LT(elapsedMs, 4 * kNetOpenTimeoutMs);   // ended by the bound, not by chance
    EXPECT_FALSE(port.Connected());
  }
}

TEST(NetLink, AStopRequestEndsTheOpeningAtOnce) {
  const FullBacklog backlog;
  const ScriptedServer silent = SilentServer();
  const struct {
    std::string name;
    int code;
  } cases[] = {
      {backlog.Name(), ceOpenFailed},
      {silent.Name("rfc2217"), ceSetStateFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TComStopEvent stop;
    TComPort port;
    port.SetStopEvent(&stop);
    std::optional<EComPort> failure;
    {
      const StopSoon stopping(stop);
      failure = OpeningFailure(port, c.name);
    }
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Code(), c.code);
    EXPECT_EQ(failure->WinCode(), comdev::kNetStopped);
  }
}

TEST(NetLink, AStopRequestEndsAWaitWithoutLimit) {
  ScriptedServer server(
      [](LoopSocket& listener) { listener.Accept(kLongWait).AwaitClose(kLongWait); });
  TComPort port;
  OpenAdapterLine(port, server.Name("tcp"));
  TComStopEvent stop;
  TComEvents events{evRxChar};
  {
    const StopSoon stopping(stop);
    port.WaitForEvent(events, &stop, -1);
  }
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(port.Connected());
  port.ClosePort();
}

// --- A dropped connection -------------------------------------------------------------

// The server drops the connection while the tool waits for an answer, or
// before it writes: the operation fails once with the component's code and
// the connection's, the port reads as closed, and opening it again reaches
// the server anew.
TEST(NetLink, ADroppedConnectionFailsOnceAndTheNextOpeningReconnects) {
  enum class Where { InRead, InWrite };
  for (Where where : {Where::InRead, Where::InWrite}) {
    SCOPED_TRACE(where == Where::InRead ? "in a read" : "in a write");
    std::string second;
    ScriptedServer server([&](LoopSocket& listener) {
      {
        const LoopSocket first = listener.Accept(kLongWait);
        if (where == Where::InRead) first.ReceiveCount(kRequest.size(), kLongWait);
      }  // closed
      const LoopSocket again = listener.Accept(kLongWait);
      second = again.ReceiveCount(kRequest.size(), kLongWait);
      again.Send(kAnswer);
      again.AwaitClose(kLongWait);
    });
    TComPort port;
    OpenAdapterLine(port, server.Name("tcp"));
    int failedCode = 0;
    int systemCode = 0;
    try {
      if (where == Where::InRead) {
        port.WriteBytes(kRequest.data(), static_cast<int>(kRequest.size()));
        ReceiveCount(port, kAnswer.size());
      } else {
        const Clock::time_point deadline = Clock::now() + kLongWait;
        while (port.Connected() && Clock::now() < deadline) std::this_thread::yield();
        port.WriteBytes(kRequest.data(), static_cast<int>(kRequest.size()));
      }
    } catch (const EComPort& failure) {
      failedCode = failure.Code();
      systemCode = failure.WinCode();
    }
    EXPECT_EQ(failedCode, where == Where::InRead ? ceWaitFailed : ceWriteFailed);
    EXPECT_EQ(systemCode, comdev::kNetClosed);
    EXPECT_FALSE(port.Connected());
    EXPECT_THROW(port.PendingInputCount(), EComPort);  // closed now, as a lost device is

    port.OpenPort();
    port.WriteBytes(kRequest.data(), static_cast<int>(kRequest.size()));
    EXPECT_EQ(ReceiveCount(port, kAnswer.size()), kAnswer);
    port.ClosePort();
    server.Join();
    EXPECT_EQ(second, kRequest);
  }
}

// --- The round trip -------------------------------------------------------------------

// 40 ms each way between the tool and an RFC 2217 server: the settings'
// round trip shows it, and the allowance follows from it without the user.
TEST(NetLink, TheRoundTripOfTheSettingsGivesTheAllowance) {
  ScriptedServer server([](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    std::string fromClient;
    AgreeToSettings(client, fromClient);
    client.AwaitClose(kLongWait);
  });
  const tl8test::DelayProxy path(server.Port(), std::chrono::milliseconds(40));
  TComPort port;
  OpenAdapterLine(port, "rfc2217://127.0.0.1:" + std::to_string(path.Port()));
  EXPECT_GE(port.LatencyAllowanceMs(), AllowanceForRoundTrip(80));
  port.ClosePort();
}

}  // namespace
