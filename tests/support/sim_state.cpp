#include "tests/support/sim_state.h"

#include "tests/support/test_data.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tl8test {
namespace {

std::uint8_t hexByte(const std::string& word, const std::string& where) {
  std::size_t used = 0;
  int value = -1;
  try {
    value = std::stoi(word, &used, 16);
  } catch (const std::exception&) {
  }
  if (word.size() != 2 || used != 2 || value < 0)
    throw std::runtime_error(where + ": \"" + word + "\" is not a hex byte");
  return std::uint8_t(value);
}

}  // namespace

std::array<std::uint8_t, 4> SimState::expectedChecksum() const {
  std::vector<std::uint8_t> image(3, 0);
  for (int index = 1; index <= 15; ++index)
    image.insert(image.end(), param(index).begin(), param(index).end());
  image.insert(image.end(), {0xFF, 0x00});
  const std::vector<std::uint8_t> checked = WithCrc(image);
  std::array<std::uint8_t, 4> expected{};
  std::copy(checked.end() - 4, checked.end(), expected.begin());
  return expected;
}

SimState loadSimState(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  SimState state;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    std::istringstream words(text.substr(0, text.find('#')));
    const std::string where = path + ":" + std::to_string(line);
    std::string key;
    if (!(words >> key)) continue;
    if (key == "address") {
      words >> state.address;
    } else if (const int index = key[0] == 'p' ? std::atoi(key.c_str() + 1) : 0;
               index >= 1 && index <= 16) {
      std::array<std::uint8_t, 4> bytes{};
      for (auto& byte : bytes) {
        std::string word;
        words >> word;
        byte = hexByte(word, where);
      }
      state.params[index - 1] = bytes;
    } else {
      throw std::runtime_error(where + ": unknown key " + key);
    }
  }
  return state;
}

std::vector<SimJournalEntry> loadSimJournal(const std::string& path) {
  std::ifstream in(path);
  return readSimJournal(in, path);
}

std::vector<SimJournalEntry> readSimJournal(std::istream& in, const std::string& where) {
  std::vector<SimJournalEntry> entries;
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream words(text);
    SimJournalEntry entry;
    if (!(words >> entry.ms >> entry.direction)) continue;
    std::string word;
    while (entry.direction != "--" && words >> word && word != "#")
      entry.bytes.push_back(hexByte(word, where));
    std::getline(words >> std::ws, entry.note);
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace tl8test
