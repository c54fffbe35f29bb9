#pragma once
// tl8ctl as a user runs it, for the command-line tests: the built program in
// the background with its output in files, and a whole run against the
// simulator's line.

#include "tests/cli/ctl_output.h"
#include "tests/support/sim_process.h"

#include <sys/types.h>
#include <chrono>
#include <string>
#include <vector>

namespace tl8test {

// One tl8ctl run, started in the background; its output goes to files.
class Ctl {
 public:
  // stderr goes to `errPath`, a file in `dir` unless given. With a
  // `launcher`, that command runs with tl8ctl and its arguments after its own.
  Ctl(const std::string& dir, std::vector<std::string> args, const std::string& errPath = "",
      const std::vector<std::string>& launcher = {});
  ~Ctl();
  Ctl(const Ctl&) = delete;
  Ctl& operator=(const Ctl&) = delete;

  void Signal(int signal) const;
  // The exit code; -1 when it was killed or did not end within `limit`.
  int Wait(std::chrono::seconds limit = std::chrono::seconds(60));
  std::string Out() const;
  std::string Err() const;

 private:
  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
};

// A whole run against the simulator's line.
Ran RunCtl(const SimProcess& sim, std::vector<std::string> args);

// The requests the simulator has received so far.
int Requests(const SimProcess& sim);

}  // namespace tl8test
