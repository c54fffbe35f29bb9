// Linux side of the system port list: the serial ports sysfs knows, and the
// /dev/COMn links a user made so a converter goes by a COM name; what sysfs
// and udev's stable names say of each, and who holds it, found without
// opening it.

#include "os/platform.h"
#include "serial/ports_unix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

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

// --- Descriptions ----------------------------------------------------------------

namespace fs = std::filesystem;

// The first line of a sysfs attribute without its line end; empty when there is none.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

// The USB device a tty belongs to: of the tty's device (a USB serial
// converter's port), its interface and the device above, the first that has
// vendor and product ids.
std::optional<fs::path> UsbDeviceOf(const fs::path& ttyEntry) {
  std::error_code error;
  fs::path dir = fs::canonical(ttyEntry / "device", error);
  for (int up = 0; !error && up < 3; ++up, dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", error)) return dir;
  }
  return std::nullopt;
}

// "FTDI FT232R USB UART", "s/n A10K3B2C", "USB 0403:6001".
void AddUsbParts(const fs::path& usb, std::vector<std::string>& parts) {
  const std::string maker = Attribute(usb / "manufacturer");
  const std::string product = Attribute(usb / "product");
  // Many products already begin with their maker's name.
  parts.push_back(product.starts_with(maker) ? product
                                             : maker + (product.empty() ? "" : " " + product));
  const std::string serial = Attribute(usb / "serial");
  if (!serial.empty()) parts.push_back("s/n " + serial);
  parts.push_back("USB " + Attribute(usb / "idVendor") + ":" + Attribute(usb / "idProduct"));
}

// The serial core's names of the UART types its "type" attribute gives, from 1.
constexpr const char* kUartTypes[] = {"8250",  "16450",   "16550", "16550A",   "Cirrus",
                                      "16650", "16650V2", "16750", "Startech", "16C950",
                                      "16654", "16850",   "RSA",   "NS16550A"};

// "UART 16550A at 0x3F8" for a port of the serial core with a chip behind it.
void AddUartPart(const fs::path& ttyEntry, std::vector<std::string>& parts) {
  const std::optional<int> type = UartType(ttyEntry);
  if (!type || *type <= 0) return;
  const int known = static_cast<int>(std::size(kUartTypes));
  std::string text = "UART " + (*type <= known ? std::string(kUartTypes[*type - 1])
                                               : "type " + std::to_string(*type));
  const std::string ioPort = Attribute(ttyEntry / "port");
  if (!ioPort.empty() && ioPort != "0x0") text += " at " + ioPort;
  parts.push_back(text);
}

// udev's stable names of the device: the links under devDir/serial/by-id
// that lead to it.
void AddStableNames(const fs::path& device, const std::string& devDir,
                    std::vector<std::string>& parts) {
  std::vector<std::string> names;
  ForEachEntry(devDir + "/serial/by-id", [&](const fs::path& link) {
    std::error_code error;
    if (fs::canonical(link, error) == device && !error) names.push_back(link.string());
  });
  std::sort(names.begin(), names.end());
  parts.insert(parts.end(), names.begin(), names.end());
}

// What the system knows of the port `named` (its path), which is `device`
// once links are resolved.
std::string DescriptionOf(const fs::path& named, const fs::path& device,
                          const comdev::SystemRoots& roots) {
  std::vector<std::string> parts;
  if (fs::is_symlink(named)) parts.push_back("→ " + device.string());
  const fs::path ttyEntry = fs::path(roots.ttyClassDir) / device.filename();
  if (const std::optional<fs::path> usb = UsbDeviceOf(ttyEntry))
    AddUsbParts(*usb, parts);
  else
    AddUartPart(ttyEntry, parts);
  AddStableNames(device, roots.devDir, parts);
  return comdev::JoinDescription(parts);
}

// --- Holders ------------------------------------------------------------------------

// A file another process holds a lock on, as /proc/locks names it: the
// device of its file system and its inode.
struct LockedFile {
  unsigned major;
  unsigned minor;
  unsigned long long inode;
};

