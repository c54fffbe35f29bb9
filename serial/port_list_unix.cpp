// Linux side of the system port list: the serial ports sysfs knows, and the
// /dev/COMn links a user made so a converter goes by a COM name.

#include "serial/platform.h"
#include "serial/platform_unix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace {

// Asks the driver about the chip behind a port: the last resort, for a
// kernel whose sysfs does not tell. The port is opened without waiting for
// the carrier, and nothing is set on it.
bool ProbedUart(const std::string& devicePath) {
  const int fd = ::open(devicePath.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return real;
}

// Calls `visit` with every entry of `dir`; returns 0 or errno.
template <class Visit>
int ForEachEntry(const std::string& dir, Visit visit) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    visit(it->path());
  }
  return error.value();
}

// The serial core's word on the chip behind a port (its "type" attribute, 0
// for none); nothing when the kernel does not give it.
std::optional<int> UartType(const std::filesystem::path& ttyEntry) {
  std::ifstream in(ttyEntry / "type");
  int type = 0;
  if (!(in >> type)) return std::nullopt;
  return type;
}

// serial8250 registers every possible UART slot, with or without a chip
// behind it. Opening a slot to find out would pulse the modem lines of a
// real UART, so the port's sysfs entry decides wherever it can.
bool HasChip(const std::filesystem::path& ttyEntry, const std::string& driver,
             const std::string& devicePath) {
  if (const std::optional<int> type = UartType(ttyEntry)) return *type != PORT_UNKNOWN;
  return driver != "serial8250" || ProbedUart(devicePath);
}

int AddTtyDevices(const std::string& ttyClassDir, const std::string& devDir,
                  std::vector<std::string>& ports) {
  return ForEachEntry(ttyClassDir, [&](const std::filesystem::path& entry) {
    std::error_code noDriver;
    const auto driver = std::filesystem::read_symlink(entry / "device" / "driver", noDriver);
    if (noDriver) return;  // a virtual terminal, not a port
    const std::string name = entry.filename();
    if (HasChip(entry, driver.filename(), devDir + "/" + name)) ports.push_back(name);
  });
}

int AddComLinks(const std::string& devDir, std::vector<std::string>& ports) {
  return ForEachEntry(devDir, [&](const std::filesystem::path& entry) {
    const std::string name = entry.filename();
    if (name.starts_with("COM")) ports.push_back(name);
  });
}

}  // namespace

namespace comdev {

int ListPortsIn(const std::string& ttyClassDir, const std::string& devDir,
                std::vector<std::string>& ports) {
  ports.clear();
  if (int error = AddTtyDevices(ttyClassDir, devDir, ports)) return error;
  if (int error = AddComLinks(devDir, ports)) return error;
  SortPortNames(ports);
  return 0;
}

int ListSystemPorts(std::vector<std::string>& ports) {
  return ListPortsIn("/sys/class/tty", "/dev", ports);
}

}  // namespace comdev
