#pragma once
// Linux details of the ports behind the platform seam that tests reach with
// their own roots, so nothing depends on the serial hardware of the machine
// running them.

#include "os/platform.h"

#include <functional>
#include <string>
#include <vector>

namespace comdev {

// Where the Linux port list and the port names look: the system's own
// places, or a test's.
struct SystemRoots {
  std::string ttyClassDir = "/sys/class/tty";
  std::string devDir = "/dev";
  std::string procDir = "/proc";
  std::string lockDir;  // the UUCP lock files' (LockDirectory()); empty: none are looked at
};

// The terminals the kernel writes its console to now, as
// ttyClassDir/console/active names them ("tty0 ttyS0": a virtual terminal
// and a serial port); none when it does not say.
std::vector<std::string> ActiveConsoles(const std::string& ttyClassDir);

// The device a port name means: a name starting with "/" as it stands, any
// other under devDir; "COMn" without devDir/COMn is devDir/ttyS(n-1), unless
// that port is an active console: then it stays devDir/COMn, which opens as
// a missing port does. Bytes meant for an adapter never reach the machine's
// console unless its name was given.
std::string DevicePath(const std::string& port, const SystemRoots& roots);

// The serial ports under a sysfs tty class directory and a device directory,
// sorted as the port list shows them. Returns 0 or errno.
int ListPortsIn(const std::string& ttyClassDir, const std::string& devDir,
                std::vector<std::string>& ports);

// The ports of ListPortsIn, each described as DescribeSystemPorts describes
// it: a COMn link by the device it leads to, a USB converter by its maker,
// product, serial number, vendor and product ids, a UART of the serial core
// by its type and I/O port, each by its names under devDir/serial/by-id;
// with the device it leads to, and whether that is an active console.
// Busy: a lock file holds it, a lock of procDir/locks is on its device, or
// a process has it open (one that holds a pseudo-terminal's master, the
// line's other end, does not count for its slave). Returns 0 or errno.
int DescribePortsIn(const SystemRoots& roots, std::vector<ComPortInfo>& ports);

// UUCP lock files, the lock other serial programs honour even when they take
// no flock. Each program names the file after the device as it knows it: by
// the name it was given or by the device a link leads to, as a base name
// (LCK..COM1, LCK..ttyUSB0) or as the path below /dev with "/" as "_"
// (LCK..pts_7, LCK..serial_by-id_usb-X).
//
// Every such name of a device, each once: first the one this tool locks (the
// resolved device's path below /dev; its base name when it lies elsewhere),
// then the others. `given` is the path as named, `resolved` the device it
// leads to, links resolved.
std::vector<std::string> LockNamesOf(const std::string& given, const std::string& resolved);
// The same for a path on this system. Returns 0 or errno (the path leads nowhere).
int LockNames(const std::string& devicePath, std::vector<std::string>& names);
// The first of /run/lock and /var/lock that exists; empty when neither does.
std::string LockDirectory();
// Takes dir/LCK..names[0] for this process once none of the names is busy.
// Busy (EBUSY): anything but a regular file (a link, a FIFO, a directory),
// a file that cannot be read, one another opener is judging right now, one
// whose leading number (after blanks, whatever follows) is a live process
// (this one included), and one naming no process that was written in the
// last few seconds (its maker may be writing it still). Any other regular
// file is stale: under the first name it is removed, under the others left
// alone. Returns 0 also when the directory takes no file or the stale file
// may not be removed (then `taken` stays empty and the device's own locks are
// all there is); `taken` is the file made. ENAMETOOLONG (kLockNameTooLong)
// when a name is too long for a file in the directory.
int TakeLockFile(const std::string& dir, const std::vector<std::string>& names, std::string& taken);
// Whether a lock file dir/LCK..<name> holds the port under any of `names`,
// judged as TakeLockFile judges them (this process's own locks included);
// nothing is removed or made.
bool LockFileHoldsPort(const std::string& dir, const std::vector<std::string>& names);
// Removes a lock file made by TakeLockFile, if it still names this process.
void ReleaseLockFile(const std::string& path);
// For tests: runs between judging a lock file stale and removing it.
void SetStaleLockHook(std::function<void()> hook);

// Opens the device at `devicePath` as OpenDevice does, with its lock file in
// `lockDir` (none when empty). Returns 0 or errno.
int OpenLockedDevice(const std::string& devicePath, const std::string& lockDir, DevicePtr& device);

}  // namespace comdev
