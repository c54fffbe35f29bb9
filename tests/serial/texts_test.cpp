// Setting texts, their conversions back to values, and the error messages.

#include "serial/comport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// One row per type: the texts in value order, the text of every value, what
// each text (in three letter cases) and an unknown or empty text converts to.
struct TextCase {
  const char* type;
  std::vector<std::string> expected;
  const std::vector<std::string>& (*texts)();
  std::function<std::string(int)> toText;
  std::function<int(const std::string&)> fromText;
  int fallback;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST(SerialTexts, EveryTypeConvertsBothWaysIgnoringCaseWithItsFallback) {
  const TextCase cases[] = {
      {"TBaudRate",
       {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
        "56000", "57600", "115200", "128000", "256000"},
       BaudRateTexts,
       [](int v) { return BaudRateToStr(TBaudRate(v)); },
       [](const std::string& t) { return int(StrToBaudRate(t)); },
       br9600},
      {"TDataBits",
       {"5", "6", "7", "8"},
       DataBitsTexts,
       [](int v) { return DataBitsToStr(TDataBits(v)); },
       [](const std::string& t) { return int(StrToDataBits(t)); },
       dbEight},
      {"TStopBits",
       {"1", "1.5", "2"},
       StopBitsTexts,
       [](int v) { return StopBitsToStr(TStopBits(v)); },
       [](const std::string& t) { return int(StrToStopBits(t)); },
       sbOneStopBit},
      {"TParityBits",
       {"None", "Odd", "Even", "Mark", "Space"},
       ParityTexts,
       [](int v) { return ParityToStr(TParityBits(v)); },
       [](const std::string& t) { return int(StrToParity(t)); },
       prNone},
      {"TFlowControl",
       {"Hardware", "Software", "None", "Custom"},
       FlowControlTexts,
       [](int v) { return FlowControlToStr(TFlowControl(v)); },
       [](const std::string& t) { return int(StrToFlowControl(t)); },
       fcCustom},
      {"TDTRFlowControl",
       {"Disable", "Enable", "Handshake"},
       DTRTexts,
       [](int v) { return DTRToStr(TDTRFlowControl(v)); },
       [](const std::string& t) { return int(StrToDTR(t)); },
       dtrDisable},
      {"TRTSFlowControl",
       {"Disable", "Enable", "Handshake", "Toggle"},
       RTSTexts,
       [](int v) { return RTSToStr(TRTSFlowControl(v)); },
       [](const std::string& t) { return int(StrToRTS(t)); },
       rtsDisable},
      {"Boolean",
       {"Yes", "No"},
       BoolTexts,
       [](int v) { return BoolToStr(v == 0); },
       [](const std::string& t) { return StrToBool(t) ? 0 : 1; },
       1},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(c.texts(), c.expected);
    for (int value = 0; value < int(c.expected.size()); ++value) {
      const std::string& text = c.expected[value];
      EXPECT_EQ(c.toText(value), text);
      EXPECT_EQ(c.fromText(text), value) << text;
      EXPECT_EQ(c.fromText(Lower(text)), value) << text;
      EXPECT_EQ(c.fromText(Upper(text)), value) << text;
    }
    EXPECT_EQ(c.fromText(""), c.fallback);
    EXPECT_EQ(c.fromText("9601"), c.fallback);
    EXPECT_EQ(c.fromText(" None"), c.fallback);
  }
}

TEST(SerialTexts, ByteCharactersAndRates) {
  const std::pair<std::uint8_t, std::string> chars[] = {
      {0, "#0"}, {17, "#17"},   {19, "#19"},   {32, "#32"},   {33, "!"}, {65, "A"},
      {97, "a"}, {127, "\x7f"}, {128, "#128"}, {255, "#255"}, {35, "#"}};
  for (const auto& [byte, text] : chars) {
    EXPECT_EQ(CharToStr(byte), text) << int(byte);
    EXPECT_EQ(StrToChar(text), byte) << text;
  }
  for (const std::string bad : {"", "#", "#256", "#1x", "AB", "#-1"}) {
    EXPECT_EQ(StrToChar(bad), bad == "#" ? '#' : 0) << bad;
  }
  EXPECT_EQ(BaudRateBits(brCustom), 0);
  for (int rate = br110; rate <= br256000; ++rate) {
    EXPECT_EQ(std::to_string(BaudRateBits(TBaudRate(rate))), BaudRateToStr(TBaudRate(rate)));
  }
}

TEST(SerialTexts, ErrorMessagesCarryTheSystemCodeWhenKnown) {
  const std::tuple<int, int, std::string> rows[] = {
      {ceOpenFailed, 2, "Unable to open com port (win error code: 2)"},
      {ceWriteFailed, 9, "WriteFile function failed (win error code: 9)"},
      {ceReadFailed, 5, "ReadFile function failed (win error code: 5)"},
      {cePurgeFailed, 0, "PurgeComm function failed (win error code: 0)"},
      {ceSetStateFailed, 22, "SetCommState function failed (win error code: 22)"},
      {ceSetTimeoutsFailed, 5, "SetCommTimeouts failed (win error code: 5)"},
      {ceSetupFailed, 5, "SetupComm function failed (win error code: 5)"},
      {ceClearErrorFailed, 5, "ClearCommError function failed (win error code: 5)"},
      {ceStoreFailed, -1, "Failed to store settings"},
      {ceWaitFailed, 5, "WaitForEvent method failed (win error code: 5)"},
      {ceRegistryError, 2, "Registry error (win error code: 2)"},
  };
  for (const auto& [code, winCode, text] : rows) {
    const EComPort error(code, winCode);
    EXPECT_EQ(error.what(), text);
    EXPECT_EQ(error.Code(), code);
    EXPECT_EQ(error.WinCode(), winCode);
  }
  EXPECT_STREQ(EComPort(ceStoreFailed).what(), "Failed to store settings");
}

// Only ControlRTS, OutCTSFlow and the XON/XOFF flags decide the derived value.
TEST(SerialTexts, DerivedFlowControl) {
  TComPort port;
  TComFlowControl& flow = port.FlowControl();
  EXPECT_EQ(flow.FlowControl(), fcNone);  // the component's own defaults
  flow.SetControlRTS(rtsEnable);
  EXPECT_EQ(flow.FlowControl(), fcCustom);  // the tool's line

  const TFlowControl all[] = {fcHardware, fcSoftware, fcNone};
  for (TFlowControl value : all) {
    flow.SetXonXoffIn(true);
    flow.SetControlRTS(rtsToggle);
    flow.SetControlDTR(dtrHandshake);
    flow.SetOutDSRFlow(true);
    flow.SetFlowControl(value);
    EXPECT_EQ(flow.FlowControl(), value);
    EXPECT_EQ(flow.ControlDTR(), dtrHandshake);  // untouched
    EXPECT_TRUE(flow.OutDSRFlow());
  }
  flow.SetFlowControl(fcHardware);
  flow.SetFlowControl(fcCustom);  // changes no field
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());
  flow.SetXonXoffOut(true);  // hardware plus XON/XOFF is neither
  EXPECT_EQ(flow.FlowControl(), fcCustom);
  flow.SetFlowControl(fcSoftware);
  EXPECT_TRUE(flow.XonXoffIn() && flow.XonXoffOut());
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.OutCTSFlow());
  flow.SetXonXoffIn(false);  // only one direction
  EXPECT_EQ(flow.FlowControl(), fcCustom);
}

}  // namespace
