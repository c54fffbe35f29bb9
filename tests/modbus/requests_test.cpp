// The requests and collection loops against a scripted adapter on the other
// end of the line, in virtual time: the fixed delays and silences are exact.
// The same requests over a real port: the simulated-link and session tests.

#include "modbus/requests.h"

#include "modbus/device_float.h"
#include "modbus/number_text.h"
#include "tests/modbus/scripted_link.h"
#include "tests/support/scripted_boxes.h"
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>

namespace {

Responder AnswerEachWith(std::vector<Burst> bursts) {
  return [bursts](const std::string&) { return bursts; };
}

class RequestsTest : public ::testing::Test {
 public:  // the case tables drive the fixture
  void SetUp() override { exchange.DeviceAddress = 1; }

  // The way the address search and the pass-through command send.
  void SendOwnFrame(const std::string& hex) {
    const std::string body = Bytes(hex);
    std::copy(body.begin(), body.end(), exchange.TxFrame.begin());
    exchange.AppendCrc(static_cast<int>(body.size()));
    requests.SendFrame();
  }

  int64_t Now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now()).count();
  }
  void Pass(int ms) { clock.AdvanceTo(clock.Now() + std::chrono::milliseconds(ms)); }

  VirtualClock clock;
  ScriptedLink peer{clock};
  ExchangeState exchange;
  ParamData params;
  ModbusRequests requests{peer, exchange, params, clock};
};

TEST_F(RequestsTest, FramesDelaysAndCollection) {
  const struct {
    const char* name;
    std::function<void(RequestsTest&)> send;
    const char* frame;
    int minimumMs;  // the fixed delays
    bool collects;
  } cases[] = {
      {"probe", [](RequestsTest& t) { t.requests.ReadParameter(1); }, "01 03 00 00 00 07 04 08", 50,
       true},
      {"read parameter 1",
       [](RequestsTest& t) {
         t.exchange.ParamIndex = 1;
         t.requests.ReadParameter(0);
       },
       "01 03 01 01 00 02 94 37", 120, true},
      {"write parameter 2 to address 5",
       [](RequestsTest& t) {
         t.exchange.DeviceAddress = 5;
         t.exchange.ParamIndex = 2;
         const std::string data = Bytes("00 00 40 80");
         std::copy(data.begin(), data.end(), t.params.ParamImage.begin() + 8);
         t.requests.WriteParameter();
       },
       "05 10 01 03 00 02 04 00 00 40 80 9B 7A", 100, true},
      {"write register 373", [](RequestsTest& t) { t.requests.WriteSingleRegister(373, 1); },
       "01 06 01 75 00 01 58 2C", 60, true},
      {"write register 373 at 247",
       [](RequestsTest& t) {
         t.exchange.DeviceAddress = 247;
         t.requests.WriteSingleRegister(0x0175, 1);
       },
       "F7 06 01 75 00 01 4C BA", 60, true},
      {"a caller's own frame", [](RequestsTest& t) { t.SendOwnFrame("01 03 01 01 00 02"); },
       "01 03 01 01 00 02 94 37", 0, false},
  };
  // Every request is answered 10 ms later; the delay before collecting takes it in.
  // (Never with a copy of the frame, which would be taken for the line's echo.)
  peer.SetResponder([](const std::string& frame) {
    return std::vector<Burst>{{10, WithCrc(frame.substr(0, 5))}};
  });
  size_t sent = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    exchange.ResponseText.clear();
    exchange.DeviceAddress = 1;
    const int64_t start = Now();
    c.send(*this);
    const int64_t elapsed = Now() - start;
    EXPECT_GE(elapsed, c.minimumMs);
    EXPECT_LT(elapsed, c.minimumMs + 1000);
    const auto frames = peer.Frames();
    ++sent;
    ASSERT_EQ(frames.size(), sent);
    EXPECT_EQ(Hex(frames.back()), c.frame);
    if (c.collects) {
      EXPECT_EQ(exchange.ResponseText, WithCrc(frames.back().substr(0, 5)));
    } else {
      Pass(50);
      requests.CollectResponse();  // its answer must not reach the next case
    }
  }
}

