#include "modbus/requests.h"

#include "modbus/delay.h"
#include "modbus/device_float.h"
#include "modbus/stamp.h"
#include "serial/comport.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

constexpr int kCollectPolls = 300;
constexpr int kMaxReads = 300;
constexpr int kSilenceMs = 80;
// Address, function, byte count, the four data bytes and the CRC.
constexpr size_t kParameterAnswerLength = 9;

constexpr int High(uint16_t value) { return value >> 8; }
constexpr int Low(uint16_t value) { return value & 0xFF; }

std::unique_ptr<ModbusRequests>& BoundRequests() {
  static std::unique_ptr<ModbusRequests> requests;
  return requests;
}

}  // namespace

ModbusRequests::ModbusRequests(TCustomComPort& port, ExchangeState& exchange, ParamData& params)
    : port_(port), exchange_(exchange), params_(params) {}

void ModbusRequests::SendFrame() {
  std::array<uint8_t, ExchangeState::kFrameSlots> buffer{};
  const int length = std::clamp(exchange_.FrameLength, 0, ExchangeState::kFrameSlots);
  for (int i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(exchange_.TxFrame[i]);
  port_.WriteBytes(buffer.data(), length);
}

void ModbusRequests::Send(std::initializer_list<int> body) {
  std::copy(body.begin(), body.end(), exchange_.TxFrame.begin());
  exchange_.AppendCrc(static_cast<int>(body.size()));
  SendFrame();
}

void ModbusRequests::SendOwnFrame(std::initializer_list<int> body) {
  Send(body);
  ReadDataModbus();
}

void ModbusRequests::WriteSingleRegister(uint16_t reg, uint16_t value) {
  Send({exchange_.DeviceAddress, 0x06, High(reg), Low(reg), High(value), Low(value)});
  Delay(50);
  CollectResponse();
  Delay(10);
}

void ModbusRequests::WriteParameter() {
  const uint16_t reg = ParamRegister(exchange_.ParamIndex);
  const auto data = params_.ParamImage.begin() + ParamByteOffset(exchange_.ParamIndex);
  Send({exchange_.DeviceAddress, 0x10, High(reg), Low(reg), 0x00, 0x02, 0x04, data[0], data[1],
        data[2], data[3]});
  Delay(80);
  CollectResponse();
  Delay(20);
}

void ModbusRequests::ReadParameter(int32_t mode) {
  if (mode == 0) {
    const uint16_t reg = ParamRegister(exchange_.ParamIndex);
    const int rawOffset = ParamByteOffset(exchange_.ParamIndex);
    Send({exchange_.DeviceAddress, 0x03, High(reg), Low(reg), 0x00, 0x02});
    Delay(100);
    CollectResponse();
    Delay(20);
    CheckParameterAnswer(rawOffset);
  } else if (mode == 1) {
    Send({exchange_.DeviceAddress, 0x03, 0x00, 0x00, 0x00, 0x07});
    Delay(50);
    CollectResponse();
  }
}

void ModbusRequests::CheckParameterAnswer(int rawOffset) {
  ExchangeState& x = exchange_;
  const std::string& answer = x.ResponseText;
  const auto byte = [&answer](size_t i) { return static_cast<uint8_t>(answer[i]); };
  x.ResponseStatus = kStatusAccepted;
  if (answer.size() < 3) {
    x.ResponseStatus = kStatusNoAnswer;
    return;
  }
  if (!x.ResponseCrcMatches()) {
    x.ResponseStatus = kStatusBadAnswer;
    return;
  }
  if (byte(1) & 0x80) return;  // an exception answer decodes nothing
  if (answer.size() < kParameterAnswerLength) {
    x.ResponseStatus = kStatusBadAnswer;
    return;
  }
  const uint8_t d[4] = {byte(3), byte(4), byte(5), byte(6)};
  const int index = x.ParamIndex;
  if (IsFloatParam(index)) x.ParamValue = DeviceFloatToDouble(d[0], d[1], d[2], d[3]);
  // Serial number, stamp and address parameters all leave their bytes here.
  if (index >= 13 && index <= 15)
    x.SerialNumber = static_cast<int32_t>(d[0] | d[1] << 8 | d[2] << 16 | uint32_t(d[3]) << 24);
  if (index == 14) x.StampText = StampToText(d[0], d[1], d[2], d[3]);
  std::copy(d, d + 4, params_.ParamRaw.begin() + rawOffset);
}

void ModbusRequests::CollectResponse() {
  exchange_.ResponseText.clear();
  for (int poll = 0; poll < kCollectPolls; ++poll)
    exchange_.ResponseText += port_.ReadBytes(port_.PendingInputCount());
}

void ModbusRequests::ReadDataModbus() {
  exchange_.ResponseText.clear();
  TComEvents events{evRxChar};
  int reads = 0;
  do {
    try {
      port_.WaitForEvent(events, stopEvent_, kSilenceMs);
    } catch (const EComPort&) {
      // A failed wait counts as whatever the set held before.
    }
    if (events.contains(evRxChar)) {
      exchange_.ResponseText += port_.ReadBytes(port_.PendingInputCount());
      ++reads;
    }
  } while (!events.empty() && reads < kMaxReads);
}

void BindRequests(TCustomComPort* port) {
  BoundRequests() = port ? std::make_unique<ModbusRequests>(*port) : nullptr;
}

ModbusRequests& Requests() {
  if (!BoundRequests()) throw std::logic_error("Modbus requests are not bound to a port");
  return *BoundRequests();
}
