#include "modbus/exchange_state.h"

#include <algorithm>

uint16_t ExchangeState::ModbusCrc16(int n) const {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < std::min(n, kFrameSlots); ++i) {
    crc ^= static_cast<uint16_t>(TxFrame[i]);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
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
