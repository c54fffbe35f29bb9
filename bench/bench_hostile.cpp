// tl8ctl against servers no device server would be, on 127.0.0.1: one that
// floods data (raw, and after an RFC 2217 opening), one whose Telnet
// subnegotiation never ends, one that floods Telnet options and never
// reads. For each, `tl8ctl --port NAME read` (and `read --fast`) runs as a
// program; prints its exit code, its wall time and its peak memory (the
// maximum resident set size the system reports for it when it ends, as
// /usr/bin/time -v does). A run still going after 60 s is killed and shown
// as such.

#include "tests/support/loopback.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using tl8test::kLongWait;
using tl8test::LoopSocket;
using Clock = std::chrono::steady_clock;

constexpr auto kLimit = std::chrono::seconds(60);

void Flood(const LoopSocket& client, const std::string& chunk) {
  while (client.Send(chunk)) {
  }
}

// The client's greeting and its eight RFC 2217 commands.
void TakeSettings(const LoopSocket& client) {
  std::string got;
  const std::string last("\xFF\xFA\x2C\x01\x00\x00\x00\x00", 8);  // the rate request
  while (got.find(last) == std::string::npos) {
    const std::string more = client.Receive(kLongWait);
    if (more.empty()) return;
    got += more;
  }
}

// What a server answers to the tool's settings: the options agreed and every
// command answered with the tool's own values (9600 8N1, no flow control,
// DTR and RTS on, the rate when asked).
std::string Agreement() {
  const unsigned char bytes[] = {
      255, 253, 0,   255, 251, 0,   255, 253, 44,  255, 250, 44,  101, 0,   0,   37,  128, 255,
      240, 255, 250, 44,  102, 8,   255, 240, 255, 250, 44,  103, 1,   255, 240, 255, 250, 44,
      104, 1,   255, 240, 255, 250, 44,  105, 1,   255, 240, 255, 250, 44,  105, 8,   255, 240,
      255, 250, 44,  105, 11,  255, 240, 255, 250, 44,  101, 0,   0,   37,  128, 255, 240};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

struct Outcome {
  int exitCode = -1;  // -1: killed at the limit
  double seconds = 0;
  long peakKb = 0;
};

Outcome RunCtl(const std::string& ctl, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(ctl.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);  // the child must not write this process's buffered lines again
  const Clock::time_point started = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execv(ctl.c_str(), argv.data());
    _exit(127);
  }
  Outcome outcome;
  int status = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (Clock::now() - started > kLimit) kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  outcome.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  outcome.peakKb = usage.ru_maxrss;
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  return outcome;
}

struct Hostile {
  const char* what;
  const char* scheme;
  tl8test::ScriptedServer::Script script;
};

}  // namespace

int main(int, char* argv[]) {
  const std::string ctl = (std::filesystem::path(argv[0]).parent_path() / "tl8ctl").string();
  const std::string data(4096, '\x5A');
  std::string options;
  for (int i = 0; i < 1365; ++i) options += "\xFF\xFB\x01";  // WILL ECHO
  const Hostile servers[] = {
      {"floods data", "tcp", [&](LoopSocket& l) { Flood(l.Accept(kLongWait), data); }},
      {"floods data after the settings", "rfc2217",
       [&](LoopSocket& l) {
         const LoopSocket client = l.Accept(kLongWait);
         TakeSettings(client);
         client.Send(Agreement());
         Flood(client, data);
       }},
      {"one endless subnegotiation", "rfc2217",
       [&](LoopSocket& l) {
         const LoopSocket client = l.Accept(kLongWait);
         TakeSettings(client);
         client.Send("\xFF\xFA\x2C\x6B");
         Flood(client, data);
       }},
      {"floods options, never reads", "rfc2217",
       [&](LoopSocket& l) { Flood(l.Accept(kLongWait), options); }},
  };
  std::printf("%-32s %-12s %5s %8s %9s\n", "server", "command", "exit", "time s", "peak MB");
  for (const Hostile& server : servers) {
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"read"}, std::vector<std::string>{"read", "--fast"}}) {
      const tl8test::ScriptedServer hostile(server.script);
      std::vector<std::string> args{"--port", hostile.Name(server.scheme)};
      args.insert(args.end(), command.begin(), command.end());
      const Outcome outcome = RunCtl(ctl, args);
      std::printf("%-32s %-12s %5s %8.2f %9.1f\n", server.what,
                  command.size() > 1 ? "read --fast" : "read",
                  outcome.exitCode < 0 ? "killed" : std::to_string(outcome.exitCode).c_str(),
                  outcome.seconds, outcome.peakKb / 1024.0);
    }
  }
  return 0;
}
