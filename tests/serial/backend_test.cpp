// The port component over its backends: the kind of line a name means, and
// every operation of a session going through the port to whatever line it
// has, here the simulated adapter in virtual time, with the settings pushed
// and a line that is lost dropped as a device's is.

#include "modbus/service.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "serial/line_kinds.h"
#include "tests/support/sim_link.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(LineKinds, TheNameSaysWhichBackendOpensIt) {
  const struct {
    const char* name;
    TLineKind kind;
    std::string_view scheme;
  } names[] = {
      {"tcp://10.0.0.7:4001", TLineKind::NetworkLine, "tcp://"},
      {"RFC2217://host:4001?allow=100", TLineKind::NetworkLine, "rfc2217://"},
      {"ttyUSB0", TLineKind::SerialPort, ""},
      {"/dev/serial/by-id/usb-X", TLineKind::SerialPort, ""},
      {"tcp:/host:1", TLineKind::SerialPort, ""},  // no scheme: a device of that name
  };
  for (const auto& n : names) {
    SCOPED_TRACE(n.name);
    EXPECT_EQ(LineKindOf(n.name).kind, n.kind);
    EXPECT_EQ(LineKindOf(n.name).scheme, n.scheme);
  }
}

TEST(PortOverABackend, ARunsThroughThePortAsOverTheLineItself) {
  VirtualClock clock;
  auto owned = std::make_unique<tl8test::SimLink>(clock);
  tl8test::SimLink& line = *owned;
  TComPort port;
  port.OpenLine(std::move(owned));
  EXPECT_TRUE(port.Connected());
  for (TApplyStep step : {asBuffer, asLine, asTimeouts}) EXPECT_EQ(port.AppliedCount(step), 1);

  Session session(port, clock);
  session.TalkTo(1);
  const ReadOutcome outcome = ReadAdapter(session, ReadPlan{});
  EXPECT_EQ(outcome.result, ReadResult::Read);
  EXPECT_TRUE(outcome.checksumMatches);
  EXPECT_EQ(line.RequestsWritten(), 17);

  // A lost line: the failure goes on, and the port reads as closed.
  line.Unplug();
  EXPECT_THROW(port.WriteBytes("x", 1), EComPort);
  EXPECT_FALSE(port.Connected());
  try {
    port.PendingInputCount();
    ADD_FAILURE() << "a closed port answered";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), ceClearErrorFailed);
  }
  port.ClosePort();  // nothing left to close
}

}  // namespace
