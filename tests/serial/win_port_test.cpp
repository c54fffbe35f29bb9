// The Win32 serial component on a real serial device. Under Wine that device
// is the simulator's pseudo-terminal behind $WINEPREFIX/dosdevices/comN;
// TL8_SIM_PORT names the COM port (scripts/windows.sh sets it up). The same
// tests run on a network line to the Linux simulator served over TCP, which
// TL8_SIM_TCP names (tcp://127.0.0.1:PORT). The tests that need no device run
// everywhere.

#include "modbus/exchange_state.h"
#include "modbus/params.h"
#include "modbus/requests.h"
#include "serial/comport.h"

#include <gtest/gtest.h>

// Without the printing API, whose SetPort macro would rename the component's setter.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string SimPort(const char* variable) {
  const char* port = std::getenv(variable);
  return port ? port : "";
}

// Wine stands in for Windows here, with a known gap.
bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

TEST(WinPortTest, MissingPortFailsToOpenWithTheSystemCode) {
  TComPort port;
  port.SetPort("COM199");
  try {
    port.OpenPort();
    FAIL() << "COM199 opened";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Code(), 1);
    EXPECT_EQ(error.WinCode(), ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(error.what(), "Unable to open com port (win error code: 2)");
  }
  EXPECT_FALSE(port.Connected());
}

TEST(WinPortTest, ClosedPortOperationsFailWithTheInvalidHandleCode) {
  TComPort port;
  try {
    port.PendingInputCount();
    FAIL() << "a closed port counted its input";
  } catch (const EComPort& error) {
    EXPECT_STREQ(error.what(), "ClearCommError function failed (win error code: 6)");
  }
}

// The settings in the per-user registry: texts as REG_SZ, integers as REG_DWORD.
class WinSettingsTest : public ::testing::Test {
 protected:
  static constexpr const char* kKey = "Software\\tl8-test\\Comport Settings\\ComPort";
  void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\tl8-test"); }

  // The value's registry type and its bytes.
  static std::pair<DWORD, std::string> Value(const char* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return {REG_NONE, ""};
    char data[256] = {};
    DWORD size = sizeof data - 1;
    DWORD type = REG_NONE;
    const LONG result =
        ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS) return {REG_NONE, ""};
    return {type, std::string(data, type == REG_SZ ? std::strlen(data) : size)};
  }

  static DWORD ValueCount() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD count = 0;
    ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                       nullptr, nullptr, nullptr);
    ::RegCloseKey(key);
    return count;
  }
};

TEST_F(WinSettingsTest, AllGroupsLandAsTypedValuesUnderTheKeyPath) {
  TComPort port;
  port.SetStoredGroups({sgLine, sgFlow, sgBuffer, sgTimeouts, sgParity, sgOther});
  port.SaveSettings("HKEY_CURRENT_USER\\Software\\tl8-test\\Comport Settings");
  EXPECT_EQ(ValueCount(), 28u);
  EXPECT_EQ(Value("Port"), std::make_pair(DWORD{REG_SZ}, std::string("COM1")));
  EXPECT_EQ(Value("FlowControl.XonChar"), std::make_pair(DWORD{REG_SZ}, std::string("#17")));
  const DWORD inputSize = 1024;
  EXPECT_EQ(
      Value("Buffer.InputSize"),
      std::make_pair(DWORD{REG_DWORD}, std::string(reinterpret_cast<const char*>(&inputSize), 4)));
}

TEST_F(WinSettingsTest, KeyPathWithoutBackslashFailsToStore) {
  TComPort port;
  try {
    port.SaveSettings("Software");
    FAIL() << "stored without a key";
  } catch (const EComPort& error) {
    EXPECT_STREQ(error.what(), "Failed to store settings");
  }
}

// The component on the simulator's line: the port the variable names.
class WinSimPortTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (SimPort(GetParam()).empty()) GTEST_SKIP() << GetParam() << " names no simulator port";
    OpenAdapterLine(port, SimPort(GetParam()));
  }

  TComPort port;
};

