#pragma once
// SimProcess: one run of the adapter simulator (build/bin/tl8sim) for a test.
//
//   tl8test::SimProcess sim({"--adapter", "2:{dir}/second.txt", "--fault", "silent,nth=2"});
//   open sim.port() ...                       // the pty the simulator listens on
//   sim.state().param(1)                      // parameter 1's bytes from the state file
//   for (auto& e : sim.journal()) ...         // what really went over the line
//
// Each run gets a fresh temporary directory, dir(); "{dir}" in the arguments
// stands for it. Unless the arguments say otherwise, the simulator keeps its
// memory in {dir}/state.txt and its journal in {dir}/journal.txt. The program is
// looked for in $TL8_BIN_DIR (CTest sets it), else beside the test program.
// The constructor waits at most 30 s for the simulator's first line and throws
// std::runtime_error (with the simulator's stderr) when it does not come. The
// destructor stops it with SIGTERM (SIGKILL after 3 s) and removes the
// directory. The simulator also gets SIGTERM if the thread that started it ends.

#include "tests/support/sim_state.h"

#include <sys/types.h>
#include <string>
#include <vector>

namespace tl8test {

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& port() const { return port_; }  // e.g. /dev/pts/5
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& statePath() const { return statePath_; }
  const std::string& journalPath() const { return journalPath_; }

  SimState state() const { return loadSimState(statePath_); }
  std::vector<SimJournalEntry> journal() const { return loadSimJournal(journalPath_); }
  // Everything the simulator wrote to stderr so far.
  std::string errors() const;

  pid_t pid() const { return pid_; }
  // Stops the simulator (SIGTERM, SIGKILL after 3 s); returns its exit code,
  // or -1 when a signal ended it. Later calls return the same.
  int stop();

 private:
  void start(std::vector<std::string> args);

  std::string dir_;
  std::string statePath_;
  std::string journalPath_;
  std::string port_;
  pid_t pid_ = -1;
  int exitCode_ = -1;
};

}  // namespace tl8test
