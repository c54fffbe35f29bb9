#pragma once
// The adapter's Modbus vocabulary: its addresses and the registers every frame
// the tool builds names.

#include <cstdint>

// Slave addresses: 0 reaches every adapter and is answered by none.
inline constexpr int kBroadcastAddress = 0;
inline constexpr int kFirstAdapterAddress = 1;
inline constexpr int kLastAdapterAddress = 247;  // the highest unicast address

// A unicast address: an adapter given any other can no longer be reached.
constexpr bool IsAdapterAddress(int32_t address) {
  return address >= kFirstAdapterAddress && address <= kLastAdapterAddress;
}

// Function codes the tool sends.
inline constexpr int kReadRegisters = 0x03;
inline constexpr int kWriteRegister = 0x06;
inline constexpr int kWriteRegisters = 0x10;
inline constexpr int kExceptionFlag = 0x80;  // set in the function code of a refusal

// The identity block the probe reads: seven registers from 0.
inline constexpr uint16_t kProbeRegister = 0;
inline constexpr uint16_t kProbeRegisterCount = 7;

// Parameter i (1..16) sits in the two registers from 255 + 2 i.
inline constexpr uint16_t kParamRegisterBase = 255;
inline constexpr uint16_t kParamRegisterCount = 2;
constexpr uint16_t ParamRegister(int index) {
  return static_cast<uint16_t>(kParamRegisterBase + 2 * index);
}

// Writing 1 here switches the adapter to byte-wise pass-through.
inline constexpr uint16_t kPassThroughRegister = 373;
// The adapter's own address.
inline constexpr uint16_t kAddressRegister = 375;
