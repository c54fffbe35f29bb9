#pragma once
// CRC-16/MODBUS, written here independently of the tool's own.

#include <cstdint>
#include <span>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t crc16(std::span<const std::uint8_t> bytes);

// Appends the CRC, low byte first, as it travels on the line.
void appendCrc(Bytes& frame);

// True when the last two bytes are the CRC of the bytes before them.
bool crcMatches(std::span<const std::uint8_t> frame);

}  // namespace sim
