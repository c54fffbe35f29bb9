#include "tests/support/script_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

namespace tl8test {

std::string ReadFirstLine(int fd) {
  using Clock = std::chrono::steady_clock;
  std::string text;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (text.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd pfd{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return "";
    char buffer[256];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) return "";
    text.append(buffer, static_cast<size_t>(count));
  }
  return text.substr(0, text.find('\n'));
}

ScriptProcess::ScriptProcess(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  out_ = out[0];
  if (pid_ > 0) firstLine_ = ReadFirstLine(out_);
}

ScriptProcess::~ScriptProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

}  // namespace tl8test
