// Windows side of the system port list: the serial ports the drivers have
// entered under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, one value
// per port whose data is its name (COM1, COM7, ...).

#include "serial/platform.h"

#include <windows.h>

namespace {

// Adds the port name held in value `index` of `key`. Returns 0,
// ERROR_NO_MORE_ITEMS after the last value, or the system's error.
int AddPortOfValue(HKEY key, DWORD index, std::vector<std::string>& ports) {
  char name[256];
  DWORD nameSize = sizeof name;
  BYTE data[256];
  DWORD dataSize = sizeof data - 1;
  DWORD type = 0;
  const LONG result = ::RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
  if (result != ERROR_SUCCESS) return static_cast<int>(result);
  if (type != REG_SZ) return 0;  // not a port name
  data[dataSize] = 0;
  const std::string port(reinterpret_cast<const char*>(data));
  if (!port.empty()) ports.push_back(port);
  return 0;
}

}  // namespace

namespace comdev {

int ListSystemPorts(std::vector<std::string>& ports) {
  ports.clear();
  HKEY key = nullptr;
  const LONG opened =
      ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
  // Without any serial port the key does not exist: an empty list, not a fault.
  if (opened == ERROR_FILE_NOT_FOUND) return 0;
  if (opened != ERROR_SUCCESS) return static_cast<int>(opened);
  int error = 0;
  for (DWORD index = 0; error == 0; ++index) error = AddPortOfValue(key, index, ports);
  ::RegCloseKey(key);
  if (error != ERROR_NO_MORE_ITEMS) return error;
  SortPortNames(ports);
  return 0;
}

}  // namespace comdev
