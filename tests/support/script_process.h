#pragma once
// ScriptProcess: a helper program for a test (a Python peer), started with
// its stdout on a pipe; its first line (a port it serves, say) is read within
// 30 s (a busy machine's start-up). The destructor stops it with SIGTERM and waits for it.
//
//   tl8test::ScriptProcess server({"/usr/bin/python3", script, pty, record});
//   server.FirstLine()                       // "" when it did not start

#include <sys/types.h>
#include <string>
#include <vector>

namespace tl8test {

// The first line a child program writes on `fd` (without its line end), or
// "" when it ends or stays silent for 30 s (a busy machine's start-up).
std::string ReadFirstLine(int fd);

class ScriptProcess {
 public:
  explicit ScriptProcess(const std::vector<std::string>& argv);
  ~ScriptProcess();
  ScriptProcess(const ScriptProcess&) = delete;
  ScriptProcess& operator=(const ScriptProcess&) = delete;

  const std::string& FirstLine() const { return firstLine_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string firstLine_;
};

}  // namespace tl8test
