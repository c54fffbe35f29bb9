// The Windows port list: what SetupAPI's friendly name and hardware id make
// of a port's description, and a port under Wine whose device is the
// simulator's pseudo-terminal (TL8_SIM_PORT, which scripts/windows.sh maps to
// a COM port), with nothing behind it in SetupAPI.

#include "serial/comport.h"
#include "serial/ports_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

TEST(WinPortsList, ADescriptionIsTheFriendlyNameAndTheUsbIdsOrTheHardwareId) {
  const struct {
    const char* friendlyName;
    const char* hardwareId;
    const char* description;
  } cases[] = {
      {"USB-SERIAL CH340 (COM5)", "USB\\VID_1A86&PID_7523&REV_0254",
       "USB-SERIAL CH340 (COM5), USB 1a86:7523"},
      {"USB Serial Port (COM3)", "FTDIBUS\\COMPORT&VID_0403&PID_6001",
       "USB Serial Port (COM3), USB 0403:6001"},
      {"Communications Port (COM1)", "ACPI\\PNP0501", "Communications Port (COM1), ACPI\\PNP0501"},
      {"", "USB\\VID_1A86&PID_7523", "USB 1a86:7523"},
      {"Последовательный порт (COM2)", "", "Последовательный порт (COM2)"},
      {"", "USB\\VID_1A8&PID_75", "USB\\VID_1A8&PID_75"},  // no four hex digits: as it stands
      {"", "", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(comdev::PortDescriptionOf(c.friendlyName, c.hardwareId), c.description)
        << c.friendlyName << " " << c.hardwareId;
}

// The simulator's port, in the system's list, has no device in SetupAPI:
// it is described by nothing, and nobody holds it; nor a port that is not
// there at all. (Only these ports are opened: the others Wine lists may be
// the host's own serial ports.)
TEST(WinPortsList, APortWithoutADeviceIsDescribedByNothing) {
  const char* simPort = std::getenv("TL8_SIM_PORT");
  if (!simPort) GTEST_SKIP() << "no simulator port (TL8_SIM_PORT)";
  const std::vector<std::string> listed = EnumComPorts();
  EXPECT_NE(std::find(listed.begin(), listed.end(), simPort), listed.end()) << simPort;
  const std::vector<ComPortInfo> expected{{simPort, "", false}, {"COM199", "", false}};
  EXPECT_EQ(comdev::DescribePorts({simPort, "COM199"}), expected);
}

}  // namespace
