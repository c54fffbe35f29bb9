// The system's port list and port-name mapping, against a fake sysfs and /dev.

#include "serial/comport.h"
#include "serial/comport_unix.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root);
    fs::create_directories(dev);
  }
  void TearDown() override { fs::remove_all(root); }

  // A tty class entry; with a driver it is bound to a device.
  void AddTty(const std::string& name, const std::string& driver = "") {
    fs::create_directories(tty / name / "device");
    if (!driver.empty())
      fs::create_directory_symlink("../../../bus/drivers/" + driver, tty / name / "device" / "driver");
    std::ofstream(dev / name) << "";
  }

  const fs::path root = fs::temp_directory_path() / ("tl8-ports-" + std::to_string(getpid()));
  const fs::path tty = root / "sys" / "class" / "tty";
  const fs::path dev = root / "dev";
};

TEST_F(FakeSystem, PortsAreDevicesWithADriverPlusComLinksSortedIgnoringCase) {
  AddTty("ttyUSB0", "ftdi_sio");
  AddTty("ttyACM0", "cdc_acm");
  AddTty("ttymxc0", "imx-uart");
  AddTty("ttyS0", "serial8250");  // an empty UART slot: no real chip reports a type
  AddTty("ttyAMA0");              // device without a driver
  fs::create_directories(tty / "tty1");  // a virtual terminal
  fs::create_symlink("ttyUSB0", dev / "COM2");
  fs::create_symlink("ttyACM0", dev / "COM10");

  std::vector<std::string> ports{"stale"};
  ASSERT_EQ(comdev::ListPortsIn(tty, dev, ports), 0);
  EXPECT_EQ(ports, (std::vector<std::string>{"COM10", "COM2", "ttyACM0", "ttymxc0", "ttyUSB0"}));
}

TEST_F(FakeSystem, ListingFailsWithTheSystemCode) {
  std::vector<std::string> ports;
  EXPECT_EQ(comdev::ListPortsIn(tty / "missing", dev, ports), ENOENT);
  fs::create_directories(tty);
  EXPECT_EQ(comdev::ListPortsIn(tty, dev / "missing", ports), ENOENT);
}

TEST_F(FakeSystem, PortNamesMapToDevices) {
  std::ofstream(dev / "COM3") << "";
  const std::string d = dev.string();
  const std::pair<std::string, std::string> rows[] = {
      {"COM1", d + "/ttyS0"},       {"com2", d + "/ttyS1"},   {"COM12", d + "/ttyS11"},
      {"COM3", d + "/COM3"},        {"COM0", d + "/COM0"},    {"COMX", d + "/COMX"},
      {"ttyUSB0", d + "/ttyUSB0"},  {"/dev/pts/7", "/dev/pts/7"},
      {"serial/by-id/usb-x", d + "/serial/by-id/usb-x"},
  };
  for (const auto& [port, device] : rows) EXPECT_EQ(comdev::DevicePath(port, d), device) << port;
}

// This machine's own list: every name must be one a user can type to open it.
TEST(SystemPorts, NamesAreDevicesUnderDev) {
  const std::vector<std::string> ports = EnumComPorts();
  for (const std::string& port : ports) EXPECT_TRUE(fs::exists("/dev/" + port)) << port;
}

}  // namespace
