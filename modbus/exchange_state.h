#pragma once
// The state every Modbus exchange shares: the frame being built, the answer
// collected, its result code and the values decoded from the last parameter
// read. One exchange at a time uses it (see exchange_gate.h).

#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// ResponseStatus codes of a parameter read or write.
inline constexpr int32_t kStatusAccepted = 0;  // read: decoded; write: acknowledged
inline constexpr int32_t kStatusNoAnswer = 1;  // fewer than 3 bytes collected
inline constexpr int32_t kStatusRefused =
    2;  // an exception answer: the request was not carried out
inline constexpr int32_t kStatusBadAnswer = 5;  // CRC mismatch, oversize, too short, not the echo

// Whether the frame's last two bytes are the CRC-16/MODBUS of the bytes
// before them (low byte first); a frame shorter than 3 bytes has none.
bool CrcMatches(std::string_view frame);
// The frame with its CRC-16/MODBUS appended, low byte first.
std::string WithCrc(std::string_view frame);

struct ExchangeState {
  static constexpr int kFrameSlots = 100;

  uint8_t DeviceAddress = 0;
  std::array<int32_t, kFrameSlots> TxFrame{};  // one byte value per slot
  int32_t FrameLength = 0;                     // slots the next send transmits
  std::string ResponseText;                    // every byte collected, in arrival order
  int32_t ResponseStatus = 0;
  int32_t ParamIndex = 0;
  double ParamValue = 0.0;
  int32_t SerialNumber = 0;
  QString StampText;

  // CRC-16/MODBUS over the first n slots (n <= 0: 0xFFFF; n is capped at the
  // buffer size). Sent low byte first.
  uint16_t ModbusCrc16(int n) const;

  // Puts the CRC of slots 0..n-1 into slots n (low byte) and n+1 (high byte)
  // and makes the frame n + 2 slots long.
  void AppendCrc(int n);

  // Whether ResponseText is a CRC-correct answer: 3..102 bytes whose last two
  // are the CRC of the bytes before them. Its bytes are copied into TxFrame
  // (as many as fit) for the check. A longer answer cannot be checked in the
  // buffer and is never taken as correct.
  bool ResponseCrcMatches();
};
