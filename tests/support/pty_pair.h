#pragma once
// A pseudo-terminal pair standing in for a serial line: the code under test
// opens SlavePath() like a serial device, the test plays the other end of the
// line through the master descriptor.

#include <string>

class PtyPair {
 public:
  PtyPair();  // raw mode on both sides
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }

  void Write(const std::string& bytes) const;
  // What arrives within timeoutMs (stops early once `atLeast` bytes are in).
  std::string Read(int timeoutMs, size_t atLeast = SIZE_MAX) const;
  // Closes the master: the line vanishes for the slave side.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open so the master sees no hang-up while the port closes
  std::string slavePath_;
};
