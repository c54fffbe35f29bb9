#pragma once
// The adapter's 32-bit float: an IEEE binary32 pattern B sent as two
// registers, low half first, each half big-endian. Wire bytes w0..w3 carry
// B's bits 15..8, 7..0, 31..24, 23..16.

#include <array>
#include <cstdint>
#include <stdexcept>

using DeviceFloatBytes = std::array<uint8_t, 4>;  // w0, w1, w2, w3 in wire order

// A magnitude the device float cannot carry, in either direction.
class EFloatOverflow : public std::runtime_error {
 public:
  EFloatOverflow() : std::runtime_error("Floating point overflow") {}
};

// Four zero bytes are 0.0; otherwise sign, exponent and mantissa are taken as
// they are (an exponent field of 0 is exponent -127, no subnormals, no
// infinities). Exponent fields 254 and 255 throw EFloatOverflow.
double DeviceFloatToDouble(uint8_t w0, uint8_t w1, uint8_t w2, uint8_t w3);

// Rounds through a 40-bit-mantissa real (magnitudes below 2^-128 become 0),
// then to the nearest binary32 (ties to even), and clears bit 0 of the
// pattern. The range is the decoder's, so whatever is written reads back: a
// magnitude whose binary32 reaches 2^127 (exponent field 254) throws
// EFloatOverflow. The largest writable magnitude is therefore
// (2 - 2^-23) * 2^126 = 1.70141173e38, shown as "1.701412E+38"; from the
// midway point to 2^127, 1.70141178e38, up everything is refused, the shown
// "1.701412E+38" included (it rounds to 2^127), so it cannot be written back.
DeviceFloatBytes DoubleToDeviceFloat(double value);