INSTANTIATE_TEST_SUITE_P(Lines, WinSimPortTest, ::testing::Values("TL8_SIM_PORT", "TL8_SIM_TCP"));

TEST_P(WinSimPortTest, ProbeAndParameterReadGetTheAdaptersAnswers) {
  ExchangeState exchange;
  ParamData params;
  ModbusRequests requests(port, exchange, params);
  exchange.DeviceAddress = 1;
  requests.ReadParameter(1);
  ASSERT_GE(exchange.ResponseText.size(), 3u) << "no answer to the probe";
  EXPECT_TRUE(exchange.ResponseCrcMatches());
  EXPECT_EQ(exchange.ResponseText[0], '\x01');
  exchange.ParamIndex = 1;
  requests.ReadParameter(0);
  EXPECT_EQ(exchange.ResponseStatus, kStatusAccepted);
}

// The address search's read: collected by waiting for received characters
// until the line falls silent, with a stop event as the tool has.
TEST_P(WinSimPortTest, SearchReadCollectsTheAnswerByWaitingForIt) {
  ExchangeState exchange;
  ParamData params;
  ModbusRequests requests(port, exchange, params);
  TComStopEvent stop;
  requests.SetStopEvent(&stop);
  requests.SearchRead(1);
  ASSERT_GE(exchange.ResponseText.size(), 3u) << "no answer collected";
  EXPECT_TRUE(exchange.ResponseCrcMatches());
}

TEST_P(WinSimPortTest, SecondOpenerIsRefused) {
  if (UnderWine()) GTEST_SKIP() << "Wine does not refuse a second opener of a serial device";
  if (GetParam() != std::string("TL8_SIM_PORT"))
    GTEST_SKIP() << "a device server takes the connection and then turns it away";
  TComPort second;
  second.SetPort(SimPort(GetParam()));
  EXPECT_THROW(second.OpenPort(), EComPort);
  EXPECT_FALSE(second.Connected());
}

TEST_P(WinSimPortTest, WaitEndsOnTimeoutOrStopWithNoEvents) {
  TComEvents events{evRxChar};
  port.WaitForEvent(events, nullptr, 100);
  EXPECT_TRUE(events.empty());

  TComStopEvent stop;
  stop.Signal();
  events = {evRxChar};
  port.WaitForEvent(events, &stop, 600'000);  // only the stop can end this in time
  EXPECT_TRUE(events.empty());
}

TEST_P(WinSimPortTest, StopFromAnotherThreadEndsAPendingWait) {
  TComStopEvent stop;
  std::jthread stopper([&] {
    ::Sleep(200);
    stop.Signal();
  });
  TComEvents events{evRxChar};
  port.WaitForEvent(events, &stop, 600'000);
  EXPECT_TRUE(events.empty());
}

TEST_P(WinSimPortTest, ArrivingAnswerEndsTheWaitAsAReceivedCharacter) {
  // The probe: function 3 of the seven registers from 0 at address 1.
  ExchangeState exchange;
  const int body[] = {1, 3, 0, 0, 0, 7};
  for (int i = 0; i < 6; ++i) exchange.TxFrame[i] = body[i];
  exchange.AppendCrc(6);
  std::string frame;
  for (int i = 0; i < exchange.FrameLength; ++i) frame += static_cast<char>(exchange.TxFrame[i]);
  ASSERT_EQ(port.WriteBytes(frame.data(), static_cast<int>(frame.size())), 8);
  TComEvents events{evRxChar};
  port.WaitForEvent(events, nullptr, 5000);
  EXPECT_TRUE(events.contains(evRxChar));
  std::string answer;
  for (int round = 0; round < 50 && answer.size() < 19; ++round) {
    answer += port.ReadBytes(port.PendingInputCount());
    ::Sleep(20);
  }
  EXPECT_EQ(answer.size(), 19u);  // address, function, count 14, seven registers, CRC
}

}  // namespace
