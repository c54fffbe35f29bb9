#include "modbus/device_float.h"

#include <bit>
#include <cmath>

namespace {

constexpr int kIntermediateBits = 40;
constexpr double kOverflowLimit = 0x1p127;
constexpr double kUnderflowLimit = 0x1p-128;
// The decoder refuses exponent fields 254 and 255; the encoder refuses what
// would need them, so every value written can be read back.
constexpr int kFirstUnreadableExponent = 254;

int ExponentField(uint8_t w2, uint8_t w3) { return (w2 & 0x7F) * 2 + (w3 >> 7); }

// Rounds to the nearest value with a 40-bit significand, ties to even.
double RoundToIntermediate(double value) {
  int exponent = 0;
  const double fraction = std::frexp(value, &exponent);
  return std::ldexp(std::nearbyint(std::ldexp(fraction, kIntermediateBits)),
                    exponent - kIntermediateBits);
}

}  // namespace

double DeviceFloatToDouble(uint8_t w0, uint8_t w1, uint8_t w2, uint8_t w3) {
  if ((w0 | w1 | w2 | w3) == 0) return 0.0;
  const bool negative = w2 & 0x80;
  const int exponent = ExponentField(w2, w3);
  if (exponent >= kFirstUnreadableExponent) throw EFloatOverflow();
  const int32_t mantissa = (w3 & 0x7F) * 65536 + w0 * 256 + w1;
  const double magnitude = std::ldexp(mantissa + 8388608.0, exponent - 127 - 23);
  return negative ? -magnitude : magnitude;
}

DeviceFloatBytes DoubleToDeviceFloat(double value) {
  if (std::fabs(value) < kUnderflowLimit) value = 0.0;
  const double intermediate = RoundToIntermediate(value);
  if (!(std::fabs(intermediate) < kOverflowLimit)) throw EFloatOverflow();
  const uint32_t pattern = std::bit_cast<uint32_t>(static_cast<float>(intermediate)) & ~1u;
  const DeviceFloatBytes bytes{static_cast<uint8_t>(pattern >> 8), static_cast<uint8_t>(pattern),
                               static_cast<uint8_t>(pattern >> 24),
                               static_cast<uint8_t>(pattern >> 16)};
  // Rounding to binary32 can carry a value just below 2^127 up to it.
  if (ExponentField(bytes[2], bytes[3]) >= kFirstUnreadableExponent) throw EFloatOverflow();
  return bytes;
}
