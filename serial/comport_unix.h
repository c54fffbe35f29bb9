#pragma once
// Linux details of the port component that tests reach with their own roots,
// so nothing depends on the serial hardware of the machine running them.

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

// The file and group a settings key is stored in: after an optional leading
// "Software", the first two segments name the file (like organisation and
// application), the rest is the group.
struct SettingsLocation {
  QString file;
  QString group;
};
SettingsLocation SettingsLocationOf(const QString& configDir, const QString& key);

}  // namespace comdev
