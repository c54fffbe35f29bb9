// The system's port list and port-name mapping, against a fake sysfs and /dev.

#include "serial/comport.h"
#include "serial/platform_unix.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root);
    fs::create_directories(dev);
  }
  void TearDown() override { fs::remove_all(root); }

  // A tty class entry; with a driver it is bound to a device, with a type the
  // serial core tells what chip is behind it. Its device node is a plain
  // file, so asking the driver about it finds no UART.
  void AddTty(const std::string& name, const std::string& driver = "",
              const std::string& type = "") {
    fs::create_directories(tty / name / "device");
    if (!driver.empty())
      fs::create_directory_symlink("../../../bus/drivers/" + driver,
                                   tty / name / "device" / "driver");
    if (!type.empty()) std::ofstream(tty / name / "type") << type << "\n";
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
  AddTty("ttyS0", "serial8250", "4");    // a 16550A
  AddTty("ttyS1", "serial8250", "0");    // an empty UART slot
  AddTty("ttyS2", "serial8250");         // sysfs does not tell: the driver, asked, finds no chip
  AddTty("ttyAMA0");                     // device without a driver
  fs::create_directories(tty / "tty1");  // a virtual terminal
  fs::create_symlink("ttyUSB0", dev / "COM2");
  fs::create_symlink("ttyACM0", dev / "COM10");

  std::vector<std::string> ports{"stale"};
  ASSERT_EQ(comdev::ListPortsIn(tty, dev, ports), 0);
  EXPECT_EQ(ports,
            (std::vector<std::string>{"COM10", "COM2", "ttyACM0", "ttymxc0", "ttyS0", "ttyUSB0"}));
}

// Opening a UART toggles its modem lines: only a port that sysfs says
// nothing about is ever opened to ask its driver.
TEST_F(FakeSystem, OnlyPortsSysfsSaysNothingAboutAreOpened) {
  AddTty("ttyS0", "serial8250", "4");
  AddTty("ttyS1", "serial8250", "0");
  AddTty("ttyS2", "serial8250");
  AddTty("ttyUSB0", "ftdi_sio");
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dev.c_str(), IN_OPEN), 0);

  std::vector<std::string> ports;
  ASSERT_EQ(comdev::ListPortsIn(tty, dev, ports), 0);
  EXPECT_EQ(ports, (std::vector<std::string>{"ttyS0", "ttyUSB0"}));

  std::set<std::string> opened;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->len > 0) opened.insert(event->name);  // empty: the directory itself
      at += sizeof(inotify_event) + event->len;
    }
  }
  close(watch);
  EXPECT_EQ(opened, std::set<std::string>{"ttyS2"});
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
      {"COM1", d + "/ttyS0"},
      {"com2", d + "/ttyS1"},
      {"COM12", d + "/ttyS11"},
      {"COM3", d + "/COM3"},
      {"COM0", d + "/COM0"},
      {"COMX", d + "/COMX"},
      {"ttyUSB0", d + "/ttyUSB0"},
      {"/dev/pts/7", "/dev/pts/7"},
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
