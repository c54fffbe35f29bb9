// Linux side of the port device: tty devices through termios2 and poll,
// guarded by flock, TIOCEXCL and the UUCP lock file other serial programs honour.

#include "os/platform.h"
#include "serial/ports_unix.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

namespace comdev {

struct Device {
  int fd;
  TimeoutSettings timeouts;
  std::string lockFile;  // the UUCP lock file this device made, if any
};

}  // namespace comdev

namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

constexpr short kHangUp = POLLHUP | POLLERR;

Deadline After(std::uint64_t ms) { return Clock::now() + std::chrono::milliseconds(ms); }

// The total limit of a transfer; none when both parts are zero.
Deadline TotalDeadline(std::uint32_t multiplier, std::uint32_t constant, int count) {
  if (multiplier == 0 && constant == 0) return std::nullopt;
  return After(std::uint64_t{multiplier} * static_cast<std::uint64_t>(count) + constant);
}

Deadline Earlier(Deadline a, Deadline b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

int MillisecondsLeft(Deadline deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1'000'000'000));
}

// poll() until something is ready or the deadline passes, resuming after
// signals. `ready` is 0 when the deadline passed. Returns 0 or errno.
int PollUntil(pollfd* fds, nfds_t count, Deadline deadline, int& ready) {
  for (;;) {
    ready = ::poll(fds, count, MillisecondsLeft(deadline));
    if (ready >= 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// --- Line settings ----------------------------------------------------------

// A stop-bit setting the line cannot make with these data bits: 1.5 stop bits
// exist only with 5 data bits, 2 stop bits only with more.
bool ValidFrame(const comdev::LineSettings& line) {
  if (line.dataBits < 5 || line.dataBits > 8) return false;
  if (line.stopBits == sbOne5StopBits) return line.dataBits == 5;
  if (line.stopBits == sbTwoStopBits) return line.dataBits != 5;
  return true;
}

// The termios code of a rate the kernel names; BOTHER for any other.
tcflag_t SpeedCode(int rate) {
  static constexpr std::pair<int, tcflag_t> kCodes[] = {
      {110, B110},       {300, B300},       {600, B600},       {1200, B1200},    {2400, B2400},
      {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},  {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& [bits, code] : kCodes) {
    if (bits == rate) return code;
  }
  return BOTHER;
}

tcflag_t ControlFlags(const comdev::LineSettings& line) {
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  static constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                         PARENB | CMSPAR};
  tcflag_t flags = CREAD | CLOCAL | HUPCL | kSizes[line.dataBits - 5] | kParity[line.parity];
  // With 5 data bits the UART makes CSTOPB 1.5 stop bits.
  if (line.stopBits != sbOneStopBit) flags |= CSTOPB;
  if (line.rts == rtsHandshake || line.outCTSFlow) flags |= CRTSCTS;
  return flags | SpeedCode(line.baudRate);
}

// A device without modem lines (a pseudo-terminal) answers ENOTTY: not an error.
int SetModemLine(int fd, int line, bool on) {
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || errno == ENOTTY) return 0;
  return errno;
}

// RTS raised only while sending is the driver's RS-485 mode; a driver
// without it (ENOTTY) leaves RTS low, which keeps a half-duplex line free.
int EnableRtsOnSend(int fd) {
  serial_rs485 rs485{};
  rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  if (::ioctl(fd, TIOCSRS485, &rs485) == 0 || errno == ENOTTY) return 0;
  return errno;
}

int SetHandshakeLines(int fd, const comdev::LineSettings& line) {
  // Linux has no DTR/DSR handshake; DTR stays raised so the peer may send.
  if (int error = SetModemLine(fd, TIOCM_DTR, line.dtr != dtrDisable)) return error;
  if (line.rts == rtsToggle) return EnableRtsOnSend(fd);
  return SetModemLine(fd, TIOCM_RTS, line.rts != rtsDisable);
}

// --- Device names -------------------------------------------------------------

// "COMn" in any letter case gives n, anything else 0.
int ComNumber(const std::string& port) {
  if (port.size() < 4) return 0;
  const std::string prefix = port.substr(0, 3);
  if (!std::equal(prefix.begin(), prefix.end(), "COM",
                  [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
    return 0;
  int number = 0;
  const char* end = port.data() + port.size();
  const auto [next, error] = std::from_chars(port.data() + 3, end, number);
  return error == std::errc() && next == end && number > 0 ? number : 0;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// The kernel's list of its consoles is a line of a few names; more is no such list.
constexpr size_t kConsoleListSize = 4096;

// --- UUCP lock files -----------------------------------------------------------
// Serial programs that take no flock still keep out of each other's way with
// a file LCK..<device> holding the owner's PID (we write ten ASCII digits and a
// newline). The lock directory is writable by everyone, so a name in it can
// be anything: it is opened without following a link or waiting for a
// writer, and only a regular file is ever read or removed.

// A lock file naming no process may be one its maker is still writing.
constexpr std::time_t kLockBeingWrittenSeconds = 10;

// Enough for any text a lock file starts with.
constexpr size_t kLockHeadSize = 64;

std::function<void()>& StaleLockHook() {
  static std::function<void()> hook;
  return hook;
}

// Closes the descriptor when it goes.
struct OpenFile {
  explicit OpenFile(int descriptor) : fd(descriptor) {}
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  const int fd;
};

std::string LockPath(const std::string& dir, const std::string& name) {
  return dir + "/LCK.." + name;
}

// A lock file opened for reading, or -1 with errno; `info` tells what it is.
// Neither a link nor a FIFO without a writer can hold the caller up.
int OpenLockFile(const std::string& path, struct stat& info) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || ::fstat(fd, &info) == 0) return fd;
  const int error = errno;
  ::close(fd);
  errno = error;
  return -1;
}

// The first bytes of an open lock file.
std::string LockHead(int fd) {
  char head[kLockHeadSize];
  const ssize_t got = ::pread(fd, head, sizeof head, 0);
  return got > 0 ? std::string(head, static_cast<size_t>(got)) : std::string();
}

// The process a lock file names: its leading integer after white space
// (blanks, line ends), whatever follows (minicom writes
// "      2369 minicom root\n"); 0 when it names none.
pid_t LockHolder(std::string_view head) {
  const size_t start = head.find_first_not_of(" \t\r\n\v\f");
  if (start == std::string_view::npos) return 0;
  long pid = 0;
  const auto [next, error] = std::from_chars(head.data() + start, head.data() + head.size(), pid);
  return error == std::errc() && pid > 0 && pid <= INT32_MAX ? static_cast<pid_t>(pid) : 0;
}

// Another user's process answers EPERM: alive all the same.
bool ProcessAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

bool RecentlyWritten(const struct stat& info) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - info.st_mtim.tv_sec < kLockBeingWrittenSeconds;
}

// Whether an open regular lock file holds the port for nobody: the process it
// names is gone, or it names none and is too old to be still being written.
bool Stale(int fd, const struct stat& info) {
  if (const pid_t holder = LockHolder(LockHead(fd))) return !ProcessAlive(holder);
  return !RecentlyWritten(info);
}

// Whether `path` still leads to the file `opened` describes.
bool StillNames(const std::string& path, const struct stat& opened) {
  struct stat now {};
  return ::lstat(path.c_str(), &now) == 0 && now.st_dev == opened.st_dev &&
         now.st_ino == opened.st_ino;
}

enum class Verdict {
  kFree,         // no lock file (any more)
  kBusy,         // the port is held, or the file is nothing we may judge
  kNameTooLong,  // no file can have the name
  kStale,        // it holds the port for nobody, and it stays
  kMoved,        // the name led elsewhere meanwhile: look again
};

// Judges the lock file at `path` and removes it when it is stale and `remove`
// says so. The judging holds an flock on the file, which every remover of
// ours takes too, and checks under it that the name still leads to that
// file: of two removers the second finds the file busy or gone, and nobody
// removes a lock made after the stale one was judged.
Verdict JudgeLockFile(const std::string& path, bool remove) {
  struct stat info {};
  const OpenFile file(OpenLockFile(path, info));
  // A file that is there but cannot be read is busy: we cannot tell.
  if (file.fd < 0 && errno == ENAMETOOLONG) return Verdict::kNameTooLong;
  if (file.fd < 0) return errno == ENOENT || errno == ENOTDIR ? Verdict::kFree : Verdict::kBusy;
  if (!S_ISREG(info.st_mode)) return Verdict::kBusy;
  if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) return Verdict::kBusy;  // being judged right now
  if (!StillNames(path, info)) return Verdict::kMoved;
  if (!Stale(file.fd, info)) return Verdict::kBusy;
  if (!remove) return Verdict::kStale;
  if (const auto& hook = StaleLockHook()) hook();
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? Verdict::kFree : Verdict::kStale;
}

// The verdict once the name holds still; busy if it keeps changing.
Verdict SettledVerdict(const std::string& path, bool remove) {
  for (int look = 0; look < 3; ++look) {
    if (const Verdict verdict = JudgeLockFile(path, remove); verdict != Verdict::kMoved)
      return verdict;
  }
  return Verdict::kBusy;
}

std::string LockContent(pid_t pid) {
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return std::string(text, static_cast<size_t>(length));
}

// Makes the lock file whole under a private name, then links it in place:
// another program never sees it half-written, and of two at once only one
// link succeeds (EEXIST for the other). Returns 0 or errno.
int CreateLockFile(const std::string& dir, const std::string& path) {
  std::string temporary = dir + "/LTMP.XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  const std::string content = LockContent(::getpid());
  const bool written = ::fchmod(fd, 0644) == 0 && ::write(fd, content.data(), content.size()) ==
                                                      static_cast<ssize_t>(content.size());
  int error = written ? 0 : errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::link(temporary.c_str(), path.c_str()) != 0) error = errno;
  ::unlink(temporary.c_str());
  return error;
}

// The path below /dev with "/" as "_" (/dev/pts/7 gives "pts_7"); empty for a
// path elsewhere.
std::string NameBelowDev(const std::filesystem::path& path) {
  const std::filesystem::path relative = path.lexically_relative("/dev");
  if (relative.empty() || relative == "." || *relative.begin() == "..") return {};
  std::string name = relative.generic_string();
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

}  // namespace

namespace comdev {

const int kInvalidDevice = EBADF;
const int kLockNameTooLong = ENAMETOOLONG;

void DeviceCloser::operator()(Device* device) const noexcept {
  // The exclusive flag belongs to the tty and outlives this descriptor while
  // anybody else holds the device open; the next opener must find it free.
  ::ioctl(device->fd, TIOCNXCL);
  ::close(device->fd);
  ReleaseLockFile(device->lockFile);
  delete device;
}

std::vector<std::string> LockNamesOf(const std::string& given, const std::string& resolved) {
  const std::filesystem::path named = std::filesystem::path(given).lexically_normal();
  const std::filesystem::path device(resolved);
  std::vector<std::string> names;
  const auto add = [&names](const std::string& name) {
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  };
  const std::string below = NameBelowDev(device);
  add(below.empty() ? device.filename().string() : below);
  for (const std::filesystem::path& path : {device, named}) {
    add(path.filename().string());
    add(NameBelowDev(path));
  }
  return names;
}

int LockNames(const std::string& devicePath, std::vector<std::string>& names) {
  char resolved[PATH_MAX];
  if (!::realpath(devicePath.c_str(), resolved)) return errno;
  names = LockNamesOf(devicePath, resolved);
  return 0;
}

std::string LockDirectory() {
  for (const char* dir : {"/run/lock", "/var/lock"}) {
    struct stat info {};
    if (::stat(dir, &info) == 0 && S_ISDIR(info.st_mode)) return dir;
  }
  return {};
}

int TakeLockFile(const std::string& dir, const std::vector<std::string>& names,
                 std::string& taken) {
  taken.clear();
  if (names.empty()) return 0;
  // Other programs' names for the port are only looked at: their stale files are theirs to remove.
  for (size_t other = 1; other < names.size(); ++other) {
    const Verdict verdict = SettledVerdict(LockPath(dir, names[other]), false);
    if (verdict == Verdict::kNameTooLong) return ENAMETOOLONG;
    if (verdict == Verdict::kBusy) return EBUSY;
  }
  const std::string path = LockPath(dir, names.front());
  // A second round only after another opener made the file between our look and our link.
  for (int round = 0; round < 2; ++round) {
    const Verdict verdict = SettledVerdict(path, true);
    // A stale one we may not remove leaves us without a file: flock and TIOCEXCL still guard.
    if (verdict == Verdict::kStale) return 0;
    if (verdict == Verdict::kNameTooLong) return ENAMETOOLONG;
    if (verdict != Verdict::kFree) return EBUSY;
    const int error = CreateLockFile(dir, path);
    if (error == 0) taken = path;
    if (error != EEXIST) return 0;  // made, or the directory takes no files
  }
  return EBUSY;
}

bool LockFileHoldsPort(const std::string& dir, const std::vector<std::string>& names) {
  return std::any_of(names.begin(), names.end(), [&dir](const std::string& name) {
    return SettledVerdict(LockPath(dir, name), false) == Verdict::kBusy;
  });
}

void ReleaseLockFile(const std::string& path) {
  if (path.empty()) return;
  // Only while it is still ours: a stale-lock remover of another program may have replaced it.
  struct stat info {};
  const OpenFile file(OpenLockFile(path, info));
  if (file.fd < 0 || !S_ISREG(info.st_mode) || LockHead(file.fd) != LockContent(::getpid())) return;
  ::unlink(path.c_str());
}

void SetStaleLockHook(std::function<void()> hook) { StaleLockHook() = std::move(hook); }

std::vector<std::string> ActiveConsoles(const std::string& ttyClassDir) {
  std::ifstream file(ttyClassDir + "/console/active");
  char text[kConsoleListSize];
  file.read(text, sizeof text);
  std::istringstream names(std::string(text, static_cast<size_t>(file.gcount())));
  std::vector<std::string> consoles;
  for (std::string name; names >> name;) consoles.push_back(name);
  return consoles;
}

std::string DevicePath(const std::string& port, const SystemRoots& roots) {
  if (port.starts_with('/')) return port;
  const std::string named = roots.devDir + "/" + port;
  const int number = ComNumber(port);
  if (number == 0 || Exists(named)) return named;
  const std::string uart = "ttyS" + std::to_string(number - 1);
  const std::vector<std::string> consoles = ActiveConsoles(roots.ttyClassDir);
  if (std::find(consoles.begin(), consoles.end(), uart) != consoles.end()) return named;
  return roots.devDir + "/" + uart;
}

int OpenLockedDevice(const std::string& devicePath, const std::string& lockDir, DevicePtr& device) {
  std::vector<std::string> names;
  if (int error = LockNames(devicePath, names)) return error;
  std::string lockFile;
  if (!lockDir.empty()) {
    if (int error = TakeLockFile(lockDir, names, lockFile)) return error;
  }
  const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // Root passes TIOCEXCL, so flock is what keeps a second process of ours out.
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    ReleaseLockFile(lockFile);
    return error;
  }
  device.reset(new Device{fd, {}, lockFile});
  return 0;
}

int OpenDevice(const std::string& port, DevicePtr& device) {
  return OpenLockedDevice(DevicePath(port, SystemRoots{}), LockDirectory(), device);
}

bool LineLost(const Device& device, int error) {
  // A hung-up tty answers EIO to everything and never recovers; ENXIO and
  // ENODEV come from a driver whose hardware is gone.
  if (error == EIO || error == ENXIO || error == ENODEV) return true;
  pollfd pfd{device.fd, 0, 0};
  return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (kHangUp | POLLNVAL)) != 0;
}

int CloseDevice(DevicePtr& device) {
  // Transfers never outlive a call here, so there is nothing to abort.
  device.reset();
  return 0;
}

int SetBuffers(Device&, int, int) {
  // Linux tty drivers size their own queues.
  return 0;
}

int SetLine(Device& device, const LineSettings& line) {
  if (!ValidFrame(line) || line.baudRate <= 0) return EINVAL;  // rate 0 would hang up the line
  termios2 tio{};
  if (::ioctl(device.fd, TCGETS2, &tio) != 0) return errno;
  // A byte with a parity error arrives as 0 under INPCK; Linux has no other
  // replacement byte, and no DSR handshake, null stripping or event character.
  tio.c_iflag =
      (line.parityCheck ? INPCK : 0) | (line.xonXoffOut ? IXON : 0) | (line.xonXoffIn ? IXOFF : 0);
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag = ControlFlags(line);
  tio.c_ispeed = tio.c_ospeed = static_cast<speed_t>(line.baudRate);
  // Reads never block in the driver; the read timeouts are kept with poll.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  tio.c_cc[VSTART] = line.xonChar;
  tio.c_cc[VSTOP] = line.xoffChar;
  if (::ioctl(device.fd, TCSETS2, &tio) != 0) return errno;
  return SetHandshakeLines(device.fd, line);
}

int SetTimeouts(Device& device, const TimeoutSettings& timeouts) {
  device.timeouts = timeouts;
  return 0;
}

int Write(Device& device, const void* buffer, int count, int& written) {
  const TimeoutSettings& t = device.timeouts;
  const Deadline deadline = TotalDeadline(t.writeTotalMultiplier, t.writeTotalConstant, count);
  const auto* bytes = static_cast<const char*>(buffer);
  written = 0;
  while (written < count) {
    const ssize_t sent = ::write(device.fd, bytes + written, static_cast<size_t>(count - written));
    if (sent > 0) {
      written += static_cast<int>(sent);
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EINTR) return errno;
    // The output queue is full: wait for room, as long as the timeouts allow.
    pollfd pfd{device.fd, POLLOUT, 0};
    int ready = 0;
    if (int error = PollUntil(&pfd, 1, deadline, ready)) return error;
    if (ready == 0) return 0;
    if (pfd.revents & kHangUp) return EIO;
  }
  return 0;
}

int Read(Device& device, int count, std::string& received) {
  const TimeoutSettings& t = device.timeouts;
  const Deadline total = TotalDeadline(t.readTotalMultiplier, t.readTotalConstant, count);
  Deadline interval;  // runs from the last byte received
  bool hungUp = false;
  received.clear();
  char chunk[4096];
  for (;;) {
    const size_t wanted = std::min(sizeof chunk, static_cast<size_t>(count) - received.size());
    const ssize_t got = ::read(device.fd, chunk, wanted);
    if (got > 0) {
      received.append(chunk, static_cast<size_t>(got));
      if (received.size() == static_cast<size_t>(count)) return 0;
      if (t.readInterval != 0) interval = After(t.readInterval);
      continue;
    }
    if (got < 0 && errno != EAGAIN && errno != EINTR) return errno;
    // Nothing to read after poll reported a hang-up: the other end is gone.
    if (hungUp) return EIO;
    pollfd pfd{device.fd, POLLIN, 0};
    int ready = 0;
    if (int error = PollUntil(&pfd, 1, Earlier(total, interval), ready)) return error;
    if (ready == 0) return 0;
    hungUp = (pfd.revents & kHangUp) != 0;
  }
}

int PendingInput(Device& device, int& count) {
  pollfd pfd{device.fd, POLLIN, 0};
  if (::poll(&pfd, 1, 0) < 0) return errno;
  if (pfd.revents & kHangUp) return EIO;
  return ::ioctl(device.fd, FIONREAD, &count) == 0 ? 0 : errno;
}

int WaitForEvent(Device& device, TComEvents& events, const TComStopEvent* stop, int timeoutMs) {
  // Only received characters can be waited for; poll skips a negative descriptor.
  pollfd fds[2] = {{device.fd, static_cast<short>(events.contains(evRxChar) ? POLLIN : 0), 0},
                   {stop ? static_cast<int>(stop->Handle()) : -1, POLLIN, 0}};
  const Deadline deadline =
      timeoutMs < 0 ? Deadline() : After(static_cast<std::uint64_t>(timeoutMs));
  int ready = 0;
  if (int error = PollUntil(fds, 2, deadline, ready)) return error;
  if (fds[0].revents & (kHangUp | POLLNVAL)) return EIO;
  events = {};
  if (fds[0].revents & POLLIN) events.insert(evRxChar);
  return 0;
}
}  // namespace comdev
