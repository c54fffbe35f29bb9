// Every service function through a Modbus TCP to RTU gateway that shares no
// code with the tool or its simulator: pymodbus's TCP server forwarding each
// request to its RTU client on tl8sim's pseudo-terminal
// (independent_gateway.py). Real processes and sockets, in real time.

#include "modbus/device_float.h"
#include "modbus/params.h"
#include "modbus/recorded_write.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/net/net_test_dir.h"
#include "tests/support/script_process.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <string>

namespace {

using tl8test::kServedAdapter;
using tl8test::NetTestDir;

// The calibration window's image with parameter 1 changed to `value`.
bool BuildImage(Session& s, const QString& value) {
  ImageTexts texts;
  const char* values[] = {"1010", "630", "16",  "4",   "85", "-40",
                          "16",   "4",   "200", "1.5", "16", "4"};
  for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = values[i - 1];
  texts.FloatFields[1] = value;
  texts.SerialNumber = "101001";
  texts.Address = QString::number(kServedAdapter);
  texts.Moment = QDateTime::currentDateTime();
  return BuildParamImage(texts, s.Params(), s.Exchange());
}

TEST(IndependentGateway, SearchReadWriteAndAddressChange) {
  const tl8test::SimProcess sim({"--address", std::to_string(kServedAdapter)});
  const tl8test::ScriptProcess gateway(
      {"/usr/bin/python3", NetTestDir() + "/independent_gateway.py", sim.port()});
  if (gateway.FirstLine().rfind("missing: ", 0) == 0)
    GTEST_SKIP() << "python3-pymodbus is not installed (" << gateway.FirstLine()
                 << "): no independent gateway";
  ASSERT_FALSE(gateway.FirstLine().empty()) << "the gateway did not start";
  TComPort port;
  Session session(port);
  // The gateway gives up on a unit after 0.3 s: the tool allows for more.
  OpenAdapterLine(port, "modbus-tcp://127.0.0.1:" + gateway.FirstLine() + "?allow=500");

  // Addresses 1 and 2 answered by the gateway's 0x0B, which ends each wait,
  // then the adapter.
  EXPECT_EQ(FindAdapterAddress(
                session, [] {}, 1, 5),
            kServedAdapter);
  session.TalkTo(kServedAdapter);
  // At the line's own speed: the paced read's waits are the virtual-time
  // tests' business, this one's is the bytes.
  const ReadOutcome read =
      ReadAdapter(session, {ReadPlan::FirstRequest::Probe, RetryPause::AfterRetry, 50, true});
  EXPECT_EQ(read.result, ReadResult::Read);
  EXPECT_TRUE(read.checksumMatches);

  ASSERT_TRUE(BuildImage(session, "1234.5"));
  EXPECT_EQ(WriteImage(session, kServedAdapter).result, WriteResult::Written);
  const auto p1 = sim.state().param(1);
  EXPECT_EQ(DeviceFloatToDouble(p1[0], p1[1], p1[2], p1[3]), 1234.5);

  // pymodbus passes the broadcast on: the change is confirmed.
  EXPECT_TRUE(BroadcastNewAddressRecorded(session, {}, 9, true).confirmed);
  EXPECT_EQ(sim.state().address, 9);
}

}  // namespace
