#include "tests/cli/ctl_run.h"

#include "tests/support/test_data.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace tl8test {
namespace {

namespace fs = std::filesystem;

std::string BinDir() {
  const char* dir = std::getenv("TL8_BIN_DIR");
  return dir && *dir ? dir : fs::read_symlink("/proc/self/exe").parent_path().string();
}

}  // namespace

Ctl::Ctl(const std::string& dir, std::vector<std::string> args, const std::string& errPath,
         const std::vector<std::string>& launcher)
    : out_(dir + "/ctl.out"), err_(errPath.empty() ? dir + "/ctl.err" : errPath) {
  args.insert(args.begin(), BinDir() + "/tl8ctl");
  args.insert(args.begin(), launcher.begin(), launcher.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (posix_spawnp(&pid_, argv[0], &files, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&files);
}

Ctl::~Ctl() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void Ctl::Signal(int signal) const { kill(pid_, signal); }

int Ctl::Wait(std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Ctl::Out() const { return FileBytes(out_); }
std::string Ctl::Err() const { return FileBytes(err_); }

Ran RunCtl(const SimProcess& sim, std::vector<std::string> args) {
  args.insert(args.begin(), {"--port", sim.path("line")});
  Ctl ctl(sim.dir(), args);
  const int code = ctl.Wait();
  return {code, ctl.Out(), ctl.Err()};
}

int Requests(const SimProcess& sim) {
  int frames = 0;
  for (const SimJournalEntry& entry : sim.journal()) frames += entry.direction == "RX";
  return frames;
}

}  // namespace tl8test