TEST_F(RequestsTest, ParameterReadResults) {
  const struct {
    const char* name;
    int index;
    std::vector<Burst> answer;
    int32_t status;
    std::optional<double> value;
    std::optional<int32_t> serial;
    std::optional<QString> stamp;
    bool rawStored;
  } cases[] = {
      {"no answer", 1, {}, 1, {}, {}, {}, false},
      {"two bytes", 1, {{5, Bytes("01 03")}}, 1, {}, {}, {}, false},
      {"float", 2, {{5, WithCrc(Bytes("01 03 04 80 00 44 1D"))}}, 0, 630.0, {}, {}, true},
      {"offset float", 5, {{5, WithCrc(Bytes("01 03 04 00 00 42 F0"))}}, 0, 120.0, {}, {}, true},
      {"answer in two bursts",
       1,
       {{5, Bytes("01 03 04 00")}, {20, WithCrc(Bytes("01 03 04 00 00 3F 80")).substr(4)}},
       0,
       1.0,
       {},
       {},
       true},
      {"serial number", 13, {{5, WithCrc(Bytes("01 03 04 39 30 00 00"))}}, 0, {}, 12345, {}, true},
      {"serial number -1", 13, {{5, WithCrc(Bytes("01 03 04 FF FF FF FF"))}}, 0, {}, -1, {}, true},
      {"stamp",
       14,
       {{5, WithCrc(Bytes("01 03 04 A3 70 88 59"))}},
       0,
       {},
       0x598870A3,
       QString("08/12/2024(14:05:06)"),
       true},
      {"checksum parameter",
       16,
       {{5, WithCrc(Bytes("01 03 04 FF 00 0C BE"))}},
       0,
       {},
       {},
       {},
       true},
      {"swapped CRC", 1, {{5, Bytes("01 03 04 00 00 3F 80 BB 0F")}}, 5, {}, {}, {}, false},
      {"noise in front",
       1,
       {{5, Bytes("FF 00") + WithCrc(Bytes("01 03 04 00 00 3F 80"))}},
       5,
       {},
       {},
       {},
       false},
      {"exception", 1, {{5, WithCrc(Bytes("01 83 02"))}}, 2, {}, {}, {}, false},
      {"another address", 1, {{5, WithCrc(Bytes("02 03 04 00 00 3F 80"))}}, 5, {}, {}, {}, false},
      {"another function", 1, {{5, WithCrc(Bytes("01 04 04 00 00 3F 80"))}}, 5, {}, {}, {}, false},
      {"another function's exception", 1, {{5, WithCrc(Bytes("01 90 04"))}}, 5, {}, {}, {}, false},
      {"too short for the data", 1, {{5, WithCrc(Bytes("01 03 02 00 00"))}}, 5, {}, {}, {}, false},
      {"oversize",
       1,
       {{5, WithCrc(Bytes("01 03 FF") + std::string(100, '\x3F'))}},
       5,
       {},
       {},
       {},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    peer.SetResponder(AnswerEachWith(c.answer));
    exchange.ParamValue = -7.0;
    exchange.SerialNumber = -7;
    exchange.StampText = "untouched";
    params.ParamRaw.fill(0xEE);
    exchange.ParamIndex = c.index;
    requests.ReadParameter(0);

    EXPECT_EQ(exchange.ResponseStatus, c.status);
    EXPECT_EQ(exchange.ParamValue, c.value.value_or(-7.0));
    EXPECT_EQ(exchange.SerialNumber, c.serial.value_or(-7));
    EXPECT_EQ(exchange.StampText, c.stamp.value_or("untouched"));
    std::string raw(params.ParamRaw.begin(), params.ParamRaw.end());
    std::string expectedRaw(ParamData::kImageSize, '\xEE');
    if (c.rawStored) expectedRaw.replace(4 * c.index, 4, exchange.ResponseText.substr(3, 4));
    EXPECT_EQ(Hex(raw), Hex(expectedRaw));
  }
}

TEST_F(RequestsTest, InputLeftFromEarlierRequestsNeverCountsForTheNextOne) {
  const std::string four = WithCrc(Bytes("01 03 04 00 00 40 80"));
  const std::string one = WithCrc(Bytes("01 03 04 00 00 3F 80"));
  exchange.ParamIndex = 1;

  // Bytes that came in between requests are dropped before the next one.
  peer.SetResponder(AnswerEachWith({{5, one}}));
  requests.ReadParameter(0);
  ASSERT_EQ(exchange.ResponseStatus, 0);
  peer.Write(four + Bytes("55 AA"));
  Pass(20);
  requests.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseText, one);

  // An answer later than its read's collection, coming only once the next
  // read is on its way, is dropped too: after a read without an answer the
  // next request waits for the line to fall quiet.
  int frames = 0;
  peer.SetResponder([&frames, four, one](const std::string&) {
    return std::vector<Burst>{++frames == 1 ? Burst{140, four} : Burst{5, one}};
  });
  requests.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseStatus, 1);
  requests.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseStatus, 0);
  EXPECT_EQ(exchange.ResponseText, one);
  EXPECT_EQ(exchange.ParamValue, 1.0);
}