// The files of /proc/locks' lines; a process waiting for a lock ("->") holds none.
std::vector<LockedFile> LockedFiles(const std::string& locksFile) {
  std::vector<LockedFile> files;
  std::ifstream in(locksFile);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, kind, mode, access, pid, file;
    fields >> id >> kind;
    if (kind == "->") continue;
    fields >> mode >> access >> pid >> file;
    LockedFile locked{};
    if (std::sscanf(file.c_str(), "%x:%x:%llu", &locked.major, &locked.minor, &locked.inode) == 3)
      files.push_back(locked);
  }
  return files;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The pseudo-terminal whose master an open file is ("tty-index" of its
// fdinfo); nothing for any other file.
std::optional<std::string> PtyMasterIndex(const fs::path& fdinfo) {
  std::ifstream in(fdinfo);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("tty-index:")) {
      std::istringstream value(line.substr(10));
      std::string index;
      value >> index;
      return index;
    }
  }
  return std::nullopt;
}

// What the processes hold open, as far as this process may look (every
// process as root, its user's otherwise): the files their descriptors lead
// to, and the pseudo-terminals whose master they hold. Links are only read,
// never followed.
class OpenFiles {
 public:
  explicit OpenFiles(const std::string& procDir) {
    ForEachEntry(procDir, [this](const fs::path& process) {
      const std::string pid = process.filename();
      if (!AllDigits(pid)) return;
      ForEachEntry((process / "fd").string(), [&](const fs::path& fd) {
        std::error_code error;
        const fs::path target = fs::read_symlink(fd, error);
        if (error) return;
        if (target == "/dev/ptmx" || target == "/dev/pts/ptmx") {
          if (auto index = PtyMasterIndex(process / "fdinfo" / fd.filename()))
            masters_.emplace(pid, *index);
        } else {
          openers_.emplace(target, pid);
        }
      });
    });
  }

  // Whether a process has `device` open; the process that holds a
  // pseudo-terminal's master is that line's other end, not a user of it.
  bool OpenElsewhere(const fs::path& device) const {
    const bool pty = device.parent_path() == "/dev/pts";
    const auto [first, last] = openers_.equal_range(device);
    return std::any_of(first, last, [&](const auto& opener) {
      return !(pty && masters_.count({opener.second, device.filename().string()}));
    });
  }

 private:
  std::multimap<fs::path, std::string> openers_;           // file, process
  std::set<std::pair<std::string, std::string>> masters_;  // process, pseudo-terminal number
};

// Whether anybody holds the port: gathered once for the whole list.
class PortHolders {
 public:
  explicit PortHolders(const comdev::SystemRoots& roots)
      : lockDir_(roots.lockDir),
        locked_(LockedFiles(roots.procDir + "/locks")),
        open_(roots.procDir) {}

  bool Hold(const fs::path& named, const fs::path& device) const {
    return LockFileHolds(named) || Locked(device) || open_.OpenElsewhere(device);
  }

 private:
  // The lock files every opener of the port looks at.
  bool LockFileHolds(const fs::path& named) const {
    std::vector<std::string> names;
    return !lockDir_.empty() && comdev::LockNames(named.string(), names) == 0 &&
           comdev::LockFileHoldsPort(lockDir_, names);
  }

  bool Locked(const fs::path& device) const {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return false;
    return std::any_of(locked_.begin(), locked_.end(), [&info](const LockedFile& file) {
      return file.major == major(info.st_dev) && file.minor == minor(info.st_dev) &&
             file.inode == info.st_ino;
    });
  }

  std::string lockDir_;
  std::vector<LockedFile> locked_;
  OpenFiles open_;
};

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

int DescribePortsIn(const SystemRoots& roots, std::vector<ComPortInfo>& ports) {
  ports.clear();
  std::vector<std::string> names;
  if (int error = ListPortsIn(roots.ttyClassDir, roots.devDir, names)) return error;
  const PortHolders holders(roots);
  const std::vector<std::string> consoles = ActiveConsoles(roots.ttyClassDir);
  const auto isConsole = [&consoles](const std::string& tty) {
    return std::find(consoles.begin(), consoles.end(), tty) != consoles.end();
  };
  for (const std::string& name : names) {
    const fs::path named = DevicePath(name, roots);
    std::error_code error;
    const fs::path device = fs::canonical(named, error);
    if (error) {
      // A link that leads nowhere, or a tty without its node: nothing to tell
      // but what sysfs said of the name.
      ports.push_back({name, {}, false, isConsole(name)});
      continue;
    }
    ports.push_back({name, DescriptionOf(named, device, roots), holders.Hold(named, device),
                     isConsole(device.filename().string()), device.string()});
  }
  return 0;
}

int DescribeSystemPorts(std::vector<ComPortInfo>& ports) {
  SystemRoots roots;
  roots.lockDir = LockDirectory();
  return DescribePortsIn(roots, ports);
}

}  // namespace comdev
