// The adapter's data formats: CRC, device float, write-date stamp, number
// texts and conversions, the parameter table, the image and its checksum.

#include "modbus/device_float.h"
#include "modbus/exchange_state.h"
#include "modbus/number_text.h"
#include "modbus/params.h"
#include "modbus/stamp.h"
#include "tests/modbus/bytes_text.h"
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

namespace {

uint16_t CrcOf(const std::string& bytes) {
  ExchangeState state;
  for (size_t i = 0; i < bytes.size(); ++i) state.TxFrame[i] = static_cast<uint8_t>(bytes[i]);
  return state.ModbusCrc16(static_cast<int>(bytes.size()));
}

std::string FloatHex(double value) {
  const DeviceFloatBytes b = DoubleToDeviceFloat(value);
  return Hex(std::string(b.begin(), b.end()));
}

double Decode(const std::string& hex) {
  const std::string b = Bytes(hex);
  return DeviceFloatToDouble(b[0], b[1], b[2], b[3]);
}

TEST(ModbusCrc16, WorkedValues) {
  EXPECT_EQ(CrcOf(Bytes("01 03 00 00 00 07")), 0x0804);  // 04 08 on the wire
  EXPECT_EQ(CrcOf("123456789"), 0x4B37);
  EXPECT_EQ(CrcOf(Bytes("01 06 01 75 00 01")), 0x2C58);
  EXPECT_EQ(CrcOf(Bytes("F7 06 01 75 00 01")), 0xBA4C);
  ExchangeState state;
  EXPECT_EQ(state.ModbusCrc16(0), 0xFFFF);
  EXPECT_EQ(state.ModbusCrc16(-3), 0xFFFF);
}

TEST(ModbusCrc16, AppendCrcAndResponseCheck) {
  ExchangeState state;
  const std::string probe = Bytes("01 03 00 00 00 07");
  std::copy(probe.begin(), probe.end(), state.TxFrame.begin());
  state.AppendCrc(6);
  EXPECT_EQ(state.FrameLength, 8);
  EXPECT_EQ(state.TxFrame[6], 0x04);
  EXPECT_EQ(state.TxFrame[7], 0x08);

  state.ResponseText = WithCrc(Bytes("01 03 04 00 00 3F 80"));
  EXPECT_TRUE(state.ResponseCrcMatches());
  EXPECT_EQ(state.TxFrame[5], 0x3F);  // the answer is in the frame buffer now
  std::swap(state.ResponseText[7], state.ResponseText[8]);
  EXPECT_FALSE(state.ResponseCrcMatches());
  state.ResponseText = Bytes("01 83");
  EXPECT_FALSE(state.ResponseCrcMatches());
  state.ResponseText = WithCrc(std::string(101, '\x01'));  // 103 bytes: beyond the buffer
  EXPECT_FALSE(state.ResponseCrcMatches());
  state.ResponseText = WithCrc(std::string(100, '\x01'));  // 102 bytes: still checkable
  EXPECT_TRUE(state.ResponseCrcMatches());
}

TEST(DeviceFloat, WorkedValuesBothWays) {
  const struct {
    double value;
    const char* bytes;
  } cases[] = {
      {1.0, "00 00 3F 80"},   {1.5, "00 00 3F C0"},   {4.0, "00 00 40 80"},
      {16.0, "00 00 41 80"},  {-40.0, "00 00 C2 20"}, {100.0, "00 00 42 C8"},
      {120.0, "00 00 42 F0"}, {630.0, "80 00 44 1D"}, {0.0, "00 00 00 00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FloatHex(c.value), c.bytes) << c.value;
    EXPECT_EQ(Decode(c.bytes), c.value) << c.bytes;
  }
}

TEST(DeviceFloat, Encoding) {
  const struct {
    double value;
    const char* bytes;
  } cases[] = {
      {0.1, "CC CC 3D CC"},  // bit 0 cleared, not CC CD
      {-0.0, "00 00 00 00"},
      {1 + 0x1p-24, "00 00 3F 80"},  // a tie goes to even
      {1 + 3 * 0x1p-24, "00 02 3F 80"},
      // Just below a tie: the 40-bit step rounds onto the tie, which then
      // goes to even (up); rounding straight to binary32 would go down.
      {1 + 3 * 0x1p-23 + 0x1p-24 - 0x1p-50, "00 04 3F 80"},
      {0x1p126 * (2 - 0x1p-23), "FF FE 7E FF"},            // largest kept (bit 0 cleared)
      {0x1p126 * (2 - 0x1p-23) + 0x1p101, "FF FE 7E FF"},  // still rounds down to it
      {0x1p-128, "00 00 00 20"},                           // smallest kept, a binary32 subnormal
      {0x1p-129, "00 00 00 00"},                           // below the range: zero
      {-1e-45, "00 00 00 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatHex(c.value), c.bytes) << c.value;
}

TEST(DeviceFloat, EncodingOverflow) {
  // From the midway point between the largest device float and 2^127 up, the
  // binary32 would need the exponent field the decoder refuses.
  for (double value :
       {0x1p127, 0x1p127 * (1 - 0x1p-45), 0x1p127 * (1 - 0x1p-40), 0x1p126 * (2 - 0x1p-24),
        -0x1p126 * (2 - 0x1p-24), 1.70141183e38, -1e39, 1e300, double(INFINITY), double(NAN)}) {
    EXPECT_THROW(DoubleToDeviceFloat(value), EFloatOverflow) << value;
  }
  try {
    DoubleToDeviceFloat(2e38);
    FAIL();
  } catch (const EFloatOverflow& e) {
    EXPECT_STREQ(e.what(), "Floating point overflow");
  }
}

TEST(DeviceFloat, DecodingWithoutSpecialCases) {
  EXPECT_EQ(Decode("CC CC 3D CC"), double(std::bit_cast<float>(0x3DCCCCCCu)));
  EXPECT_EQ(Decode("00 01 00 00"), 0x1p-127 * (1 + 0x1p-23));  // exponent 0 is not subnormal
  EXPECT_EQ(Decode("00 00 80 00"), -0x1p-127);                 // binary32 -0.0
  EXPECT_EQ(Decode("00 00 7E 80"), 0x1p126);
  EXPECT_EQ(Decode("FF FE 7E FF"), 0x1p126 * (2 - 0x1p-22));  // largest below the limit
}

// Whatever the tool shows of a device float it can write back, or refuses
// before anything is sent; it never writes what it cannot read.
TEST(DeviceFloat, ShownTopOfTheRangeIsWrittenBackOrRefused) {
  const double largest = Decode("FF FE 7E FF");
  const QString shown = FixedText(largest, 2);
  EXPECT_EQ(shown, "1.701412E+38");
  EXPECT_THROW(DoubleToDeviceFloat(*StrictToFloat(shown)), EFloatOverflow);
  for (const char* text : {"1.701411E+38", "1.7014117E+38", "-1.7014117E38"}) {
    const DeviceFloatBytes b = DoubleToDeviceFloat(*StrictToFloat(text));
    EXPECT_NO_THROW(DeviceFloatToDouble(b[0], b[1], b[2], b[3])) << text;
  }
}

TEST(DeviceFloat, DecodingOverflow) {
  for (const char* bytes : {"FF FF FF FF", "00 00 7F 80", "00 00 7F 00", "00 00 FF 00"})
    EXPECT_THROW(Decode(bytes), EFloatOverflow) << bytes;
}

TEST(Stamp, MadeFromTheLocalClock) {
  const auto stamp = [](int y, int mo, int d, int h, int mi, int s) {
    return MakeStamp(QDateTime(QDate(y, mo, d), QTime(h, mi, s, 999)));
  };
  EXPECT_EQ(stamp(2024, 12, 8, 14, 5, 7), 0x598870A3u);  // A3 70 88 59, least significant first
  EXPECT_EQ(stamp(1980, 1, 1, 0, 0, 0), 0x00210000u);
  EXPECT_EQ(stamp(2107, 12, 31, 23, 59, 59), 0xFF9FBF7Du);
  EXPECT_EQ(stamp(1979, 12, 31, 23, 59, 59), 0u);
  EXPECT_EQ(stamp(2108, 1, 1, 0, 0, 0), 0u);
}

TEST(Stamp, TextWithoutRangeChecks) {
  const struct {
    const char* bytes;
    const char* text;
  } cases[] = {
      {"A3 70 88 59", "08/12/2024(14:05:06)"}, {"00 00 00 00", "00/00/1980(00:00:00)"},
      {"FF FF FF FF", "31/15/2107(31:63:62)"}, {"00 00 21 00", "01/01/1980(00:00:00)"},
      {"7D BF 9F FF", "31/12/2107(23:59:58)"},
  };
  for (const auto& c : cases) {
    const std::string b = Bytes(c.bytes);
    EXPECT_EQ(StampToText(b[0], b[1], b[2], b[3]), QString(c.text)) << c.bytes;
  }
}

TEST(NumberText, FixedForms) {
  const struct {
    double value;
    int decimals;
    const char* text;
  } cases[] = {
      {4.5, 2, "4.50"},
      {-12.3456, 2, "-12.35"},
      {0.25, 4, "0.2500"},
      {double(std::bit_cast<float>(0x3DCCCCCCu)), 4, "0.1000"},  // 0.1 as the device keeps it
      {20.0, 4, "20.0000"},
      {1234.56789, 4, "1234.5680"},  // 7 significant digits, then zeros
      {123456.789, 4, "123456.8000"},
      {999.99996, 4, "1000.0000"},
      {9999999.4, 2, "9999999.00"},
      {9999999.6, 2, "1.000000E+07"},  // rounds to 8 integer digits
      {12345678.9, 4, "1.234568E+07"},
      {-1.5e10, 2, "-1.500000E+10"},
      {3e100, 2, "3.000000E+100"},
      {0.0, 2, "0.00"},
      {1e-20, 4, "0.0000"},
      {-0.001, 2, "0.00"},  // no "-0.00"
      {-0.00004, 4, "0.0000"},
      {-0.006, 2, "-0.01"},
      {0.0049999999, 2, "0.00"},  // rounded once, not twice
  };
  for (const auto& c : cases) EXPECT_EQ(FixedText(c.value, c.decimals), QString(c.text)) << c.value;
}

TEST(NumberText, SerialNumber) {
  const struct {
    int32_t number;
    const char* text;
  } cases[] = {{12345, "012345"},   {123456, "0123456"}, {1234567, "1234567"}, {5, "05"},
               {101001, "0101001"}, {-1, "0-1"},         {-123456, "-123456"}};
  for (const auto& c : cases) EXPECT_EQ(SerialNumberText(c.number), QString(c.text));
}

TEST(NumberText, StrictFloat) {
  const struct {
    const char* text;
    double value;
  } good[] = {{"12.5", 12.5},  {"-40", -40}, {"+1.5", 1.5}, {"1E3", 1000}, {"1e-2", 0.01},
              {"2.5E+2", 250}, {".5", 0.5},  {"5.", 5},     {"0101", 101}};
  for (const auto& c : good) EXPECT_EQ(StrictToFloat(c.text), c.value) << c.text;
  for (const char* text : {"12,5", "", "1.2.3", " 1", "1 ", "E5", "1E", "-", ".", "abc", "1e2.5",
                           "0x10", "--1", "1.5E+-2", "inf", "nan", "1e", "\xd9\xa1"})
    EXPECT_FALSE(StrictToFloat(QString::fromUtf8(text))) << text;
  // Beyond the double range: infinity, which the encoder refuses as overflow,
  // or zero, as the digits before and after the point and the exponent say.
  const struct {
    const char* text;
    double value;
  } outOfRange[] = {{"1e999", INFINITY},     {"-1e999", -INFINITY},
                    {"0.001e312", INFINITY}, {"+1e99999999999999999999", INFINITY},
                    {"1e-999", 0.0},         {"-1e-999", -0.0},
                    {"1000e-330", 0.0},      {"1e-99999999999999999999", 0.0}};
  for (const auto& c : outOfRange) {
    const std::optional<double> value = StrictToFloat(c.text);
    ASSERT_TRUE(value) << c.text;
    EXPECT_EQ(*value, c.value) << c.text;
    EXPECT_EQ(std::signbit(*value), std::signbit(c.value)) << c.text;
  }
}

TEST(NumberText, StrictInteger) {
  const struct {
    const char* text;
    int32_t value;
  } good[] = {{"12345", 12345},
              {"-1", -1},
              {"+7", 7},
              {"0101001", 101001},
              {"2147483647", 2147483647},
              {"-2147483648", -2147483647 - 1}};
  for (const auto& c : good) EXPECT_EQ(StrictToInt(c.text), c.value) << c.text;
  for (const char* text :
       {"2147483648", "-2147483649", "", " 1", "1 ", "1.0", "12a", "+", "1e3", "0x1F", "+-1"})
    EXPECT_FALSE(StrictToInt(text)) << text;
}

TEST(NumberText, StrToIntReportsTheText) {
  EXPECT_EQ(StrToInt("247"), 247);
  for (const char* text : {"", "12a"}) {
    try {
      StrToInt(text);
      FAIL() << text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
    }
  }
}

TEST(ParamTable, RegistersKindsAndForms) {
  EXPECT_EQ(ParamRegister(1), 257);
  EXPECT_EQ(ParamRegister(16), 287);
  EXPECT_EQ(ParamRegister(-128), 65535);  // computed in 16 bits
  EXPECT_EQ(ParamByteOffset(16), 64);
  EXPECT_THROW(ParamByteOffset(25), std::out_of_range);
  for (int i = 0; i <= 17; ++i) EXPECT_EQ(IsFloatParam(i), i >= 1 && i <= 12) << i;
  const struct {
    int index;
    double deviceValue;
    const char* shown;
    const char* table;
  } cases[] = {
      {1, 1010, "1010.00", "1010.0000"}, {3, 16, "16.0000", "16.0000"},
      {5, 185, "85.00", "85.0000"},      {6, 60, "-40.00", "-40.0000"},
      {5, 104.5, "4.50", "4.5000"},      {12, 4, "4.0000", "4.0000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParamShownText(c.index, c.deviceValue), QString(c.shown)) << c.index;
    EXPECT_EQ(ParamTableText(c.index, c.deviceValue), QString(c.table)) << c.index;
  }
}

// The image of a set of valid texts, built on 8 December 2024 at 14:05:07.
class ParamImageTest : public ::testing::Test {
 protected:
  ImageTexts ValidTexts() const {
    ImageTexts texts;
    const char* floats[] = {"1",  "630", "0.1", "4",   "20", "0",
                            "16", "1.5", "-40", "100", "0",  "120"};
    for (int i = 1; i <= kFloatParamCount; ++i) texts.FloatFields[i] = floats[i - 1];
    texts.SerialNumber = "12345";
    texts.Address = "300";
    texts.Moment = QDateTime(QDate(2024, 12, 8), QTime(14, 5, 7));
    return texts;
  }
  std::string Image(int first, int count) const {
    return std::string(params.ParamImage.begin() + first,
                       params.ParamImage.begin() + first + count);
  }

  ParamData params;
  ExchangeState exchange;
};

TEST_F(ParamImageTest, LayoutAndChecksum) {
  ASSERT_TRUE(BuildParamImage(ValidTexts(), params, exchange));
  EXPECT_EQ(Hex(Image(0, 68)),
            "00 00 00 00 "
            "00 00 3F 80 80 00 44 1D CC CC 3D CC 00 00 40 80 "   // 1..4
            "00 00 42 F0 00 00 42 C8 00 00 41 80 00 00 3F C0 "   // 5, 6 plus 100; 7, 8
            "00 00 C2 20 00 00 42 C8 00 00 00 00 00 00 42 F0 "   // 9..12
            "39 30 00 00 A3 70 88 59 00 2C 00 00 FF 00 0C BE");  // serial, stamp, address 300, CRC
  EXPECT_EQ(Image(68, 33), std::string(33, '\0'));
  EXPECT_EQ(params.ParamText[5], "20");
  EXPECT_EQ(exchange.TxFrame[0], params.ParamImage[1]);  // the CRC was made in the frame buffer
  EXPECT_EQ(exchange.TxFrame[64], 0x00);
}

TEST_F(ParamImageTest, UnshownFloatsComeFromParamText) {
  ImageTexts texts = ValidTexts();
  for (int i : {3, 4, 7, 8, 11, 12}) texts.FloatFields.erase(i);
  for (int i : {3, 4, 7, 8, 11, 12}) params.ParamText[i] = "16.0000";
  ASSERT_TRUE(BuildParamImage(texts, params, exchange));
  EXPECT_EQ(Hex(Image(12, 4)), "00 00 41 80");
  EXPECT_EQ(Hex(Image(48, 4)), "00 00 41 80");
  EXPECT_EQ(Hex(Image(4, 4)), "00 00 3F 80");
}

TEST_F(ParamImageTest, ConversionFailuresAreRefused) {
  const std::function<void(ImageTexts&)> faults[] = {
      [](ImageTexts& t) { t.FloatFields[2] = "12,5"; },
      [](ImageTexts& t) { t.FloatFields[12] = "1.2.3"; },
      [](ImageTexts& t) { t.FloatFields.erase(3); },  // ParamText entry 3 never filled
      [](ImageTexts& t) { t.SerialNumber = "12.5"; },
      [](ImageTexts& t) { t.SerialNumber = "2147483648"; },
      [](ImageTexts& t) { t.SerialNumber = ""; },
      [](ImageTexts& t) { t.Address = "x"; },
  };
  for (const auto& fault : faults) {
    ParamData fresh;
    ImageTexts texts = ValidTexts();
    fault(texts);
    EXPECT_FALSE(BuildParamImage(texts, fresh, exchange));
    EXPECT_EQ(fresh.ParamText[1], "1");  // texts already copied stay
  }
}

TEST_F(ParamImageTest, TooLargeAFloatIsAnOverflow) {
  ImageTexts texts = ValidTexts();
  texts.FloatFields[7] = "1e39";
  EXPECT_THROW(BuildParamImage(texts, params, exchange), EFloatOverflow);
  texts.FloatFields[7] = "1e999";
  EXPECT_THROW(BuildParamImage(texts, params, exchange), EFloatOverflow);
}

TEST_F(ParamImageTest, ChecksumVerifyOfTheBytesReadBack) {
  ASSERT_TRUE(BuildParamImage(ValidTexts(), params, exchange));
  params.ParamRaw = params.ParamImage;
  EXPECT_TRUE(ChecksumVerify(params, exchange));

  std::swap(params.ParamRaw[66], params.ParamRaw[67]);
  params.ReadFailed = 1;  // a failed read is not judged
  EXPECT_TRUE(ChecksumVerify(params, exchange));

  params.ReadFailed = 0;
  EXPECT_FALSE(ChecksumVerify(params, exchange));
}

}  // namespace

// A binary value exactly halfway goes away from zero; one that only looks
// halfway in decimal rounds as its binary value lies.
TEST(NumberText, ExactTiesRoundAwayFromZero) {
  const struct {
    double value;
    int decimals;
    const char* text;
  } cases[] = {
      {0.125, 2, "0.13"},
      {-0.125, 2, "-0.13"},
      {0.375, 2, "0.38"},
      {2.5e-1 + 1.0, 2, "1.25"},                // no tie at all
      {std::nextafter(0.125, 0.0), 2, "0.12"},  // just below the tie
      {0.145, 2, "0.14"},                       // binary 0.14499999...
      {0.135, 2, "0.14"},                       // binary 0.13500000...01
      {0.03125, 4, "0.0313"},                   // the 4-decimal form of ParamText
      {-0.03125, 4, "-0.0313"},
      {-0.00005, 4, "-0.0001"},      // binary -0.0000500000000000000024
      {1234562.5, 2, "1234563.00"},  // the tie at the seventh digit
      {999.99995, 4, "1000.0000"},
      {12345625.0, 2, "1.234563E+07"},  // exponent form, same rule
      {-9999999.5, 2, "-1.000000E+07"},
  };
  for (const auto& c : cases) EXPECT_EQ(FixedText(c.value, c.decimals), QString(c.text)) << c.value;
}
