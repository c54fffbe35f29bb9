#pragma once
// The far end of a pseudo-terminal line for the request tests: a thread on the
// master side that takes each frame the tool sends (a frame ends on 5 ms of
// silence), records it and answers with whatever the responder returns, burst
// by burst after the given delays. The tool opens SlavePath() with TComPort.

#include "tests/support/pty_pair.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Burst {
  int delayMs = 0;  // after the frame, or after the previous burst
  std::string bytes;
};
using Responder = std::function<std::vector<Burst>(const std::string& frame)>;

class PtyPeer {
 public:
  explicit PtyPeer(Responder responder = {});
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& SlavePath() const { return line_.SlavePath(); }
  void SetResponder(Responder responder);
  std::vector<std::string> Frames() const;  // every frame received so far
  void Write(const std::string& bytes) const { line_.Write(bytes); }  // on the line at once

 private:
  void Run();
  void Answer(const std::string& frame);

  PtyPair line_;
  mutable std::mutex mutex_;
  Responder responder_;
  std::vector<std::string> frames_;
  bool stop_ = false;
  std::thread thread_;
};

// "01 03 00" <-> bytes.
std::string Bytes(const std::string& hex);
std::string Hex(const std::string& bytes);