// A write counts as done only on the adapter's echo of it.
TEST_F(RequestsTest, WriteAnswersJudged) {
  const struct {
    const char* name;
    std::function<std::string(const std::string& request)> answer;
    int32_t status;
  } answers[] = {
      {"echo", [](const std::string& r) { return WithCrc(r.substr(0, 6)); }, 0},
      {"none", [](const std::string&) { return std::string(); }, 1},
      {"exception",
       [](const std::string& r) { return WithCrc(r.substr(0, 1) + char(r[1] | 0x80) + '\x04'); },
       2},
      {"swapped CRC",
       [](const std::string& r) {
         std::string a = WithCrc(r.substr(0, 6));
         std::swap(a[6], a[7]);
         return a;
       },
       5},
      {"another address", [](const std::string& r) { return WithCrc('\x02' + r.substr(1, 5)); }, 5},
      {"another function",
       [](const std::string& r) { return WithCrc(r.substr(0, 1) + '\x03' + r.substr(2, 4)); }, 5},
      {"another register",
       [](const std::string& r) { return WithCrc(r.substr(0, 3) + '\x09' + r.substr(4, 2)); }, 5},
      {"cut short with a good CRC", [](const std::string& r) { return WithCrc(r.substr(0, 3)); },
       5},
      {"noise in front", [](const std::string& r) { return Bytes("FF") + WithCrc(r.substr(0, 6)); },
       5},
  };
  const struct {
    const char* name;
    std::function<void(RequestsTest&)> write;
  } writes[] = {
      {"function 6", [](RequestsTest& t) { t.requests.WriteSingleRegister(375, 5); }},
      {"function 16",
       [](RequestsTest& t) {
         t.exchange.ParamIndex = 3;
         t.requests.WriteParameter();
       }},
  };
  for (const auto& w : writes) {
    for (const auto& a : answers) {
      SCOPED_TRACE(std::string(w.name) + ", " + a.name);
      peer.SetResponder([&a](const std::string& frame) {
        const std::string answer = a.answer(frame);
        return answer.empty() ? std::vector<Burst>{} : std::vector<Burst>{{5, answer}};
      });
      exchange.ResponseStatus = -1;
      w.write(*this);
      EXPECT_EQ(exchange.ResponseStatus, a.status);
    }
  }
}

