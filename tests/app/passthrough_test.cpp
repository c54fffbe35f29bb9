// "Доп.режим": the switch request on the line and the verdict on the answer,
// played by hand by a scripted peer, and once against the simulated adapter,
// both in virtual time. Over a real port: the whole-session test.

#include "app/passthrough.h"

#include "modbus/session.h"
#include "tests/modbus/scripted_link.h"
#include "tests/support/qt_app.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/sim_session.h"
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

namespace {

const QString kSwitched = QStringLiteral("Адаптер переведен в режим побайтовой трансляции");
const QString kNoAnswer = QStringLiteral("Нет ответа от ТЛ-8 с адресом  00");

std::string Swapped(std::string frame) {
  std::swap(frame[frame.size() - 2], frame[frame.size() - 1]);
  return frame;
}

// Longer than the frame buffer, ending in the CRC of only the first 100 bytes:
// a check that silently stops at the buffer's end would take it as correct.
std::string OversizeEndingInTheCrcOfTheBuffer() {
  std::string body(108, '\x01');
  const std::string buffered = WithCrc(body.substr(0, ExchangeState::kFrameSlots));
  return body + buffered.substr(ExchangeState::kFrameSlots);
}

class PassThrough : public ::testing::Test {
 protected:
  // Runs the command while the other end of the line takes the request and
  // answers with `answer`; returns the request as it arrived.
  std::string SwitchAnswering(const std::string& answer, bool& ended) {
    line.SetResponder([answer](const std::string&) {
      return answer.empty() ? std::vector<Burst>{} : std::vector<Burst>{{0, answer}};
    });
    const size_t before = line.Frames().size();
    ended = SwitchToPassThrough(session);
    return line.Frames().size() == before + 1 ? line.Frames().back() : std::string();
  }

  QApplication& app = TestApp();
  ScriptedBoxes boxes;
  VirtualClock clock;
  ScriptedLink line{clock};
  Session session{line, clock};
};

TEST_F(PassThrough, VerdictFollowsTheAnswersLengthAndCrc) {
  const std::string request1("\x01\x06\x01\x75\x00\x01\x58\x2C", 8);
  const struct {
    const char* name;
    std::string answer;
    bool ends;
    int32_t status;
  } cases[] = {
      {"echo", request1, true, 8},
      {"6 bytes with a correct CRC", WithCrc(std::string("\x01\x06\x01\x75", 4)), true, 6},
      {"5 bytes with a correct CRC (an exception)", WithCrc(std::string("\x01\x86\x02", 3)), false,
       5},
      {"echo with its CRC bytes swapped", Swapped(request1), false, 5},
      {"2 bytes", std::string("\x01\x06", 2), false, 1},
      {"no answer", "", false, 1},
      {"oversize", OversizeEndingInTheCrcOfTheBuffer(), false, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    session.Exchange().DeviceAddress = 1;
    boxes.Clear();
    bool ended = false;
    EXPECT_EQ(SwitchAnswering(c.answer, ended), request1);
    EXPECT_EQ(ended, c.ends);
    EXPECT_EQ(session.Exchange().ResponseStatus, c.status);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    const ShownBox& box = boxes.Shown()[0];
    EXPECT_EQ(box.text, c.ends ? kSwitched : kNoAnswer + QStringLiteral("1"));
    EXPECT_EQ(box.icon, BoxIcon::None);
    EXPECT_EQ(box.pos, QPoint(180, 250));
    EXPECT_EQ(box.caption, QStringLiteral("Tl8v05"));
  }
}

TEST_F(PassThrough, NamesTheAddressWhenTheAdapterAt247StaysSilent) {
  session.Exchange().DeviceAddress = 247;
  bool ended = true;
  EXPECT_EQ(SwitchAnswering("", ended), std::string("\xF7\x06\x01\x75\x00\x01\x4C\xBA", 8));
  EXPECT_FALSE(ended);
  EXPECT_EQ(boxes.Texts(), std::vector<QString>{kNoAnswer + QStringLiteral("247")});
}

TEST_F(PassThrough, SendsNothingWhileAnotherExchangeRuns) {
  ExchangeGate::Scope other(session.Gate());
  EXPECT_FALSE(SwitchToPassThrough(session));
  EXPECT_TRUE(line.Frames().empty());
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST(PassThroughOnTheSimulator, TheAdapterTakesTheCommandAndEchoesFromThenOn) {
  TestApp();
  ScriptedBoxes boxes;
  tl8test::SimSession sim(tl8test::SimulatorSetup({"--address", "247"}));
  sim.session.Exchange().DeviceAddress = 247;
  EXPECT_TRUE(SwitchToPassThrough(sim.session));
  EXPECT_EQ(boxes.Texts(), std::vector<QString>{kSwitched});
  bool switched = false;
  for (const auto& entry : sim.link().journal())
    switched = switched || entry.note.find("pass-through") != std::string::npos;
  EXPECT_TRUE(switched);
  EXPECT_TRUE(sim.link().passThrough());
}

}  // namespace
