#pragma once
// One simulated adapter: its memory and the Modbus functions it serves.
//
// Registers:   0..6     identity block (read only, see README)
//              257..288 parameters 1..16, two registers each
//              373      write 1: switch to byte-wise pass-through
//              375      the adapter's address, 1..247
// Function 3 reads any of these; function 6 writes 373 and 375, function 16
// the parameters. Anything else is answered with an exception.

#include "crc.h"
#include "memory.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sim {

class Adapter {
 public:
  // An empty state path keeps the memory in the process only.
  Adapter(Memory memory, std::string statePath);

  int address() const { return memory_.address; }
  const std::string& statePath() const { return statePath_; }
  const Memory& memory() const { return memory_; }

  // Carries out a request (function code and data, without address and CRC)
  // and returns the answer in the same form. Every write reaches the state
  // file before this returns, but a new address is taken only by
  // finishRequest(), after the answer has gone out from the old one.
  Bytes serve(std::span<const std::uint8_t> pdu);

  // Takes the address written by the last request, if any; returns it.
  std::optional<int> finishRequest();

  bool passThroughRequested() const { return passThrough_; }

  void save() const;

 private:
  Bytes readRegisters(std::span<const std::uint8_t> pdu) const;
  Bytes writeSingle(std::span<const std::uint8_t> pdu);
  Bytes writeMultiple(std::span<const std::uint8_t> pdu);
  std::optional<std::uint16_t> readRegister(int reg) const;
  // Why function 6 may not write this value here (an exception code), or 0.
  std::uint8_t writeRefusal(int reg, std::uint16_t value) const;
  void writeRegister(int reg, std::uint16_t value);

  Memory memory_;
  std::string statePath_;
  std::optional<int> pendingAddress_;
  bool passThrough_ = false;
  bool changed_ = false;
};

// Modbus exception codes.
constexpr std::uint8_t kIllegalFunction = 1;
constexpr std::uint8_t kIllegalAddress = 2;
constexpr std::uint8_t kIllegalValue = 3;

Bytes exceptionAnswer(std::uint8_t function, std::uint8_t code);

}  // namespace sim
