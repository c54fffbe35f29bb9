// The system's port list and port-name mapping, against a fake sysfs, /dev
// and /proc; who holds a port also against this machine's own.

#include "serial/comport.h"
#include "serial/ports_unix.h"
#include "tests/support/pty_pair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
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

  // A USB device on the fake bus, with its sysfs attributes (idVendor, ...).
  fs::path AddUsbDevice(const std::string& bus,
                        const std::map<std::string, std::string>& attributes) {
    const fs::path device = root / "sys" / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1" / bus;
    fs::create_directories(device);
    for (const auto& [name, value] : attributes) std::ofstream(device / name) << value << "\n";
    return device;
  }

  // A tty of the USB device's first interface, as the kernel lays it out: a
  // USB serial converter's (ttyUSB) below a port device of its own, a modem's
  // (ttyACM) right below the interface. The tty class entry is a link to it.
  void AddUsbTty(const fs::path& usbDevice, const std::string& name, const std::string& driver) {
    const fs::path interface = usbDevice / (usbDevice.filename().string() + ":1.0");
    const fs::path device = name.starts_with("ttyUSB") ? interface / name : interface;
    const fs::path entry = device / "tty" / name;
    fs::create_directories(entry);
    fs::create_directory_symlink("../..", entry / "device");
    fs::create_directory_symlink("../../../bus/drivers/" + driver, device / "driver");
    fs::create_directories(tty);
    fs::create_directory_symlink(entry, tty / name);
    std::ofstream(dev / name) << "";
  }

  // A udev stable name under dev/serial/by-id.
  void AddStableName(const std::string& name, const std::string& device) {
    fs::create_directories(dev / "serial" / "by-id");
    fs::create_symlink("../../" + device, dev / "serial" / "by-id" / name);
  }

  std::vector<ComPortInfo> Described() const {
    std::vector<ComPortInfo> ports;
    EXPECT_EQ(comdev::DescribePortsIn(roots, ports), 0);
    return ports;
  }

  // Whether the list says another program holds `name`.
  bool Busy(const std::string& name) const {
    for (const ComPortInfo& port : Described())
      if (port.name == name) return port.busy;
    ADD_FAILURE() << name << " not listed";
    return false;
  }

  const fs::path root = fs::temp_directory_path() / ("tl8-ports-" + std::to_string(getpid()));
  const fs::path tty = root / "sys" / "class" / "tty";
  const fs::path dev = root / "dev";
  const fs::path proc = root / "proc";
  const fs::path locks = root / "lock";
  comdev::SystemRoots roots{tty, dev, proc, locks};
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

// The kernel's console list as sysfs gives it.
void WriteConsoles(const fs::path& tty, const std::string& active) {
  fs::create_directories(tty / "console");
  std::ofstream(tty / "console" / "active") << active << "\n";
}

