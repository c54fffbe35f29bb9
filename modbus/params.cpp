#include "modbus/params.h"

#include "modbus/device_float.h"
#include "modbus/number_text.h"
#include "modbus/stamp.h"

#include <stdexcept>

namespace {

constexpr ParamInfo kFloat2{ParamKind::Float, 0, 2};
constexpr ParamInfo kFloat4{ParamKind::Float, 0, 4};
constexpr ParamInfo kOffsetFloat2{ParamKind::Float, 100, 2};

constexpr std::array<ParamInfo, kParamCount> kParams{{
    kFloat2,
    kFloat2,
    kFloat4,
    kFloat4,  // channel 1
    kOffsetFloat2,
    kOffsetFloat2,
    kFloat4,
    kFloat4,  // channel 2
    kFloat2,
    kFloat2,
    kFloat4,
    kFloat4,  // channel 3
    {ParamKind::SerialNumber, 0, 0},
    {ParamKind::Stamp, 0, 0},
    {ParamKind::Address, 0, 0},
    {ParamKind::Checksum, 0, 0},
}};

// The image bytes the checksum covers, and where it goes.
constexpr int kChecksumFirst = 1;
constexpr int kChecksumCount = 65;
constexpr int kChecksumOffset = kChecksumFirst + kChecksumCount;

void PutLittleEndian(std::array<uint8_t, ParamData::kImageSize>& image, int offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t ImageCrc(const std::array<uint8_t, ParamData::kImageSize>& bytes,
                  ExchangeState& exchange) {
  for (int i = 0; i < kChecksumCount; ++i) exchange.TxFrame[i] = bytes[kChecksumFirst + i];
  return exchange.ModbusCrc16(kChecksumCount);
}

bool EncodeFloats(const ImageTexts& texts, ParamData& params) {
  for (int i = 1; i <= kFloatParamCount; ++i) {
    if (const auto field = texts.FloatFields.find(i); field != texts.FloatFields.end())
      params.ParamText[i] = field->second;
    const auto value = StrictToFloat(params.ParamText[i]);
    if (!value) return false;
    const DeviceFloatBytes bytes = DoubleToDeviceFloat(*value + ParamInfoOf(i).offset);
    std::copy(bytes.begin(), bytes.end(), params.ParamImage.begin() + ParamByteOffset(i));
  }
  return true;
}

}  // namespace

const ParamInfo& ParamInfoOf(int index) { return kParams.at(index - 1); }

bool IsFloatParam(int index) {
  return index >= 1 && index <= kParamCount && ParamInfoOf(index).kind == ParamKind::Float;
}

int ParamByteOffset(int index) {
  const int offset = static_cast<uint16_t>(4 * index);
  if (offset + 3 >= ParamData::kImageSize) throw std::out_of_range("parameter index out of range");
  return offset;
}

QString ParamShownText(int index, double deviceValue) {
  const ParamInfo& info = ParamInfoOf(index);
  return FixedText(deviceValue - info.offset, info.decimals);
}

QString ParamTableText(int index, double deviceValue) {
  return FixedText(deviceValue - ParamInfoOf(index).offset, 4);
}

bool BuildParamImage(const ImageTexts& texts, ParamData& params, ExchangeState& exchange) {
  params.ParamImage.fill(0);
  const auto serial = StrictToInt(texts.SerialNumber);
  const auto address = StrictToInt(texts.Address);
  if (!EncodeFloats(texts, params) || !serial || !address) return false;
  auto& image = params.ParamImage;
  PutLittleEndian(image, ParamByteOffset(kSerialNumberParam), static_cast<uint32_t>(*serial));
  PutLittleEndian(image, ParamByteOffset(kStampParam), MakeStamp(texts.Moment));
  image[ParamByteOffset(kAddressCopyParam) + 1] = static_cast<uint8_t>(*address);
  image[ParamByteOffset(kChecksumParam)] = 0xFF;
  image[ParamByteOffset(kChecksumParam) + 1] = 0x00;
  const uint16_t crc = ImageCrc(image, exchange);
  image[kChecksumOffset] = crc & 0xFF;
  image[kChecksumOffset + 1] = crc >> 8;
  return true;
}

bool ChecksumVerify(const ParamData& params, ExchangeState& exchange) {
  if (params.ReadFailed != 0) return true;
  const uint16_t crc = ImageCrc(params.ParamRaw, exchange);
  return params.ParamRaw[kChecksumOffset] == (crc & 0xFF) &&
         params.ParamRaw[kChecksumOffset + 1] == (crc >> 8);
}
