// Windows side of the system port list: the serial ports the drivers have
// entered under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, one value
// per port whose data is its name (COM1, COM7, ...); what SetupAPI knows of
// the device behind each, and whether another program holds it.

#include "os/platform.h"
#include "serial/ports_win.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>

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

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The four hex digits after `key` ("vid_") in a lower-case hardware id;
// empty when there are none.
std::string IdAfter(const std::string& id, const std::string& key) {
  const size_t at = id.find(key);
  if (at == std::string::npos || id.size() < at + key.size() + 4) return {};
  const std::string digits = id.substr(at + key.size(), 4);
  const bool hex = std::all_of(digits.begin(), digits.end(),
                               [](unsigned char c) { return std::isxdigit(c) != 0; });
  return hex ? digits : std::string();
}

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
  bytes.pop_back();  // the terminating zero
  return bytes;
}

// A text property of a device; of a list of texts (the hardware ids) the first.
std::string DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[1024] = {};
  // Two zeros stay at the end, whatever the property holds.
  if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text),
                                           sizeof text - 2 * sizeof(wchar_t), nullptr))
    return {};
  return Utf8(text);
}

// The COM port a device provides ("PortName" in its device key); empty when none.
std::string PortNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
  const HKEY key =
      ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t name[256] = {};
  DWORD size = sizeof name - sizeof(wchar_t);
  DWORD type = 0;
  const LONG result =
      ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  ::RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_SZ ? Utf8(name) : std::string();
}

// The descriptions of the present devices that provide a COM port, by the
// port's name in lower case. A port without a device there (one Wine maps to
// a pseudo-terminal) has none.
std::map<std::string, std::string> DeviceDescriptions() {
  std::map<std::string, std::string> descriptions;
  const HDEVINFO devices =
      ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return descriptions;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    const std::string port = PortNameOf(devices, device);
    if (port.empty()) continue;
    std::string name = DeviceProperty(devices, device, SPDRP_FRIENDLYNAME);
    if (name.empty()) name = DeviceProperty(devices, device, SPDRP_DEVICEDESC);
    descriptions[Lower(port)] =
        comdev::PortDescriptionOf(name, DeviceProperty(devices, device, SPDRP_HARDWAREID));
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return descriptions;
}

// Windows tells that another program holds a port only by refusing to open
// it; a port that opens is closed at once, nothing written or set.
bool Busy(const std::string& port) {
  const std::string path = "\\\\.\\" + port;
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_ACCESS_DENIED;
  ::CloseHandle(handle);
  return false;
}

}  // namespace

namespace comdev {

std::string PortDescriptionOf(const std::string& friendlyName, const std::string& hardwareId) {
  const std::string id = Lower(hardwareId);
  const std::string vendor = IdAfter(id, "vid_");
  const std::string product = IdAfter(id, "pid_");
  const bool usb = !vendor.empty() && !product.empty();
  return JoinDescription({friendlyName, usb ? "USB " + vendor + ":" + product : hardwareId});
}

std::vector<ComPortInfo> DescribePorts(const std::vector<std::string>& names) {
  const std::map<std::string, std::string> descriptions = DeviceDescriptions();
  std::vector<ComPortInfo> ports;
  for (const std::string& name : names) {
    const auto found = descriptions.find(Lower(name));
    ports.push_back(
        {name, found == descriptions.end() ? std::string() : found->second, Busy(name)});
  }
  return ports;
}

int DescribeSystemPorts(std::vector<ComPortInfo>& ports) {
  ports.clear();
  std::vector<std::string> names;
  if (int error = ListSystemPorts(names)) return error;
  ports = DescribePorts(names);
  return 0;
}

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
