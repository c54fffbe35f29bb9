#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <QFile>

#include <bit>

namespace {

std::uint16_t Crc16Modbus(const auto& bytes) {
  std::uint16_t crc = 0xFFFF;
  for (const auto byte : bytes) {
    crc ^= static_cast<std::uint8_t>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xA001 : 0);
  }
  return crc;
}

// Appends the CRC, low byte first, as it travels on the line.
template <typename Frame>
Frame AppendCrc(Frame frame) {
  const std::uint16_t crc = Crc16Modbus(frame);
  frame.push_back(static_cast<typename Frame::value_type>(crc & 0xFF));
  frame.push_back(static_cast<typename Frame::value_type>(crc >> 8));
  return frame;
}

}  // namespace

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

std::string FileBytes(const std::string& path) {
  return FileBytes(QString::fromStdString(path)).toStdString();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  file.write(bytes);
}

std::string WithCrc(std::string bytes) { return AppendCrc(std::move(bytes)); }

std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> bytes) {
  return AppendCrc(std::move(bytes));
}

std::array<std::uint8_t, 4> AdapterFloatBytes(float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value) & ~1u;
  return {std::uint8_t(bits >> 8), std::uint8_t(bits), std::uint8_t(bits >> 24),
          std::uint8_t(bits >> 16)};
}

float AdapterFloat(const std::array<std::uint8_t, 4>& b) {
  return std::bit_cast<float>(std::uint32_t(b[2]) << 24 | std::uint32_t(b[3]) << 16 |
                              std::uint32_t(b[0]) << 8 | b[1]);
}

std::uint32_t LsbFirstValue(const std::array<std::uint8_t, 4>& b) {
  return b[0] | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}
