// The client side of RFC 2217 as bytes in and bytes out: the data's 255s
// doubled and undoubled, Telnet commands taken out of the data wherever a
// read cuts them, the options negotiated without loops, and the line's
// settings sent as the server's port must get them.

#include "net/rfc2217.h"

#include "tests/net/telnet_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tl8test::Bytes;

// The tool's own line: 9600 8N1, no flow control, DTR and RTS raised.
comdev::LineSettings ToolLine() {
  comdev::LineSettings line;
  line.dtr = dtrEnable;
  line.rts = rtsEnable;
  return line;
}

TEST(Rfc2217, DataBytes255AreDoubledOnTheWayOutAndUndoubledOnTheWayIn) {
  const std::string data = Bytes({0x01, 0xFF, 0x02, 0xFF, 0xFF, 0x03});
  const std::string escaped = TRfc2217Client::Escape(data);
  EXPECT_EQ(escaped, Bytes({0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x03}));
  TRfc2217Client client;
  std::string received;
  EXPECT_EQ(client.Receive(escaped, received), "");
  EXPECT_EQ(received, data);
}

// A stream of data with a doubled 255, a modem-state notification, a NOP and
// an option the tool does not take, cut at every place a read could cut it.
TEST(Rfc2217, CommandsAreTakenOutOfTheDataWhereverAReadCutsThem) {
  const std::string stream = Bytes({0x11, 0xFF, 0xFF, 0x12, 0xFF, 250, 44, 107, 0x30, 0xFF, 240,
                                    0x13, 0xFF, 241, 0x14, 0xFF, 251, 1, 0x15});
  const std::string data = Bytes({0x11, 0xFF, 0x12, 0x13, 0x14, 0x15});
  const std::string reply = Bytes({0xFF, 254, 1});  // DONT ECHO
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    TRfc2217Client client;
    std::string received;
    std::string replies = client.Receive(stream.substr(0, cut), received);
    replies += client.Receive(stream.substr(cut), received);
    EXPECT_EQ(received, data);
    EXPECT_EQ(replies, reply);
  }
}

TEST(Rfc2217, OptionsAreAskedForAndAnsweredWithoutLoops) {
  TRfc2217Client client;
  // WILL BINARY, DO BINARY, DO SUPPRESS-GO-AHEAD, WILL COM-PORT-OPTION.
  EXPECT_EQ(client.Greeting(), Bytes({255, 251, 0, 255, 253, 0, 255, 253, 3, 255, 251, 44}));
  std::string data;
  const struct {
    std::string server;
    std::string reply;
  } steps[] = {
      // Answers to the tool's requests need no answer.
      {Bytes({255, 253, 0, 255, 251, 0, 255, 251, 3, 255, 253, 44}), ""},
      // Asked again, an option already on is not confirmed again.
      {Bytes({255, 253, 44, 255, 251, 0}), ""},
      // The server offers the COM port option from its side too: taken.
      {Bytes({255, 251, 44}), Bytes({255, 253, 44})},
      // Echo and the terminal type are refused, once each.
      {Bytes({255, 251, 1, 255, 253, 24}), Bytes({255, 254, 1, 255, 252, 24})},
      // Switching off binary from the server's side is acknowledged once.
      {Bytes({255, 252, 0, 255, 252, 0}), Bytes({255, 254, 0})},
  };
  for (const auto& step : steps) EXPECT_EQ(client.Receive(step.server, data), step.reply);
  EXPECT_EQ(data, "");
}

TEST(Rfc2217, TheToolsLineGoesOutAsSetCommands) {
  TRfc2217Client client;
  EXPECT_EQ(client.LineCommands(ToolLine()),
            Bytes({255, 250, 44, 1, 0x00, 0x00, 0x25, 0x80, 255, 240,     // 9600 bit/s
                   255, 250, 44, 2, 8,    255,  240,                      // 8 data bits
                   255, 250, 44, 3, 1,    255,  240,                      // no parity
                   255, 250, 44, 4, 1,    255,  240,                      // 1 stop bit
                   255, 250, 44, 5, 1,    255,  240,                      // no flow control
                   255, 250, 44, 5, 8,    255,  240,                      // DTR on
                   255, 250, 44, 5, 11,   255,  240,                      // RTS on
                   255, 250, 44, 1, 0x00, 0x00, 0x00, 0x00, 255, 240}));  // the rate now
}

// The server's agreement to the options the tool asked for.
const std::string kAgreement = Bytes({255, 253, 0, 255, 251, 0, 255, 253, 44});

