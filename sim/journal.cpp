#include "journal.h"

#include <stdexcept>

namespace sim {

Journal::Journal(const std::string& path) {
  if (path.empty()) return;
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) throw std::runtime_error("cannot write journal " + path);
}

Journal::~Journal() {
  if (file_) std::fclose(file_);
}

void Journal::write(const char* direction, const Bytes& bytes, const std::string& note) {
  if (!file_) return;
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
  std::fprintf(file_, "%.3f %s", ms, direction);
  for (std::uint8_t byte : bytes) std::fprintf(file_, " %02X", byte);
  if (!note.empty()) std::fprintf(file_, bytes.empty() ? " %s" : " # %s", note.c_str());
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace sim
