#include "modbus/mbap.h"

#include "modbus/exchange_state.h"
#include "modbus/register_map.h"

#include <utility>

namespace {

constexpr size_t kRefusalLength = 3;      // unit, function with the exception flag, code
constexpr size_t kWriteAnswerLength = 6;  // unit, function, register, value or count
constexpr uint8_t kPathUnavailable = 0x0A;
constexpr uint8_t kTargetFailedToRespond = 0x0B;

uint8_t Byte(std::string_view bytes, size_t i) { return static_cast<uint8_t>(bytes[i]); }

uint16_t Word(std::string_view bytes, size_t i) {
  return static_cast<uint16_t>(Byte(bytes, i) << 8 | Byte(bytes, i + 1));
}

void AppendWord(std::string& bytes, size_t value) {
  bytes += static_cast<char>((value >> 8) & 0xFF);
  bytes += static_cast<char>(value & 0xFF);
}

// The length field of an answer to `request` (an RTU frame) that is not a
// refusal, for the functions the tool sends; nothing for another.
std::optional<size_t> AnswerLength(std::string_view request) {
  if (request.size() < 8) return std::nullopt;
  switch (Byte(request, 1)) {
    case kReadRegisters:
      return 3 + 2 * size_t{Word(request, 4)};  // unit, function, byte count, the registers
    case kWriteRegister:
    case kWriteRegisters:
      return kWriteAnswerLength;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<uint8_t> GatewayExceptionCode(std::string_view rtu) {
  if (rtu.size() != kRefusalLength + 2 || !(Byte(rtu, 1) & kExceptionFlag)) return std::nullopt;
  const uint8_t code = Byte(rtu, 2);
  if (code != kPathUnavailable && code != kTargetFailedToRespond) return std::nullopt;
  return code;
}

std::string MbapFraming::Wrap(std::string_view rtuFrame) {
  const std::string_view unitAndPdu = rtuFrame.substr(0, rtuFrame.size() - 2);
  std::string adu;
  AppendWord(adu, next_);
  AppendWord(adu, 0);  // the Modbus protocol
  AppendWord(adu, unitAndPdu.size());
  adu += unitAndPdu;
  request_ = rtuFrame;
  awaited_ = next_++;
  return adu;
}

std::vector<MbapAdu> MbapFraming::Take(std::string_view bytes) {
  std::vector<MbapAdu> adus;
  partial_ += bytes;
  while (partial_.size() >= kHeaderBytes) {
    const size_t length = Word(partial_, 4);
    if (Word(partial_, 2) != 0 || length < 2 || length > kMaxLength) {
      MbapAdu dropped;
      dropped.transaction = Word(partial_, 0);
      dropped.wire = std::exchange(partial_, {});
      dropped.verdict = MbapVerdict::BadHeader;
      adus.push_back(std::move(dropped));
      break;
    }
    const size_t size = kHeaderBytes - 1 + length;
    if (partial_.size() < size) break;
    adus.push_back(Judge(partial_.substr(0, size)));
    partial_.erase(0, size);
  }
  return adus;
}

std::optional<MbapAdu> MbapFraming::DropPartial() {
  if (partial_.empty()) return std::nullopt;
  MbapAdu adu;
  adu.wire = std::exchange(partial_, {});
  if (adu.wire.size() >= 2) adu.transaction = Word(adu.wire, 0);
  return adu;
}

MbapAdu MbapFraming::Judge(std::string wire) const {
  MbapAdu adu;
  adu.wire = std::move(wire);
  adu.verdict = MbapVerdict::Answer;
  const std::string_view unitAndPdu = std::string_view(adu.wire).substr(kHeaderBytes - 1);
  adu.transaction = Word(adu.wire, 0);
  adu.unit = Byte(unitAndPdu, 0);
  adu.rtu = WithCrc(unitAndPdu);
  if (adu.transaction != awaited_) {
    adu.verdict = MbapVerdict::OtherTransaction;
  } else if (adu.unit != Byte(request_, 0)) {
    adu.verdict = MbapVerdict::WrongUnit;
  } else if (const bool refusal = Byte(unitAndPdu, 1) & kExceptionFlag;
             refusal ? unitAndPdu.size() != kRefusalLength
                     : AnswerLength(request_).value_or(unitAndPdu.size()) != unitAndPdu.size()) {
    adu.verdict = MbapVerdict::WrongLength;
  } else if (GatewayExceptionCode(adu.rtu)) {
    adu.verdict = MbapVerdict::GatewayFailure;
  }
  return adu;
}
