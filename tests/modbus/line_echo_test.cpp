// Every exchange of the tool through a line that echoes each frame before the
// answer, against the simulated adapter: the same outcomes as on a quiet line,
// and the pass-through's verdict on a line known (or not) to echo.

#include "modbus/register_map.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "tests/support/sim_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using tl8test::SimSession;
using tl8test::SimulatorSetup;

std::vector<std::string> Words(bool echo, std::vector<std::string> words) {
  if (echo) words.push_back("--echo");
  return words;
}

size_t Count(const TrafficLog& log, TrafficDirection direction, const QString& meaning = {}) {
  const std::vector<TrafficEntry> entries = log.Since(0);
  return std::count_if(entries.begin(), entries.end(), [&](const TrafficEntry& e) {
    return e.direction == direction && (meaning.isNull() || e.meaning == meaning);
  });
}

TEST(LineEcho, EveryExchangeWorksAsOnAQuietLine) {
  for (const bool echo : {false, true}) {
    SCOPED_TRACE(echo ? "echoing line" : "quiet line");
    // The adapter answers at 17: the addresses before it are silent, and their
    // echo alone must not pass for an answer.
    SimSession sim(SimulatorSetup(Words(echo, {"--address", "17"})));
    Session& s = sim.session;

    ASSERT_EQ(FindAdapterAddress(s, [] {}), 17);
    EXPECT_EQ(s.Requests().LineEchoes(), echo);
    s.Exchange().DeviceAddress = 17;

    ASSERT_TRUE(ReadAllParameters(
        s, [](const ParameterReading&) {}, 0));
    for (int i = 1; i <= kParamCount; ++i) {
      const auto raw = s.Params().ParamRaw.begin() + 4 * i;
      EXPECT_TRUE(std::equal(raw, raw + 4, sim.link().memory(17).param(i).begin())) << i;
    }

    std::copy(s.Params().ParamRaw.begin(), s.Params().ParamRaw.end(),
              s.Params().ParamImage.begin());
    const std::array<uint8_t, 4> ten = {0x00, 0x00, 0x41, 0x20};
    std::copy(ten.begin(), ten.end(), s.Params().ParamImage.begin() + 4 * 3);
    ASSERT_TRUE(WriteAllParameters(s, [](int) {}));
    EXPECT_TRUE(std::equal(ten.begin(), ten.end(), sim.link().memory(17).param(3).begin()));

    s.Requests().ReadParameter(1);  // the probe
    EXPECT_EQ(s.Exchange().ResponseText.size(), 19u);

    ASSERT_TRUE(WriteAddressRegister(s, 23));
    EXPECT_NO_THROW(sim.link().memory(23));
    s.Exchange().DeviceAddress = 23;

    BroadcastNewAddress(s, 30);
    EXPECT_NO_THROW(sim.link().memory(30));

    EXPECT_TRUE(SwitchAdapterToPassThrough(s));
    EXPECT_EQ(s.Exchange().ResponseStatus, 8);
    EXPECT_TRUE(sim.link().passThrough());

    // Each frame's echo was shown as such, and nothing else was taken for one.
    const size_t sent = Count(s.Traffic(), TrafficDirection::Sent);
    EXPECT_GT(sent, 2u * kParamCount);
    EXPECT_EQ(Count(s.Traffic(), TrafficDirection::Received, traffic::kEcho), echo ? sent : 0u);
  }
}

// The pass-through's answer is a copy of its request: on a line that echoes,
// a single copy is dropped only when the exchanges before showed the echo.
// Without them it cannot be told from the answer and is taken for one.
TEST(LineEcho, PassThroughVerdictByWhatTheLineIsKnownToDo) {
  const struct {
    const char* name;
    bool echo;
    bool searchFirst;  // the search teaches the session whether the line echoes
    bool adapterAnswers;
    bool switched;
    int32_t status;
  } cases[] = {
      {"quiet line, adapter answers", false, true, true, true, 8},
      {"quiet line, adapter silent", false, true, false, false, kStatusNoAnswer},
      {"echoing line, adapter answers", true, true, true, true, 8},
      {"echoing line, adapter silent", true, true, false, false, kStatusNoAnswer},
      {"echo not yet seen, adapter answers", true, false, true, true, 8},
      {"echo not yet seen, adapter silent", true, false, false, true, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words = {"--address", "3"};
    if (!c.adapterAnswers) words.insert(words.end(), {"--fault", "silent,reg=373"});
    SimSession sim(SimulatorSetup(Words(c.echo, words)));
    Session& s = sim.session;
    if (c.searchFirst) {
      ASSERT_EQ(FindAdapterAddress(s, [] {}), 3);
    }
    s.Exchange().DeviceAddress = 3;
    EXPECT_EQ(SwitchAdapterToPassThrough(s), c.switched);
    EXPECT_EQ(s.Exchange().ResponseStatus, c.status);
  }
}

}  // namespace
