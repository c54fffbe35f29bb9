#include "adapter.h"

#include "state_file.h"

namespace sim {
namespace {

constexpr int kFirstParamRegister = 257;
constexpr int kLastParamRegister = kFirstParamRegister + 2 * kParamCount - 1;
constexpr int kPassThroughRegister = 373;
constexpr int kAddressRegister = 375;
constexpr int kIdentityBlockSize = 7;

constexpr std::uint16_t kFamily = 8;  // the adapter family number
constexpr std::uint16_t kChannels = 3;
constexpr std::uint16_t kVersion = 0x0100;
constexpr std::uint16_t kSimulatorMark = 0x5349;  // "SI": tells a simulator from a device

int word(std::span<const std::uint8_t> pdu, std::size_t at) { return pdu[at] << 8 | pdu[at + 1]; }

void appendWord(Bytes& bytes, std::uint16_t value) {
  bytes.push_back(value >> 8);
  bytes.push_back(value & 0xFF);
}

bool isParamRegister(int reg) { return reg >= kFirstParamRegister && reg <= kLastParamRegister; }

// The two bytes behind a parameter register, high byte first.
template <class M>
auto paramWord(M& memory, int reg) {
  const int offset = reg - kFirstParamRegister;
  return std::span(memory.params[offset / 2]).subspan(2 * (offset % 2), 2);
}

}  // namespace

Bytes exceptionAnswer(std::uint8_t function, std::uint8_t code) {
  return {std::uint8_t(function | 0x80), code};
}

Adapter::Adapter(Memory memory, std::string statePath)
    : memory_(std::move(memory)), statePath_(std::move(statePath)) {}

Bytes Adapter::serve(std::span<const std::uint8_t> pdu) {
  Bytes answer;
  switch (pdu[0]) {
    case 3:
      answer = readRegisters(pdu);
      break;
    case 6:
      answer = writeSingle(pdu);
      break;
    case 16:
      answer = writeMultiple(pdu);
      break;
    default:
      return exceptionAnswer(pdu[0], kIllegalFunction);
  }
  if (changed_) save();
  changed_ = false;
  return answer;
}

std::optional<int> Adapter::finishRequest() {
  const std::optional<int> taken = pendingAddress_;
  pendingAddress_.reset();
  if (taken) memory_.address = *taken;
  return taken;
}

// A new address is stored with the write, like every other change, although
// the adapter only takes it once its answer has gone out.
void Adapter::save() const {
  if (statePath_.empty()) return;
  Memory stored = memory_;
  stored.address = pendingAddress_.value_or(memory_.address);
  saveState(statePath_, stored);
}

Bytes Adapter::readRegisters(std::span<const std::uint8_t> pdu) const {
  if (pdu.size() != 5) return exceptionAnswer(3, kIllegalValue);
  const int first = word(pdu, 1), count = word(pdu, 3);
  if (count < 1 || count > 125) return exceptionAnswer(3, kIllegalValue);
  Bytes answer = {3, std::uint8_t(2 * count)};
  for (int reg = first; reg < first + count; ++reg) {
    const auto value = readRegister(reg);
    if (!value) return exceptionAnswer(3, kIllegalAddress);
    appendWord(answer, *value);
  }
  return answer;
}

Bytes Adapter::writeSingle(std::span<const std::uint8_t> pdu) {
  if (pdu.size() != 5) return exceptionAnswer(6, kIllegalValue);
  const int reg = word(pdu, 1);
  const auto value = std::uint16_t(word(pdu, 3));
  if (const std::uint8_t refusal = writeRefusal(reg, value)) return exceptionAnswer(6, refusal);
  writeRegister(reg, value);
  return Bytes(pdu.begin(), pdu.end());
}

Bytes Adapter::writeMultiple(std::span<const std::uint8_t> pdu) {
  if (pdu.size() < 6) return exceptionAnswer(16, kIllegalValue);
  const int first = word(pdu, 1), count = word(pdu, 3);
  if (count < 1 || count > 123 || pdu[5] != 2 * count || pdu.size() != 6u + 2 * count)
    return exceptionAnswer(16, kIllegalValue);
  if (!isParamRegister(first) || !isParamRegister(first + count - 1))
    return exceptionAnswer(16, kIllegalAddress);
  for (int i = 0; i < count; ++i) writeRegister(first + i, word(pdu, 6 + 2 * i));
  return Bytes(pdu.begin(), pdu.begin() + 5);
}

std::optional<std::uint16_t> Adapter::readRegister(int reg) const {
  const std::uint32_t serial = lsbFirstValue(memory_.param(kSerialParam));
  const std::uint16_t identity[kIdentityBlockSize] = {kFamily,
                                                      kChannels,
                                                      kVersion,
                                                      std::uint16_t(memory_.address),
                                                      std::uint16_t(serial & 0xFFFF),
                                                      std::uint16_t(serial >> 16),
                                                      kSimulatorMark};
  if (reg >= 0 && reg < kIdentityBlockSize) return identity[reg];
  if (reg == kAddressRegister) return memory_.address;
  if (!isParamRegister(reg)) return std::nullopt;
  const auto bytes = paramWord(memory_, reg);
  return std::uint16_t(bytes[0] << 8 | bytes[1]);
}

std::uint8_t Adapter::writeRefusal(int reg, std::uint16_t value) const {
  if (reg == kPassThroughRegister) return value == 1 ? 0 : kIllegalValue;
  if (reg == kAddressRegister) return value >= 1 && value <= 247 ? 0 : kIllegalValue;
  return kIllegalAddress;
}

void Adapter::writeRegister(int reg, std::uint16_t value) {
  if (reg == kPassThroughRegister) {
    passThrough_ = true;
  } else if (reg == kAddressRegister) {
    pendingAddress_ = value;
    changed_ = true;
  } else {
    const auto bytes = paramWord(memory_, reg);
    bytes[0] = value >> 8;
    bytes[1] = value & 0xFF;
    changed_ = true;
  }
}

}  // namespace sim