// A converter that hears its own transmitter puts the frame in front of the
// answer. Only an exact copy of the whole frame at the very front is that
// echo; the rest is judged as any answer is.
TEST_F(RequestsTest, EchoInFrontOfTheAnswerIsDroppedBeforeItIsJudged) {
  const std::string frame = Bytes("01 03 01 01 00 02 94 37");  // the read of parameter 1
  const std::string answer = WithCrc(Bytes("01 03 04 00 00 3F 80"));
  std::string swapped = answer;
  std::swap(swapped[7], swapped[8]);
  const std::string refusal = WithCrc(Bytes("01 83 02"));
  const std::string cut = frame.substr(0, 7);
  const struct {
    const char* name;
    std::vector<Burst> line;
    int32_t status;
    std::string judged;  // what is left to judge
    bool echoes;
  } cases[] = {
      {"echo, then the answer", {{0, frame}, {5, answer}}, 0, answer, true},
      {"echo and answer in one burst", {{0, frame + answer}}, 0, answer, true},
      {"echo of a silent adapter", {{0, frame}}, 1, "", true},
      {"echo, then a swapped CRC", {{0, frame}, {5, swapped}}, 5, swapped, true},
      {"echo, then a refusal", {{0, frame}, {5, refusal}}, 2, refusal, true},
      {"all of the frame but its last byte", {{0, cut}, {5, answer}}, 5, cut + answer, false},
      {"the copy after the answer", {{5, answer + frame}}, 5, answer + frame, false},
      {"no echo", {{5, answer}}, 0, answer, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    peer.SetResponder(AnswerEachWith(c.line));
    exchange.ParamIndex = 1;
    requests.ReadParameter(0);
    ASSERT_EQ(Hex(peer.Frames().back()), Hex(frame));
    EXPECT_EQ(exchange.ResponseStatus, c.status);
    EXPECT_EQ(Hex(exchange.ResponseText), Hex(c.judged));
    EXPECT_EQ(requests.LineEchoes(), c.echoes);
  }
}

// A single-register write is answered with a copy of itself: a single copy
// is taken for the echo only once the line is known to echo; two copies are
// the echo and the answer on any line.
TEST_F(RequestsTest, CopyOfASingleRegisterWriteIsTheEchoOnlyOnALineKnownToEcho) {
  const struct {
    const char* name;
    bool lineEchoed;  // the read before it came back with its echo
    int copies;
    int32_t status;
    bool echoesAfter;
  } cases[] = {
      {"quiet line, answered", false, 1, kStatusAccepted, false},
      {"quiet line, silent adapter", false, 0, kStatusNoAnswer, false},
      {"echoing line, answered", true, 2, kStatusAccepted, true},
      {"echoing line, silent adapter", true, 1, kStatusNoAnswer, true},
      {"echo not seen before, answered", false, 2, kStatusAccepted, true},
      {"echo gone, nothing came", true, 0, kStatusNoAnswer, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    peer.SetResponder([&c](const std::string& frame) {
      const bool write = frame[1] == '\x06';
      const int copies = write ? c.copies : (c.lineEchoed ? 1 : 0);
      std::vector<Burst> line(copies, Burst{1, frame});
      if (!write) line.push_back({5, WithCrc(Bytes("01 03 04 00 00 3F 80"))});
      return line;
    });
    exchange.ParamIndex = 1;
    requests.ReadParameter(0);
    ASSERT_EQ(requests.LineEchoes(), c.lineEchoed);
    requests.WriteSingleRegister(375, 5);
    EXPECT_EQ(exchange.ResponseStatus, c.status);
    EXPECT_EQ(requests.LineEchoes(), c.echoesAfter);
  }
}

TEST_F(RequestsTest, NothingIsSentOnceTheStopEventIsSignalled) {
  TComStopEvent stop;
  requests.SetStopEvent(&stop);
  requests.ReadParameter(1);  // not signalled yet: sent
  stop.Signal();
  const std::function<void()> requestsOfEveryKind[] = {
      [this] { requests.ReadParameter(0); }, [this] { requests.ReadParameter(1); },
      [this] { requests.WriteParameter(); }, [this] { requests.WriteSingleRegister(375, 1); },
      [this] {
        requests.SendOwnFrame({1, 3, 1, 1, 0, 2});
      }};
  for (const auto& request : requestsOfEveryKind) EXPECT_THROW(request(), EStopRequested);
  EXPECT_EQ(peer.Frames().size(), 1u);
}

TEST_F(RequestsTest, UndecodableFloatEndsTheRead) {
  peer.SetResponder(AnswerEachWith({{5, WithCrc(Bytes("01 03 04 FF FF FF FF"))}}));
  exchange.ParamIndex = 3;
  EXPECT_THROW(requests.ReadParameter(0), EFloatOverflow);
  EXPECT_EQ(params.ParamRaw[12], 0);
}

TEST_F(RequestsTest, OtherReadModesSendNothing) {
  exchange.TxFrame.fill(0x55);
  exchange.FrameLength = 3;
  exchange.ResponseText = "kept";
  for (int mode : {2, -1, 100}) requests.ReadParameter(mode);
  EXPECT_EQ(exchange.TxFrame[0], 0x55);
  EXPECT_EQ(exchange.FrameLength, 3);
  EXPECT_EQ(exchange.ResponseText, "kept");
  requests.ReadParameter(1);  // the probe is the first thing on the line
  const auto frames = peer.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(Hex(frames[0]), "01 03 00 00 00 07 04 08");
}

TEST_F(RequestsTest, ReadDataModbusEndsOn80MsOfSilence) {
  peer.SetResponder(
      AnswerEachWith({{5, Bytes("01 06")}, {40, Bytes("01 75")}, {200, Bytes("00 01")}}));
  SendOwnFrame("01 06 01 75 00 01");
  requests.ReadDataModbus();
  EXPECT_EQ(Hex(exchange.ResponseText), "01 06 01 75");
  Pass(300);
  requests.CollectResponse();  // the third burst came after the silence and waited in the port
  EXPECT_EQ(Hex(exchange.ResponseText), "00 01");
}

TEST_F(RequestsTest, ReadDataModbusStopsAtOnceOnTheStopEvent) {
  int64_t start = Now();
  requests.ReadDataModbus();
  EXPECT_GE(Now() - start, 80);  // nothing came: one silent wait

  TComStopEvent stop;
  stop.Signal();
  requests.SetStopEvent(&stop);
  start = Now();
  for (int i = 0; i < 10; ++i) requests.ReadDataModbus();
  EXPECT_LT(Now() - start, 80);  // not even one silent wait
  EXPECT_EQ(exchange.ResponseText, "");
}

// The image written parameter by parameter to an adapter that keeps what it
// gets, and read back: the bytes read equal the image and the checksum holds.
TEST_F(RequestsTest, ImageWrittenAndReadBack) {
  auto memory = std::make_shared<std::map<int, std::string>>();
  peer.SetResponder([memory](const std::string& frame) {
    const int reg = static_cast<uint8_t>(frame[2]) << 8 | static_cast<uint8_t>(frame[3]);
    if (frame[1] == 0x10) {
      (*memory)[reg] = frame.substr(7, 4);
      return std::vector<Burst>{{5, WithCrc(frame.substr(0, 6))}};
    }
    const std::string data = memory->count(reg) ? (*memory)[reg] : std::string(4, '\0');
    return std::vector<Burst>{{5, WithCrc(frame.substr(0, 1) + "\x03\x04" + data)}};
  });
  ImageTexts texts;
  for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = QString::number(i * 1.25);
  texts.FloatFields[5] = "20";
  texts.SerialNumber = "0101001";
  texts.Address = "1";
  texts.Moment = QDateTime(QDate(2024, 12, 8), QTime(14, 5, 7));
  ScriptedBoxes shown;
  ASSERT_TRUE(BuildParamImage(texts, params, exchange));
  for (int i = 1; i <= kParamCount; ++i) {
    exchange.ParamIndex = i;
    requests.WriteParameter();
    ASSERT_GE(exchange.ResponseText.size(), 3u) << i;
  }
  QStringList shownTexts;
  for (int i = 1; i <= kParamCount; ++i) {
    exchange.ParamIndex = i;
    requests.ReadParameter(0);
    ASSERT_EQ(exchange.ResponseStatus, 0) << i;
    if (IsFloatParam(i)) shownTexts << ParamShownText(i, exchange.ParamValue);
    if (i == 13) shownTexts << SerialNumberText(exchange.SerialNumber);
  }
  EXPECT_EQ(shownTexts.join(' '),
            "1.25 2.50 3.7500 5.0000 20.00 7.50 8.7500 10.0000 11.25 12.50 "
            "13.7500 15.0000 0101001");
  EXPECT_EQ(exchange.StampText, "08/12/2024(14:05:06)");
  EXPECT_TRUE(std::equal(params.ParamRaw.begin() + 1, params.ParamRaw.begin() + 68,
                         params.ParamImage.begin() + 1));
  ChecksumVerify(params, exchange);
  EXPECT_TRUE(shown.Shown().empty());
}

}  // namespace
