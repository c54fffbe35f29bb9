#pragma once
// Windows details behind the platform seam that tests reach directly.

#include <string>

namespace comdev {

// What the port list says of a port whose device SetupAPI knows: its friendly
// name ("USB-SERIAL CH340 (COM5)") and its hardware id, a USB vendor and
// product as "USB 1a86:7523" (from VID_1A86 and PID_7523 anywhere in it), any
// other id as it stands ("ACPI\PNP0501"); an empty part is left out.
std::string PortDescriptionOf(const std::string& friendlyName, const std::string& hardwareId);

}  // namespace comdev
