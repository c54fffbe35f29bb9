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

#include <atomic>
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
using namespace std::chrono_literals;

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

// What an RFC 2217 client sends on a new connection: its greeting, its seven
// settings and its request for the rate (the bytes go on `fromClient`).
void ReceiveSettings(const LoopSocket& client, std::string& fromClient) {
  while (tl8test::ComPortCommands(fromClient).size() < 8) {
    const std::string got = client.Receive(kLongWait);
    if (got.empty()) return;
    fromClient += got;
  }
}

void ReceiveSettings(const LoopSocket& client) {
  std::string fromClient;
  ReceiveSettings(client, fromClient);
}

// An RFC 2217 server's opening: it agrees to the option and takes every
// setting the client sends (the client's bytes so far go to `fromClient`).
void AgreeToSettings(const LoopSocket& client, std::string& fromClient) {
  ReceiveSettings(client, fromClient);
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

TEST(NetPortName, TheFormsAreReadAndAnythingElseSaysWhatIsWrong) {
  const struct {
    const char* name;
    TNetPortName parsed = {};
    std::optional<TNetNameProblem> problem = {};
    const char* text = "";
  } cases[] = {
      {"tcp://192.168.1.20:4001", {TNetMode::Raw, "192.168.1.20", "4001", std::nullopt}},
      {"RFC2217://moxa-7.plant:950?allow=250", {TNetMode::Rfc2217, "moxa-7.plant", "950", 250}},
      // A gateway's port is 502 unless given.
      {"modbus-tcp://gw-3.plant", {TNetMode::ModbusTcp, "gw-3.plant", "502", std::nullopt}},
      {"Modbus-TCP://[fe80::1]?allow=40", {TNetMode::ModbusTcp, "fe80::1", "502", 40}},
      {"modbus-tcp://10.0.0.9:1502", {TNetMode::ModbusTcp, "10.0.0.9", "1502", std::nullopt}},
      {"modbus-tcp://fe80::1",
       {},
       TNetNameProblem{TNetNameFault::BareIpv6Address, "fe80::1"},
       "an IPv6 address needs brackets: [fe80::1]:PORT"},
      {"modbus-tcp://gw:",
       {},
       TNetNameProblem{TNetNameFault::NoPort, "gw:"},
       "no port after the host: HOST:PORT"},
      {"modbus-tcp://[fe80::1]x",
       {},
       TNetNameProblem{TNetNameFault::NoPort, "[fe80::1]x"},
       "no port after the host: HOST:PORT"},
      {"modbus-tcp://?allow=5", {}, TNetNameProblem{TNetNameFault::EmptyHost, ""}, "empty host"},
      {"tcp://[fe80::1]:502?allow=0", {TNetMode::Raw, "fe80::1", "502", 0}},
      {"tcp://host",
       {},
       TNetNameProblem{TNetNameFault::NoPort, "host"},
       "no port after the host: HOST:PORT"},
      {"tcp://host:",
       {},
       TNetNameProblem{TNetNameFault::NoPort, "host:"},
       "no port after the host: HOST:PORT"},
      {"tcp://:502", {}, TNetNameProblem{TNetNameFault::EmptyHost, ""}, "empty host"},
      {"tcp://[]:502", {}, TNetNameProblem{TNetNameFault::EmptyHost, ""}, "empty host"},
      {"tcp://host:0",
       {},
       TNetNameProblem{TNetNameFault::PortOutOfRange, "0"},
       "port 0 is out of range 1..65535"},
      {"tcp://host:65536",
       {},
       TNetNameProblem{TNetNameFault::PortOutOfRange, "65536"},
       "port 65536 is out of range 1..65535"},
      {"tcp://host:99999999999",
       {},
       TNetNameProblem{TNetNameFault::PortOutOfRange, "99999999999"},
       "port 99999999999 is out of range 1..65535"},
      {"tcp://host:50x",
       {},
       TNetNameProblem{TNetNameFault::PortNotNumber, "50x"},
       "port \"50x\" is not a number"},
      {"rfc2217://host:502/",
       {},
       TNetNameProblem{TNetNameFault::PortNotNumber, "502/"},
       "port \"502/\" is not a number"},
      {"tcp://[fe80::1:502",
       {},
       TNetNameProblem{TNetNameFault::UnclosedBracket, "[fe80::1:502"},
       "unclosed ["},
      {"tcp://fe80::1:502",
       {},
       TNetNameProblem{TNetNameFault::BareIpv6Address, "fe80::1"},
       "an IPv6 address needs brackets: [fe80::1]:PORT"},
      {"tcp://host:502?allow=-1",
       {},
       TNetNameProblem{TNetNameFault::BadAllowance, "-1"},
       "bad ?allow= value \"-1\": milliseconds 0..10000"},
      {"tcp://host:502?allow=10001",
       {},
       TNetNameProblem{TNetNameFault::BadAllowance, "10001"},
       "bad ?allow= value \"10001\": milliseconds 0..10000"},
      {"tcp://host:502?speed=9600",
       {},
       TNetNameProblem{TNetNameFault::UnknownOption, "speed=9600"},
       "unknown option \"?speed=9600\": only ?allow=MS"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(IsNetPortName(c.name));
    EXPECT_EQ(NetPortNameProblem(c.name), c.problem);
    const std::optional<TNetPortName> parsed = ParseNetPortName(c.name);
    ASSERT_EQ(parsed.has_value(), !c.problem);
    if (c.problem) {
      EXPECT_EQ(NetNameProblemText(*c.problem), c.text);
      continue;
    }
    EXPECT_EQ(parsed->mode, c.parsed.mode);
    EXPECT_EQ(parsed->host, c.parsed.host);
    EXPECT_EQ(parsed->port, c.parsed.port);
    EXPECT_EQ(parsed->allowanceMs, c.parsed.allowanceMs);
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
      Bytes({1, 0x00, 0x00, 0x00, 0x00}),  // the rate now, please
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

// A gateway's line: the request goes out in its MBAP header, the ADU's answer
// is taken; the next answer stops halfway as the gateway closes the
// connection, and that request fails: the value stays the last one read.
TEST(NetLink, AGatewaysLineCarriesMbapAndAConnectionClosedMidAnswerIsAFailure) {
  const std::string header = Bytes({0x00, 0x00, 0x00, 0x06});  // protocol, length
  const std::string answerPdu = kAnswer.substr(0, kAnswer.size() - 2);
  std::vector<std::string> requests;
  ScriptedServer server([&](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    for (int i = 1; i <= 2; ++i) {
      requests.push_back(client.ReceiveCount(12, kLongWait));
      const std::string answer = Bytes({0x00, static_cast<uint8_t>(i), 0x00, 0x00, 0x00,
                                        static_cast<uint8_t>(answerPdu.size())}) +
                                 answerPdu;
      client.Send(i == 1 ? answer : answer.substr(0, 9));
    }
  });  // closed after the second answer's start
  TComPort port;
  OpenAdapterLine(port, server.Name("modbus-tcp", "?allow=0"));
  ExchangeState exchange;
  ParamData params;
  ModbusRequests modbus(port, exchange, params);
  exchange.DeviceAddress = 1;
  exchange.ParamIndex = 1;
  modbus.SetFastReads(true);
  modbus.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseStatus, kStatusAccepted);
  EXPECT_EQ(exchange.ParamValue, 1010.0);
  exchange.ParamValue = 0;
  EXPECT_THROW(modbus.ReadParameter(0), EComPort);
  EXPECT_EQ(exchange.ParamValue, 0);
  server.Join();
  ASSERT_EQ(requests.size(), 2u);
  const std::string request = header + kRequest.substr(0, kRequest.size() - 2);
  EXPECT_EQ(requests[0], Bytes({0x00, 0x01}) + request);
  EXPECT_EQ(requests[1], Bytes({0x00, 0x02}) + request);
}

// --- Opening failures -------------------------------------------------------------

// Each failure names what happened, for the front ends' sentences: the
// system's own code (the lookup's on Linux, with its text), the server's
// words before it closed, the setting it refused, what is wrong with a name.
TEST(NetLink, AnOpeningThatFailsSaysWhatHappened) {
  const LoopSocket held = LoopSocket::Bound();  // nobody listens there: the connection is refused
  const std::string nobody = "tcp://127.0.0.1:" + std::to_string(held.Port());
  // Both take the tool's greeting and settings first: a close with bytes
  // unread would reset the connection and lose what was sent.
  ScriptedServer speaks([](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    ReceiveSettings(client);
    client.Send("Device open failure: No such file or directory\r\n");
  });
  ScriptedServer refuses([](LoopSocket& listener) {
    const LoopSocket client = listener.Accept(kLongWait);
    ReceiveSettings(client);
    // Agreed, but the port stays at 4800 bit/s.
    client.Send(Bytes({255, 253, 0, 255, 251, 0, 255, 253, 44, 255, 250, 44, 101, 0x00, 0x00, 0x12,
                       0xC0, 255, 240}));
    client.AwaitClose(kLongWait);
  });
  using Kind = TNetOpenFailure::Kind;
  const struct {
    std::string name;
    int code;  // the component's
    TNetOpenFailure failure;
  } cases[] = {
      {nobody, ceOpenFailed, {Kind::Refused, ""}},
      {"tcp://no-such-host.invalid:502", ceOpenFailed, {Kind::NoSuchHost, ""}},
      {"rfc2217://127.0.0.1:0", ceOpenFailed, {Kind::BadName, "port 0 is out of range 1..65535"}},
      {speaks.Name("rfc2217"),
       ceSetStateFailed,
       {Kind::ServerText, "Device open failure: No such file or directory"}},
      {refuses.Name("rfc2217"),
       ceSetStateFailed,
       {Kind::SettingsRefused, "the server's port keeps 4800 bit/s, not 9600 bit/s"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TComPort port;
    const std::optional<EComPort> failure = OpeningFailure(port, c.name);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Code(), c.code);
    EXPECT_NE(failure->WinCode(), -1) << "the system's own code";
    EXPECT_EQ(NetOpenFailureOf(c.name, *failure), c.failure) << failure->what();
    EXPECT_FALSE(port.Connected());
  }
  EXPECT_EQ(NetOpenFailureOf("ttyUSB0", EComPort(ceOpenFailed, 16)), std::nullopt);
}

// A device server that cannot open its device says so and closes at once:
// with the tool's greeting unread, which resets the connection, and the
// tool's settings then fail to go out before anything was read; or with
// everything read and a Telnet request in its words, whose answer then finds
// the connection closed. Either way the words are the reason. (Windows drops
// what came before a reset.)
TEST(NetLink, TheWordsBeforeTheServerClosedAreTheReason) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows drops received data on a reset";
#endif
  const std::string words = "Device open failure: No such file or directory\r\n";
  const struct {
    const char* name;
    bool readsGreeting;
    std::string says;
  } cases[] = {
      {"reset, the greeting unread", false, words},
      {"closed, a Telnet request to answer", true, words + Bytes({255, 253, 24})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> greeted = false;
    ScriptedServer closes([&](LoopSocket& listener) {
      const LoopSocket client = listener.Accept(kLongWait);
      for (auto until = Clock::now() + kLongWait; !greeted && Clock::now() < until;)
        std::this_thread::sleep_for(1ms);
      if (c.readsGreeting) client.Receive(kLongWait);
      client.Send(c.says);
    });
    const std::optional<TNetPortName> name = ParseNetPortName(closes.Name("rfc2217"));
    ASSERT_TRUE(name);
    std::optional<EComPort> failure;
    try {
      TNetLine line(*name, nullptr);
      greeted = true;
      closes.Join();
      line.SetLine(comdev::LineSettings{}, nullptr);
    } catch (const EComPort& e) {
      failure = e;
    }
    ASSERT_TRUE(failure);
    EXPECT_EQ(NetOpenFailureOf(closes.Name("rfc2217"), *failure),
              (TNetOpenFailure{TNetOpenFailure::Kind::ServerText,
                               "Device open failure: No such file or directory"}))
        << failure->what();
  }
}

// No answer to the connection request, and an RFC 2217 server that never
// answers the settings: each ends after its 3 s bound with the timeout's code.
TEST(NetLink, ASilentServerEndsTheOpeningAfterItsBound) {
  const FullBacklog backlog;
  const ScriptedServer silent = SilentServer();
  constexpr int kBoundMs = 300;  // the opening's 3 s, made short
  const struct {
    std::string name;
    int code;
  } cases[] = {
      {backlog.Name(), ceOpenFailed},
      {silent.Name("rfc2217"), ceSetStateFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<TNetPortName> name = ParseNetPortName(c.name);
    ASSERT_TRUE(name);
    name->openTimeoutMs = kBoundMs;
    const Clock::time_point started = Clock::now();
    std::optional<EComPort> failure;
    try {
      TNetLine line(*name, nullptr);
      line.SetLine(comdev::LineSettings{}, nullptr);
    } catch (const EComPort& e) {
      failure = e;
    }
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Code(), c.code);
    EXPECT_EQ(failure->WinCode(), comdev::kNetTimedOut);
    EXPECT_GE(ElapsedMs(started), kBoundMs - 50);  // the system's clock may round
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

// --- Hostile servers -------------------------------------------------------------

// A server that sends `chunk` over and over until the tool goes away.
void Flood(const LoopSocket& client, const std::string& chunk) {
  while (client.Send(chunk)) {
  }
}

// Servers no device server would be: one that floods data (raw, or after an
// RFC 2217 opening), one whose Telnet subnegotiation never ends, one that
// floods Telnet options and never reads. Each ends the line, the opening or
// the first receives after it, with the code and the words that say why;
// while it lasts, no more than the pending bound waits to be read.
TEST(NetLink, HostileServersEndTheLineAtItsBounds) {
  const std::string data(4096, '\x5A');
  std::string options;
  for (int i = 0; i < 1000; ++i) options += Bytes({255, 251, 1});  // WILL ECHO
  const std::string kTooFast = "the server sends faster than any serial line";
  const struct {
    const char* what;
    const char* scheme;
    ScriptedServer::Script script;
    bool opens;
    std::string reason;
  } cases[] = {
      {"floods data", "tcp", [&](LoopSocket& listener) { Flood(listener.Accept(kLongWait), data); },
       true, kTooFast},
      {"floods data after the settings", "rfc2217",
       [&](LoopSocket& listener) {
         const LoopSocket client = listener.Accept(kLongWait);
         std::string fromClient;
         AgreeToSettings(client, fromClient);
         Flood(client, data);
       },
       true, kTooFast},
      {"one endless subnegotiation", "rfc2217",
       [&](LoopSocket& listener) {
         const LoopSocket client = listener.Accept(kLongWait);
         ReceiveSettings(client);
         client.Send(Bytes({255, 250, 44, 107}));
         Flood(client, data);
       },
       false, "a Telnet subnegotiation longer than 512 bytes"},
      {"floods options and never reads", "rfc2217",
       [&](LoopSocket& listener) { Flood(listener.Accept(kLongWait), options); }, false, kTooFast},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedServer server(c.script);
    TComPort port;
    std::optional<EComPort> failure = OpeningFailure(port, server.Name(c.scheme));
    EXPECT_EQ(failure.has_value(), !c.opens) << (failure ? failure->what() : "");
    if (failure) {
      EXPECT_EQ(failure->Code(), ceSetStateFailed);
    }
    const Clock::time_point deadline = Clock::now() + kLongWait;
    while (!failure && Clock::now() < deadline) {
      try {
        TComEvents events{evRxChar};
        port.WaitForEvent(events, nullptr, static_cast<int>(kLongWait.count()));
        const int pending = port.PendingInputCount();
        EXPECT_LE(pending, static_cast<int>(TNetLine::kMaxPendingBytes));
        port.ReadBytes(pending);
      } catch (const EComPort& ended) {
        failure = ended;
      }
    }
    ASSERT_TRUE(failure) << "the line outlasted the flood";
    EXPECT_EQ(failure->WinCode(), comdev::kNetOverrun);
    EXPECT_EQ(failure->Reason(), c.reason);
    EXPECT_FALSE(port.Connected());
  }
}

// A server that takes nothing and never reads: a write ends at the stop
// request, or without one at its write timeouts, and gives the line up.
TEST(NetLink, AWriteTheServerDoesNotTakeEndsAtAStopOrItsTimeouts) {
  for (bool stopped : {true, false}) {
    SCOPED_TRACE(stopped ? "a stop request" : "the write timeouts");
    std::atomic<bool> done = false;
    ScriptedServer server([&done](LoopSocket& listener) {
      const LoopSocket client = listener.Accept(kLongWait);
      client.LimitReceiveBuffer(64 << 10);  // the bytes stop coming at once
      const Clock::time_point deadline = Clock::now() + kLongWait;
      while (!done && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    });
    TComStopEvent stop;
    TComPort port;
    port.SetStopEvent(&stop);
    OpenAdapterLine(port, server.Name("tcp"));
    if (!stopped) {
      port.Timeouts().SetWriteTotalMultiplier(0);
      port.Timeouts().SetWriteTotalConstant(100);
    }
    // Far more than the system's buffers hold (the server's receive side is
    // kept small): 100 ms a byte would take years.
    const std::string bytes(16 << 20, '\x01');
    std::optional<EComPort> failure;
    try {
      std::optional<StopSoon> stopping;
      if (stopped) stopping.emplace(stop);
      port.WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
    } catch (const EComPort& ended) {
      failure = ended;
    }
    done = true;
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Code(), ceWriteFailed);
    EXPECT_EQ(failure->WinCode(), stopped ? comdev::kNetStopped : comdev::kNetTimedOut);
    EXPECT_FALSE(port.Connected());
  }
}

// A read that would wait for weeks ends at the stop request with what came.
TEST(NetLink, AStopRequestEndsARead) {
  ScriptedServer server(
      [](LoopSocket& listener) { listener.Accept(kLongWait).AwaitClose(kLongWait); });
  TComStopEvent stop;
  TComPort port;
  port.SetStopEvent(&stop);
  OpenAdapterLine(port, server.Name("tcp"));
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalConstant(0x7FFFFFFF);
  std::string read = "not yet";
  {
    const StopSoon stopping(stop);
    read = port.ReadBytes(8);
  }
  EXPECT_EQ(read, "");
  EXPECT_TRUE(port.Connected()) << "a stop is no failure of the line";
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
