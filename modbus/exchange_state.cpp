#include "modbus/exchange_state.h"

#include <algorithm>

namespace {

constexpr uint16_t kCrcStart = 0xFFFF;

// One more value (its low 16 bits) into the CRC-16/MODBUS register.
uint16_t CrcStep(uint16_t crc, uint16_t value) {
  crc ^= value;
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  return crc;
}

}  // namespace

bool CrcMatches(std::string_view frame) {
  if (frame.size() < 3) return false;
  uint16_t crc = kCrcStart;
  for (size_t i = 0; i + 2 < frame.size(); ++i) crc = CrcStep(crc, static_cast<uint8_t>(frame[i]));
  const auto byte = [frame](size_t i) { return static_cast<uint8_t>(frame[i]); };
  return byte(frame.size() - 2) == (crc & 0xFF) && byte(frame.size() - 1) == (crc >> 8);
}

std::string WithCrc(std::string_view frame) {
  uint16_t crc = kCrcStart;
  for (const char byte : frame) crc = CrcStep(crc, static_cast<uint8_t>(byte));
  std::string framed(frame);
  framed += static_cast<char>(crc & 0xFF);
  framed += static_cast<char>(crc >> 8);
  return framed;
}

uint16_t ExchangeState::ModbusCrc16(int n) const {
  uint16_t crc = kCrcStart;
  for (int i = 0; i < std::min(n, kFrameSlots); ++i)
    crc = CrcStep(crc, static_cast<uint16_t>(TxFrame[i]));
  return crc;
}

void ExchangeState::AppendCrc(int n) {
  const uint16_t crc = ModbusCrc16(n);
  TxFrame.at(n) = crc & 0xFF;
  TxFrame.at(n + 1) = crc >> 8;
  FrameLength = n + 2;
}

bool ExchangeState::ResponseCrcMatches() {
  const int length = static_cast<int>(ResponseText.size());
  if (length < 3 || length > kFrameSlots + 2) return false;
  const auto byte = [this](int i) { return static_cast<uint8_t>(ResponseText[i]); };
  for (int i = 0; i < std::min(length, kFrameSlots); ++i) TxFrame[i] = byte(i);
  const uint16_t crc = ModbusCrc16(length - 2);
  return byte(length - 2) == (crc & 0xFF) && byte(length - 1) == (crc >> 8);
}
