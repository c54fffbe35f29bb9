#include "tests/support/sim_process.h"

#include "tests/support/script_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tl8test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kStopTimeout = std::chrono::seconds(3);

std::string simulatorProgram() {
  const char* binDir = std::getenv("TL8_BIN_DIR");
  const fs::path dir =
      binDir && *binDir ? fs::path(binDir) : fs::read_symlink("/proc/self/exe").parent_path();
  const fs::path program = dir / "tl8sim";
  if (access(program.c_str(), X_OK) != 0)
    throw std::runtime_error("tl8sim not found at " + program.string());
  return program;
}

std::string makeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "tl8sim-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
  return pattern;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// The value following an option, if the arguments carry it.
std::string optionValue(const std::vector<std::string>& args, const std::string& option) {
  const auto it = std::find(args.begin(), args.end(), option);
  return it != args.end() && it + 1 != args.end() ? *(it + 1) : "";
}

// Child side: only async-signal-safe calls between fork and exec.
[[noreturn]] void runChild(int out, const char* errorFile, pid_t parent, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(127);
  const int err = open(errorFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (dup2(out, STDOUT_FILENO) < 0 || err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(127);
  execv(argv[0], argv);
  _exit(127);
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> args) : dir_(makeTempDir()) {
  try {
    start(std::move(args));
  } catch (...) {
    stop();
    fs::remove_all(dir_);
    throw;
  }
}

void SimProcess::start(std::vector<std::string> args) {
  for (std::string& arg : args) replaceAll(arg, "{dir}", dir_);
  statePath_ = optionValue(args, "--state");
  journalPath_ = optionValue(args, "--journal");
  if (statePath_.empty()) args.insert(args.begin(), {"--state", statePath_ = path("state.txt")});
  if (journalPath_.empty())
    args.insert(args.begin(), {"--journal", journalPath_ = path("journal.txt")});
  args.insert(args.begin(), simulatorProgram());

  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string errorFile = path("stderr.txt");
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) runChild(out[1], errorFile.c_str(), parent, argv.data());
  close(out[1]);
  port_ = pid_ > 0 ? ReadFirstLine(out[0]) : "";
  close(out[0]);
  if (port_.empty()) throw std::runtime_error("tl8sim did not start: " + errors());
}

SimProcess::~SimProcess() {
  stop();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

std::string SimProcess::errors() const {
  std::ifstream in(dir_ + "/stderr.txt");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int SimProcess::stop() {
  if (pid_ <= 0) return exitCode_;
  kill(pid_, SIGTERM);
  int status = 0;
  const auto deadline = Clock::now() + kStopTimeout;
  pid_t done = 0;
  while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (done == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return exitCode_;
}

}  // namespace tl8test
