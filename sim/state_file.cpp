#include "state_file.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sim {
namespace {

constexpr const char* kHeader =
    "# tl8sim adapter memory. Rewritten by the simulator on every change.\n"
    "# \"address N\" is the Modbus slave address the adapter answers at.\n"
    "# \"pN\" holds parameter N's four bytes d0 d1 d2 d3 in line order\n"
    "# (registers 255+2N and 256+2N, d0 = high byte of the first one).\n"
    "# Floats: IEEE binary32, first register = low half. Serial number and\n"
    "# date: least significant byte first. \"#\" starts a comment.\n";

std::string paramLine(const Memory& memory, int index) {
  const ParamBytes& b = memory.param(index);
  char bytes[40];
  std::snprintf(bytes, sizeof bytes, "p%-3d %02X %02X %02X %02X  # ", index, b[0], b[1], b[2],
                b[3]);
  return bytes + describeParam(memory, index) + "\n";
}

[[noreturn]] void fail(const std::string& path, int line, const std::string& what) {
  throw std::runtime_error("state file " + path + ", line " + std::to_string(line) + ": " + what);
}

int parseInt(const std::string& text, int base, int low, int high) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used, base);
  } catch (const std::exception&) {
    return -1;
  }
  return used == text.size() && value >= low && value <= high ? value : -1;
}

ParamBytes parseBytes(std::istringstream& words, const std::string& path, int line) {
  ParamBytes bytes{};
  for (auto& byte : bytes) {
    std::string word;
    words >> word;
    const int value = parseInt(word, 16, 0, 255);
    if (value < 0) fail(path, line, "expected four hex bytes, got \"" + word + "\"");
    byte = std::uint8_t(value);
  }
  return bytes;
}

}  // namespace

Memory loadState(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read state file " + path);
  return parseState(in, path);
}

Memory parseState(std::istream& in, const std::string& path) {
  Memory memory;
  std::array<bool, kParamCount> seen{};
  bool addressSeen = false;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    std::istringstream words(text.substr(0, text.find('#')));
    std::string key;
    if (!(words >> key)) continue;
    if (key == "address") {
      std::string word;
      words >> word;
      memory.address = parseInt(word, 10, 1, 247);
      if (memory.address < 0) fail(path, line, "the address must be 1..247");
      addressSeen = true;
    } else if (const int index = key[0] == 'p' ? parseInt(key.substr(1), 10, 1, kParamCount) : -1;
               index > 0) {
      memory.param(index) = parseBytes(words, path, line);
      seen[index - 1] = true;
    } else {
      fail(path, line, "unknown key \"" + key + "\"");
    }
    std::string extra;
    if (words >> extra) fail(path, line, "unexpected \"" + extra + "\"");
  }
  if (!addressSeen) throw std::runtime_error("state file " + path + ": no \"address\" line");
  for (int index = 1; index <= kParamCount; ++index)
    if (!seen[index - 1])
      throw std::runtime_error("state file " + path + ": no line for p" + std::to_string(index));
  return memory;
}

std::string stateText(const Memory& memory) {
  std::string text = kHeader;
  text += "\naddress " + std::to_string(memory.address) + "\n\n";
  for (int index = 1; index <= kParamCount; ++index) text += paramLine(memory, index);
  return text;
}

void saveState(const std::string& path, const Memory& memory) {
  const std::string text = stateText(memory);
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write state file " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0)
    throw std::runtime_error("cannot replace state file " + path);
}

}  // namespace sim