TEST(Rfc2217, SettledOnlyOnceTheServerAgreedAndTookTheSpeedAndFraming) {
  comdev::LineSettings line = ToolLine();
  line.baudRate = 0xFF00;  // a rate with a 255 in it goes doubled both ways
  TRfc2217Client client;
  client.Greeting();
  client.LineCommands(line);
  std::string data;
  const std::string answers = tl8test::AnswersTo(TRfc2217Client().LineCommands(line));
  ASSERT_NE(answers.find(Bytes({0xFF, 0xFF, 0x00})), std::string::npos);

  client.Receive(answers, data);
  EXPECT_FALSE(client.Settled()) << "the server has not agreed to the options yet";
  client.Receive(Bytes({255, 253, 0, 255, 251, 0}), data);
  EXPECT_FALSE(client.Settled()) << "binary both ways, but not the COM port option";
  client.Receive(Bytes({255, 253, 44}), data);
  EXPECT_TRUE(client.Settled());
  EXPECT_EQ(client.Refusal(), "");
  EXPECT_TRUE(client.Unconfirmed().empty());
  EXPECT_EQ(data, "");
}

// A port without modem-control lines: the server takes the speed and the
// framing but never answers DTR and RTS, or keeps its own flow control. The
// settings are settled all the same, and what was not confirmed is told.
TEST(Rfc2217, FlowControlDtrAndRtsAreBestEffort) {
  TRfc2217Client client;
  client.Greeting();
  const std::vector<std::string> commands =
      tl8test::ComPortCommands(client.LineCommands(ToolLine()));
  std::string framingCommands;  // all but SET-CONTROL
  for (const std::string& command : commands)
    if (command[0] != 5) framingCommands += Bytes({255, 250, 44}) + command + Bytes({255, 240});
  const std::string framing = tl8test::AnswersTo(framingCommands);
  std::string data;
  client.Receive(kAgreement + framing, data);
  EXPECT_TRUE(client.Settled());
  EXPECT_EQ(client.Unconfirmed(),
            (std::vector<std::string>{"flow control none (no answer)", "DTR on (no answer)",
                                      "RTS on (no answer)"}));
  // Hardware flow control where none was asked for; RTS as asked.
  client.Receive(Bytes({255, 250, 44, 105, 3, 255, 240, 255, 250, 44, 105, 11, 255, 240}), data);
  EXPECT_TRUE(client.Settled());
  EXPECT_EQ(client.Unconfirmed(),
            (std::vector<std::string>{"flow control none (answered flow control hardware)",
                                      "DTR on (no answer)"}));
}

TEST(Rfc2217, ARefusedOptionOrFramingIsARefusal) {
  const struct {
    std::string server;
    std::string refusal;
  } cases[] = {
      {kAgreement + Bytes({255, 250, 44, 101, 0x00, 0x00, 0x12, 0xC0, 255, 240}),
       "the server's port keeps 4800 bit/s, not 9600 bit/s"},
      // The rate taken, but another one when asked for afterwards.
      {kAgreement + Bytes({255, 250, 44, 101, 0x00, 0x00, 0x25, 0x80, 255, 240,
                           255, 250, 44, 101, 0x00, 0x00, 0x04, 0xB0, 255, 240}),
       "the server's port keeps 1200 bit/s, not 9600 bit/s"},
      {kAgreement + Bytes({255, 250, 44, 103, 3, 255, 240}),
       "the server's port keeps parity even, not parity none"},
      {Bytes({255, 254, 44}), "the server refused the COM port option"},
      {Bytes({255, 252, 0}), "the server refused binary transmission"},
      {Bytes({255, 254, 0}), "the server refused binary transmission"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    TRfc2217Client client;
    client.Greeting();
    client.LineCommands(ToolLine());
    std::string data;
    client.Receive(c.server, data);
    EXPECT_EQ(client.Refusal(), c.refusal);
    EXPECT_FALSE(client.Settled());
  }
}

// A subnegotiation that never ends stops being collected at its bound.
TEST(Rfc2217, AnEndlessSubnegotiationIsAnOverrun) {
  TRfc2217Client client;
  client.Greeting();
  std::string data;
  client.Receive(Bytes({255, 250, 44, 107}), data);
  const std::string filler(TRfc2217Client::kMaxSubnegotiation - 2, 'x');
  client.Receive(filler, data);
  EXPECT_FALSE(client.Overrun()) << "a subnegotiation of the bound's length";
  client.Receive("xy", data);
  EXPECT_TRUE(client.Overrun());
  EXPECT_EQ(data, "");
}

}  // namespace
