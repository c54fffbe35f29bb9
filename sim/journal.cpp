#include "journal.h"

#include <stdexcept>

namespace sim {

Journal::Journal(const std::string& path) {
  now_ = [start = std::chrono::steady_clock::now()] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  };
  if (path.empty()) return;
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) throw std::runtime_error("cannot write journal " + path);
}

Journal::Journal(TimeSource now) : inMemory_(true), now_(std::move(now)) {}

Journal::~Journal() {
  if (file_) std::fclose(file_);
}

void Journal::write(const char* direction, const Bytes& bytes, const std::string& note) {
  if (!file_ && !inMemory_) return;
  char text[32];
  std::snprintf(text, sizeof text, "%.3f %s", now_(), direction);
  std::string line = text;
  for (std::uint8_t byte : bytes) {
    std::snprintf(text, sizeof text, " %02X", byte);
    line += text;
  }
  if (!note.empty()) line += (bytes.empty() ? " " : " # ") + note;
  if (inMemory_) {
    lines_.push_back(std::move(line));
    return;
  }
  std::fprintf(file_, "%s\n", line.c_str());
  std::fflush(file_);
}

}  // namespace sim
