#pragma once
// Data helpers the test programs share: whole files, Modbus frames and the
// adapter's stored values, each made here independently of the tool's code
// (the simulator's tests use them too and must not depend on the tool).

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The whole file's bytes, or "<unreadable>" when it cannot be read.
QByteArray FileBytes(const QString& path);
std::string FileBytes(const std::string& path);
// Replaces the file's content; fails the running test when it cannot.
void WriteFile(const QString& path, const QByteArray& bytes);

// The bytes followed by their CRC-16/MODBUS, low byte first. The CRC is the
// tests' own reference: answers may be longer than the tool's frame buffer.
std::string WithCrc(std::string bytes);
std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> bytes);

// The adapter's float as it lies in its memory: IEEE binary32, low half first,
// lowest bit cleared.
std::array<std::uint8_t, 4> AdapterFloatBytes(float value);
// The float four stored bytes hold (the reverse, all bits taken).
float AdapterFloat(const std::array<std::uint8_t, 4>& bytes);
// A 32-bit value stored least significant byte first (serial number, stamp).
std::uint32_t LsbFirstValue(const std::array<std::uint8_t, 4>& bytes);
