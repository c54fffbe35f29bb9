#include "gateway.h"

#include "journal.h"
#include "simulator.h"
#include "timing.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace sim {
namespace {

constexpr std::uint8_t kTargetFailedToRespond = 0x0B;
constexpr std::uint8_t kExceptionFlag = 0x80;
constexpr std::size_t kMaxLength = 254;  // the length field: unit and PDU

const double kCharacterMs = std::chrono::duration<double, std::milli>(kCharacterTime).count();

std::uint16_t word(const Bytes& bytes, std::size_t i) {
  return static_cast<std::uint16_t>(bytes[i] << 8 | bytes[i + 1]);
}

// An ADU with the request's transaction and unit around `pdu`.
Bytes replyAdu(const Bytes& request, const Bytes& pdu) {
  const std::size_t length = pdu.size() + 1;
  // Sized once and filled: GCC 12 at -O3 takes an insert after the header
  // for a write out of bounds (-Warray-bounds).
  Bytes adu(7 + pdu.size());
  adu[0] = request[0];
  adu[1] = request[1];
  adu[4] = static_cast<std::uint8_t>(length >> 8);
  adu[5] = static_cast<std::uint8_t>(length & 0xFF);
  adu[6] = request[6];
  std::copy(pdu.begin(), pdu.end(), adu.begin() + 7);
  return adu;
}

}  // namespace

Gateway::Gateway(Journal& journal, GatewaySetup setup) : journal_(journal), setup_(setup) {}

std::vector<Bytes> Gateway::take(const Bytes& bytes) {
  std::vector<Bytes> adus;
  stream_.insert(stream_.end(), bytes.begin(), bytes.end());
  while (stream_.size() >= kHeaderBytes) {
    const std::size_t length = word(stream_, 4);
    if (word(stream_, 2) != 0 || length < 2 || length > kMaxLength) {
      journal_.event("gateway: no Modbus TCP header, " + std::to_string(stream_.size()) +
                     " bytes dropped");
      stream_.clear();
      break;
    }
    const std::size_t size = kHeaderBytes - 1 + length;
    if (stream_.size() < size) break;
    adus.emplace_back(stream_.begin(), stream_.begin() + static_cast<std::ptrdiff_t>(size));
    stream_.erase(stream_.begin(), stream_.begin() + static_cast<std::ptrdiff_t>(size));
  }
  return adus;
}

Gateway::Reply Gateway::serve(Simulator& line, const Bytes& adu) {
  const std::uint8_t unit = adu[6];
  Bytes frame(adu.begin() + 6, adu.end());
  appendCrc(frame);
  const double requestMs = static_cast<double>(frame.size()) * kCharacterMs;
  if (unit == 0 && !setup_.passesBroadcasts) {
    journal_.event("gateway: broadcast not passed on");
    return {};
  }
  quietMs_ = 0;
  answer_.clear();
  line.serve(frame);
  if (unit == 0) return {requestMs, {}};  // nobody answers a broadcast
  if (answer_.empty()) return refusal(adu, requestMs + setup_.responseTimeoutMs, "no answer");
  if (quietMs_ > setup_.responseTimeoutMs)
    return refusal(adu, requestMs + setup_.responseTimeoutMs, "no answer in time");
  const double answeredMs =
      requestMs + quietMs_ + static_cast<double>(answer_.size()) * kCharacterMs;
  if (answer_.size() < 4 || answer_.size() > kMaxLength + 2 || answer_[0] != unit ||
      !crcMatches(answer_))
    return refusal(adu, answeredMs, "a garbled answer");
  return {answeredMs, replyAdu(adu, Bytes(answer_.begin() + 1, answer_.end() - 2))};
}

Gateway::Reply Gateway::refusal(const Bytes& adu, double afterMs, const char* why) {
  journal_.event("gateway: " + std::string(why) + " from unit " + std::to_string(adu[6]) +
                 ", exception 0B to transaction " + std::to_string(word(adu, 0)));
  return {afterMs, replyAdu(adu, {static_cast<std::uint8_t>(adu[7] | kExceptionFlag),
                                  kTargetFailedToRespond})};
}

bool Gateway::pause(double ms) {
  if (answer_.empty()) quietMs_ += ms;
  return true;
}

bool Gateway::send(const Bytes& bytes) {
  answer_.insert(answer_.end(), bytes.begin(), bytes.end());
  return true;
}

}  // namespace sim