// "COMn" without a COMn falls back to ttyS(n-1), but never to the kernel's
// console: that name stays itself and opens as a missing port does. Named
// as it is, the console opens like any port.
TEST_F(FakeSystem, PortNamesMapToDevicesAndTheComFallbackNeverToTheConsole) {
  std::ofstream(dev / "COM3") << "";
  fs::create_symlink("ttyS1", dev / "COM4");
  const std::string d = dev.string();
  const struct {
    const char* consoles;  // what the kernel's list holds; nullptr: there is none
    std::string port;
    std::string device;
  } rows[] = {
      {nullptr, "COM1", d + "/ttyS0"},
      {nullptr, "com2", d + "/ttyS1"},
      {nullptr, "COM12", d + "/ttyS11"},
      {nullptr, "COM3", d + "/COM3"},
      {nullptr, "COM0", d + "/COM0"},
      {nullptr, "COMX", d + "/COMX"},
      {nullptr, "ttyUSB0", d + "/ttyUSB0"},
      {nullptr, "/dev/pts/7", "/dev/pts/7"},
      {nullptr, "serial/by-id/usb-x", d + "/serial/by-id/usb-x"},
      {"tty0 ttyS0", "COM1", d + "/COM1"},
      {"tty0 ttyS0", "COM2", d + "/ttyS1"},
      {"tty0", "COM1", d + "/ttyS0"},  // a virtual terminal is no serial port
      {"ttyS0 ttyS1", "com2", d + "/com2"},
      {"ttyS1", "COM4", d + "/COM4"},  // a link made by hand leads where it leads
      {"ttyS0", "ttyS0", d + "/ttyS0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.consoles ? row.consoles : "no console list");
    fs::remove_all(tty);
    if (row.consoles) WriteConsoles(tty, row.consoles);
    EXPECT_EQ(comdev::DevicePath(row.port, roots), row.device) << row.port;
  }
}

// The device node of the fake ttyS0 is a plain file, which opens (and then
// refuses the terminal's exclusive mode): the fallback to it is taken exactly
// when the console is elsewhere.
TEST_F(FakeSystem, TheComFallbackToTheConsoleFailsAsAMissingPort) {
  AddTty("ttyS0", "serial8250", "4");
  for (const auto& [consoles, error] :
       {std::pair<std::string, int>{"tty0", ENOTTY}, {"tty0 ttyS0", ENOENT}}) {
    SCOPED_TRACE(consoles);
    WriteConsoles(tty, consoles);
    comdev::DevicePtr device;
    EXPECT_EQ(comdev::OpenLockedDevice(comdev::DevicePath("COM1", roots), "", device), error);
    EXPECT_EQ(comdev::OpenLockedDevice(comdev::DevicePath("COM7", roots), "", device), ENOENT);
  }
}

// The list marks each port the kernel writes its console to, under any name
// that leads there, and by its sysfs name where /dev lacks its node; a list of the consoles that
// names no port, or none at all, marks nothing.
TEST_F(FakeSystem, ThePortsThatAreAnActiveConsoleAreMarked) {
  AddTty("ttyS0", "serial8250", "4");
  AddTty("ttyS1", "serial8250", "4");
  AddTty("ttyUSB0", "ftdi_sio");
  fs::create_directories(tty / "tty0");  // the virtual terminal the console also writes to
  fs::create_symlink("ttyS0", dev / "COM7");
  AddTty("ttyS2", "serial8250", "4");
  fs::remove(dev / "ttyS2");  // sysfs knows it, /dev does not
  const auto consoleMarks = [&] {
    std::map<std::string, bool> marks;
    for (const ComPortInfo& port : Described()) marks[port.name] = port.console;
    return marks;
  };
  const std::map<std::string, bool> none{
      {"COM7", false}, {"ttyS0", false}, {"ttyS1", false}, {"ttyS2", false}, {"ttyUSB0", false}};
  EXPECT_EQ(consoleMarks(), none);
  WriteConsoles(tty, "tty0 ttyS0 ttyS2");
  EXPECT_EQ(
      consoleMarks(),
      (std::map<std::string, bool>{
          {"COM7", true}, {"ttyS0", true}, {"ttyS1", false}, {"ttyS2", true}, {"ttyUSB0", false}}));
  WriteConsoles(tty, "tty0");
  EXPECT_EQ(consoleMarks(), none);
}

// What the list tells of each kind of port: a USB converter by its maker,
// product, serial number and ids, with udev's stable name; a COMn link by the
// device it leads to and that device's own description; an on-board UART by
// its type and I/O port; a port sysfs says nothing of, and a link leading
// nowhere, by nothing. Names and order are the bare list's.
TEST_F(FakeSystem, EachPortIsDescribedByWhatSysfsAndUdevSay) {
  AddUsbTty(AddUsbDevice("1-2", {{"idVendor", "0403"},
                                 {"idProduct", "6001"},
                                 {"manufacturer", "FTDI"},
                                 {"product", "FT232R USB UART"},
                                 {"serial", "A10K3B2C"}}),
            "ttyUSB0", "ftdi_sio");
  AddUsbTty(
      AddUsbDevice("1-3", {{"idVendor", "1a86"}, {"idProduct", "7523"}, {"product", "USB Serial"}}),
      "ttyUSB1", "ch341-uart");
  AddUsbTty(AddUsbDevice("1-4", {{"idVendor", "0483"},
                                 {"idProduct", "5740"},
                                 {"manufacturer", "STMicroelectronics"},
                                 {"product", "STMicroelectronics Virtual COM Port"},
                                 {"serial", "6D8F3A5B5056"}}),
            "ttyACM0", "cdc_acm");
  AddTty("ttyS0", "serial8250", "4");
  std::ofstream(tty / "ttyS0" / "port") << "0x3F8\n";
  AddTty("ttyS1", "serial8250", "0");  // an empty UART slot
  AddTty("ttyAMA0", "uart-pl011");     // sysfs tells nothing of the chip
  const std::string byId = "usb-FTDI_FT232R_USB_UART_A10K3B2C-if00-port0";
  AddStableName(byId, "ttyUSB0");
  fs::create_symlink("ttyUSB0", dev / "COM2");
  fs::create_symlink("ttyUSB9", dev / "COM9");  // the converter is gone

  const std::string ftdi = "FTDI FT232R USB UART, s/n A10K3B2C, USB 0403:6001, " +
                           (dev / "serial" / "by-id" / byId).string();
  // Each with the device its name leads to: a link and its target share it.
  const auto device = [&](const std::string& name) { return (dev / name).string(); };
  const std::vector<ComPortInfo> expected{
      {"COM2", "→ " + device("ttyUSB0") + ", " + ftdi, false, false, device("ttyUSB0")},
      {"COM9", ""},
      {"ttyACM0", "STMicroelectronics Virtual COM Port, s/n 6D8F3A5B5056, USB 0483:5740", false,
       false, device("ttyACM0")},
      {"ttyAMA0", "", false, false, device("ttyAMA0")},
      {"ttyS0", "UART 16550A at 0x3F8", false, false, device("ttyS0")},
      {"ttyUSB0", ftdi, false, false, device("ttyUSB0")},
      {"ttyUSB1", "USB Serial, USB 1a86:7523", false, false, device("ttyUSB1")},
  };
  EXPECT_EQ(Described(), expected);
  std::vector<std::string> names;
  ASSERT_EQ(comdev::ListPortsIn(tty, dev, names), 0);
  std::vector<std::string> described;
  for (const ComPortInfo& port : expected) described.push_back(port.name);
  EXPECT_EQ(names, described);
}

TEST_F(FakeSystem, DescribingFailsWithTheListsSystemCode) {
  std::vector<ComPortInfo> ports;
  EXPECT_EQ(comdev::DescribePortsIn(roots, ports), ENOENT);
}

// Who holds a port, each way told apart: a lock file as an opener judges it
// (a stale one is left where it is), a lock of /proc/locks on the device (a
// process waiting for one holds none), a process with the device open (the
// one holding a pseudo-terminal's master is the line's other end).
TEST_F(FakeSystem, BusyIsALiveLockFileALockOnTheDeviceOrAnotherProcessWithItOpen) {
  AddTty("ttyUSB0", "ftdi_sio");
  const PtyPair line;
  fs::create_symlink(line.SlavePath(), dev / "COM5");
  const std::string ptyNumber = fs::path(line.SlavePath()).filename();
  struct stat device {};
  ASSERT_EQ(stat((dev / "ttyUSB0").c_str(), &device), 0);
  char fileId[64];
  std::snprintf(fileId, sizeof fileId, "%02x:%02x:%llu", major(device.st_dev), minor(device.st_dev),
                static_cast<unsigned long long>(device.st_ino));
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);

  const auto lockFile = [&](const std::string& name, pid_t pid) {
    std::ofstream(locks / ("LCK.." + name)) << "      " << pid << " minicom root\n";
  };
  const auto procLocks = [&](const std::string& line) { std::ofstream(proc / "locks") << line; };
  const auto openFile = [&](const std::string& pid, const std::string& fd,
                            const std::string& target) {
    fs::create_directories(proc / pid / "fd");
    fs::create_symlink(target, proc / pid / "fd" / fd);
  };
  const auto ptyMaster = [&](const std::string& pid, const std::string& fd) {
    openFile(pid, fd, "/dev/ptmx");
    fs::create_directories(proc / pid / "fdinfo");
    std::ofstream(proc / pid / "fdinfo" / fd)
        << "pos:\t0\nflags:\t02\ntty-index:\t" << ptyNumber << "\n";
  };
  const std::string usb = (dev / "ttyUSB0").string();
  const struct {
    const char* what;
    std::function<void()> make;
    const char* port;
    bool busy;
  } cases[] = {
      {"nothing", [] {}, "ttyUSB0", false},
      {"a live lock file", [&] { lockFile("ttyUSB0", getpid()); }, "ttyUSB0", true},
      {"a stale lock file", [&] { lockFile("ttyUSB0", gone); }, "ttyUSB0", false},
      {"a flock",
       [&] { procLocks(std::string("1: FLOCK  ADVISORY  WRITE 4321 ") + fileId + " 0 EOF\n"); },
       "ttyUSB0", true},
      {"a POSIX lock",
       [&] { procLocks(std::string("7: POSIX  ADVISORY  WRITE 4321 ") + fileId + " 0 EOF\n"); },
       "ttyUSB0", true},
      {"a lock on another file",
       [&] { procLocks("1: FLOCK  ADVISORY  WRITE 4321 00:05:1 0 EOF\n"); }, "ttyUSB0", false},
      {"only a waiter",
       [&] { procLocks(std::string("1: -> FLOCK  ADVISORY  WRITE 4321 ") + fileId + " 0 EOF\n"); },
       "ttyUSB0", false},
      {"an open file", [&] { openFile("4321", "5", usb); }, "ttyUSB0", true},
      {"an open file of no process", [&] { openFile("self", "5", usb); }, "ttyUSB0", false},
      {"the pty's other end",
       [&] {
         ptyMaster("4321", "3");
         openFile("4321", "4", line.SlavePath());
       },
       "COM5", false},
      {"a pty user",
       [&] {
         ptyMaster("4321", "3");
         openFile("4322", "4", line.SlavePath());
       },
       "COM5", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(proc);
    fs::remove_all(locks);
    fs::create_directories(proc);
    fs::create_directories(locks);
    c.make();
    EXPECT_EQ(Busy(c.port), c.busy);
  }
  // Judging a lock file stale does not remove it: that is its opener's to do.
  lockFile("ttyUSB0", gone);
  EXPECT_FALSE(Busy("ttyUSB0"));
  EXPECT_TRUE(fs::exists(locks / "LCK..ttyUSB0"));
}

// On this machine's /proc: a pseudo-terminal another process holds with an
// flock (as picocom does) or under a live lock file (as minicom does) is busy,
// and finding that out never opens it.
TEST_F(FakeSystem, APortAnotherProcessHoldsIsBusyAndNothingOpensIt) {
  const PtyPair line;  // this process holds the master: the line's other end
  fs::create_symlink(line.SlavePath(), dev / "COM5");
  roots.procDir = "/proc";
  fs::create_directories(tty);
  fs::create_directories(locks);
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  const auto openedSince = [watch] {
    alignas(inotify_event) char buffer[4096];
    bool opened = false;
    while (read(watch, buffer, sizeof buffer) > 0) opened = true;
    return opened;
  };
  EXPECT_FALSE(Busy("COM5"));

  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    close(release[1]);  // the test's end: closing it lets this holder go
    const int fd = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    char byte = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
    if (write(ready[1], &byte, 1) != 1 || read(release[0], &byte, 1) < 0) _exit(1);
    _exit(0);
  }
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  ASSERT_EQ(held, 'y');
  ASSERT_GE(inotify_add_watch(watch, line.SlavePath().c_str(), IN_OPEN | IN_MODIFY | IN_ATTRIB), 0);
  EXPECT_TRUE(Busy("COM5"));
  EXPECT_FALSE(openedSince());
  close(release[1]);
  waitpid(holder, nullptr, 0);
  for (int fd : {ready[0], ready[1], release[0]}) close(fd);
  EXPECT_FALSE(Busy("COM5"));

  std::ofstream(locks / ("LCK..pts_" + fs::path(line.SlavePath()).filename().string()))
      << "      " << getpid() << " minicom root\n";
  EXPECT_TRUE(Busy("COM5"));
  EXPECT_FALSE(openedSince());
  close(watch);
}

// This machine's own list: every name must be one a user can type to open
// it, and the described list holds the same names in the same order.
TEST(SystemPorts, NamesAreDevicesUnderDev) {
  const std::vector<std::string> ports = EnumComPorts();
  for (const std::string& port : ports) EXPECT_TRUE(fs::exists("/dev/" + port)) << port;
  std::vector<std::string> described;
  for (const ComPortInfo& port : EnumComPortsDescribed()) described.push_back(port.name);
  EXPECT_EQ(described, ports);
}

}  // namespace
