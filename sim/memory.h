#pragma once
// The adapter's non-volatile memory: its Modbus address and sixteen
// parameters of four bytes each, kept in the order they travel on the line
// (d0 is the high byte of the parameter's first register).

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace sim {

using ParamBytes = std::array<std::uint8_t, 4>;

constexpr int kParamCount = 16;
constexpr int kFloatParamCount = 12;
constexpr int kSerialParam = 13;
constexpr int kStampParam = 14;
constexpr int kAddressParam = 15;
constexpr int kChecksumParam = 16;

struct Memory {
  int address = 1;
  std::array<ParamBytes, kParamCount> params{};

  ParamBytes& param(int index) { return params.at(index - 1); }
  const ParamBytes& param(int index) const { return params.at(index - 1); }
};

// The calibration values of a new adapter, for the given address, stamped
// with the given moment.
Memory factoryMemory(int address, std::time_t now);

// The device float: IEEE binary32 with its low half in the first register.
ParamBytes floatBytes(float value);
float floatValue(const ParamBytes& bytes);

// The serial number and the stamp are 32-bit values, least significant byte first.
ParamBytes lsbFirstBytes(std::uint32_t value);
std::uint32_t lsbFirstValue(const ParamBytes& bytes);

// MS-DOS date/time: date word in the high half, time word in the low half.
std::uint32_t dosStamp(std::time_t moment);
std::string stampText(std::uint32_t stamp);

// CRC over the 65 checksummed image bytes: three zero bytes, parameters 1..15
// and the first two bytes of parameter 16.
std::uint16_t imageCrc(const Memory& memory);

// What a parameter means to a person reading the state file.
std::string describeParam(const Memory& memory, int index);

}  // namespace sim
