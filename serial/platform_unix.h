#pragma once
// Linux details behind the platform seam that tests reach with their own
// roots, so nothing depends on the serial hardware of the machine running them.

#include <QSettings>
#include <QString>

#include <string>
#include <vector>

namespace comdev {

// The device a port name means: a name starting with "/" as it stands, any
// other under devDir; "COMn" without devDir/COMn is devDir/ttyS(n-1).
std::string DevicePath(const std::string& port, const std::string& devDir);

// The serial ports under a sysfs tty class directory and a device directory,
// sorted as the port list shows them. Returns 0 or errno.
int ListPortsIn(const std::string& ttyClassDir, const std::string& devDir,
                std::vector<std::string>& ports);

// UUCP lock files, the lock other serial programs honour even when they take
// no flock. The name is the base name of the device the path leads to, links
// resolved (/dev/COM1 -> /dev/ttyUSB0 gives "ttyUSB0"). Returns 0 or errno
// (the path leads nowhere).
int LockName(const std::string& devicePath, std::string& name);
// The first of /run/lock and /var/lock that exists; empty when neither does.
std::string LockDirectory();
// Takes dir/LCK..name for this process: EBUSY when a live process (this one
// included) holds it; a lock whose process is gone is removed first. Returns
// 0 also when the directory takes no file (then `taken` stays empty and the
// device's own locks are all there is); `taken` is the file made.
int TakeLockFile(const std::string& dir, const std::string& name, std::string& taken);
// Removes a lock file made by TakeLockFile, if it still names this process.
void ReleaseLockFile(const std::string& path);

// The file and group a settings key is stored in: after an optional leading
// "Software", the first two segments name the file (like organisation and
// application), the rest is the group.
struct SettingsLocation {
  QString file;
  QString group;
};
SettingsLocation SettingsLocationOf(const QString& configDir, const QString& key);

// The settings file's typed text format: quoted texts and 32-bit integers
// ("dword:" and eight hex digits) under "[section]" lines, the keys of the
// map being "section/name" with "/" for the "\" of the section line. Reading
// refuses any other line; writing refuses any other type of value.
bool ReadTypedSettings(QIODevice& device, QSettings::SettingsMap& map);
bool WriteTypedSettings(QIODevice& device, const QSettings::SettingsMap& map);

}  // namespace comdev
