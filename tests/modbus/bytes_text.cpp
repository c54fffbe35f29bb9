#include "tests/modbus/bytes_text.h"

#include <sstream>

std::string Bytes(const std::string& hex) {
  std::istringstream in(hex);
  std::string bytes;
  for (unsigned value; in >> std::hex >> value;) bytes += static_cast<char>(value);
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}
