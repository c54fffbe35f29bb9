#pragma once
// Windows details of the ports behind the platform seam that tests reach
// directly.

#include "os/line_types.h"

#include <string>
#include <vector>

namespace comdev {

// What the port list says of a port whose device SetupAPI knows: its friendly
// name ("USB-SERIAL CH340 (COM5)") and its hardware id, a USB vendor and
// product as "USB 1a86:7523" (from VID_1A86 and PID_7523 anywhere in it), any
// other id as it stands ("ACPI\PNP0501"); an empty part is left out.
std::string PortDescriptionOf(const std::string& friendlyName, const std::string& hardwareId);

// The ports named, each described as DescribeSystemPorts describes it: by
// SetupAPI's device that provides it (none: an empty description), busy when
// the open is refused.
std::vector<ComPortInfo> DescribePorts(const std::vector<std::string>& names);

}  // namespace comdev
