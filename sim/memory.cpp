#include "memory.h"

#include "crc.h"

#include <bit>
#include <cstdio>
#include <vector>

namespace sim {
namespace {

// The values the calibration window offers as its initial set; channel 2's
// bounds (85 and -40) are kept with 100 added.
constexpr std::array<float, kFloatParamCount> kFactoryFloats = {1010, 630, 16,  4,   185, 60,
                                                                16,   4,   200, 1.5, 16,  4};
constexpr std::uint32_t kFactorySerial = 101001;

constexpr std::array<const char*, kFloatParamCount> kFloatMeanings = {
    "channel 1, value at 20 mA",        "channel 1, value at 4 mA",
    "channel 1, current at code 16 mA", "channel 1, current at code 4 mA",
    "channel 2, value at 20 mA",        "channel 2, value at 4 mA",
    "channel 2, current at code 16 mA", "channel 2, current at code 4 mA",
    "channel 3, value at 20 mA",        "channel 3, value at 4 mA",
    "channel 3, current at code 16 mA", "channel 3, current at code 4 mA"};

std::string formatted(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

bool storedPlus100(int index) { return index == 5 || index == 6; }

std::string describeFloat(const Memory& memory, int index) {
  const float value = floatValue(memory.param(index));
  std::string text = formatted("float %.9g", value);
  if (storedPlus100(index)) text += formatted(" (shown as %.9g)", value - 100.0);
  return text + ": " + kFloatMeanings[index - 1];
}

std::string describeChecksum(const Memory& memory) {
  const std::uint16_t crc = imageCrc(memory);
  const ParamBytes& stored = memory.param(kChecksumParam);
  const bool matches = stored[0] == 0xFF && stored[1] == 0x00 && stored[2] == (crc & 0xFF) &&
                       stored[3] == (crc >> 8);
  return matches ? "checksum: matches parameters 1..15"
                 : formatted("checksum: DOES NOT MATCH, parameters 1..15 give FF 00 %02X %02X",
                             crc & 0xFF, crc >> 8);
}

}  // namespace

ParamBytes floatBytes(float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  return {std::uint8_t(bits >> 8), std::uint8_t(bits), std::uint8_t(bits >> 24),
          std::uint8_t(bits >> 16)};
}

float floatValue(const ParamBytes& b) {
  return std::bit_cast<float>(std::uint32_t(b[2]) << 24 | std::uint32_t(b[3]) << 16 |
                              std::uint32_t(b[0]) << 8 | b[1]);
}

ParamBytes lsbFirstBytes(std::uint32_t value) {
  return {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16),
          std::uint8_t(value >> 24)};
}

std::uint32_t lsbFirstValue(const ParamBytes& b) {
  return b[0] | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

std::uint32_t dosStamp(std::time_t moment) {
  std::tm t{};
#ifdef _WIN32
  localtime_s(&t, &moment);  // the same thread-safe conversion, argument order swapped
#else
  localtime_r(&moment, &t);
#endif
  const int year = t.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  const std::uint32_t date = (year - 1980) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday;
  const std::uint32_t time = t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2;
  return date << 16 | time;
}

std::string stampText(std::uint32_t stamp) {
  const std::uint32_t date = stamp >> 16, time = stamp & 0xFFFF;
  return formatted("%02u/%02u/%u(%02u:%02u:%02u)", date & 31, (date >> 5) & 15, (date >> 9) + 1980,
                   time >> 11, (time >> 5) & 63, (time & 31) * 2);
}

std::uint16_t imageCrc(const Memory& memory) {
  std::vector<std::uint8_t> image(3, 0);
  for (int index = 1; index < kChecksumParam; ++index)
    image.insert(image.end(), memory.param(index).begin(), memory.param(index).end());
  image.push_back(memory.param(kChecksumParam)[0]);
  image.push_back(memory.param(kChecksumParam)[1]);
  return crc16(image);
}

Memory factoryMemory(int address, std::time_t now) {
  Memory memory;
  memory.address = address;
  for (int index = 1; index <= kFloatParamCount; ++index)
    memory.param(index) = floatBytes(kFactoryFloats[index - 1]);
  memory.param(kSerialParam) = lsbFirstBytes(kFactorySerial);
  memory.param(kStampParam) = lsbFirstBytes(dosStamp(now));
  memory.param(kAddressParam) = {0, std::uint8_t(address), 0, 0};
  memory.param(kChecksumParam) = {0xFF, 0x00, 0, 0};
  const std::uint16_t crc = imageCrc(memory);
  memory.param(kChecksumParam)[2] = crc & 0xFF;
  memory.param(kChecksumParam)[3] = crc >> 8;
  return memory;
}

std::string describeParam(const Memory& memory, int index) {
  const ParamBytes& bytes = memory.param(index);
  switch (index) {
    case kSerialParam:
      return formatted("serial number %d", std::int32_t(lsbFirstValue(bytes)));
    case kStampParam:
      return "date of the last write " + stampText(lsbFirstValue(bytes));
    case kAddressParam:
      return formatted("address copy %u", bytes[1]);
    case kChecksumParam:
      return describeChecksum(memory);
    default:
      return describeFloat(memory, index);
  }
}

}  // namespace sim
