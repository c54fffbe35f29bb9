// tl8sim: simulated TL-8K adapters on a pseudo-terminal, for tests, the demo
// and for learning the tool without a device. See README.md.

#include "gateway.h"
#include "line.h"
#include "options.h"
#include "simulator.h"
#include "state_file.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>

namespace {

using namespace sim;

// A state file that exists is the adapter's memory; an address given on the
// command line still wins over the stored one.
Adapter loadAdapter(const AdapterOption& option) {
  Memory memory;
  if (!option.statePath.empty() && std::filesystem::exists(option.statePath)) {
    memory = loadState(option.statePath);
    memory.address = option.address.value_or(memory.address);
  } else {
    memory = factoryMemory(option.address.value_or(1), std::time(nullptr));
  }
  return Adapter(memory, option.statePath);
}

// Two adapters at one address, or sharing one file, would only garble each other.
void checkDistinct(const std::vector<Adapter>& adapters) {
  std::set<int> addresses;
  std::set<std::string> files;
  for (const Adapter& adapter : adapters) {
    if (!addresses.insert(adapter.address()).second)
      throw std::invalid_argument("two adapters at address " + std::to_string(adapter.address()));
    if (!adapter.statePath().empty() && !files.insert(adapter.statePath()).second)
      throw std::invalid_argument("two adapters share the state file " + adapter.statePath());
  }
}

std::vector<Adapter> loadAdapters(const std::vector<AdapterOption>& options) {
  std::vector<Adapter> adapters;
  for (const AdapterOption& option : options) adapters.push_back(loadAdapter(option));
  checkDistinct(adapters);
  for (const Adapter& adapter : adapters) adapter.save();
  return adapters;
}

// A symbolic link to the terminal, such as /dev/COM1 where the tool looks by
// default. Only a dangling link is replaced: a live one may be the user's own
// link to a real converter, and anything else at the path is kept too.
class Link {
 public:
  Link(std::string path, const std::string& target) : path_(std::move(path)), target_(target) {
    if (path_.empty()) return;
    struct stat info {};
    if (lstat(path_.c_str(), &info) == 0) {
      if (!S_ISLNK(info.st_mode))
        throw std::runtime_error("refusing to replace " + path_ + ": not a symbolic link");
      struct stat target {};
      if (stat(path_.c_str(), &target) == 0)
        throw std::runtime_error("refusing to replace " + path_ + ": a live link to " +
                                 std::filesystem::read_symlink(path_).string());
      unlink(path_.c_str());
    }
    if (symlink(target_.c_str(), path_.c_str()) != 0)
      throw std::runtime_error("cannot make link " + path_ + ": " + std::strerror(errno));
  }
  ~Link() {
    std::error_code error;
    if (!path_.empty() && std::filesystem::read_symlink(path_, error) == target_)
      unlink(path_.c_str());
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

 private:
  std::string path_;
  std::string target_;
};

// Whoever read the first path may have stopped reading: a later one then
// goes nowhere, and the simulator goes on (SIGPIPE is ignored).
void announcePath(const std::string& path) {
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);
}

std::unique_ptr<Line> openLine(const Options& options, Journal& journal) {
  if (!options.tcp) return std::make_unique<Line>();
  return std::make_unique<Line>(options.tcp->host, options.tcp->port,
                                [&journal](const std::string& event) { journal.event(event); });
}

// The line and the link to it, which goes and comes back with the terminal.
class PluggedLine {
 public:
  PluggedLine(std::unique_ptr<Line> line, const std::string& linkPath)
      : line_(std::move(line)), linkPath_(linkPath) {
    makeLink();
  }

  Line& line() { return *line_; }

  // The terminal and its link go; `gapMs` later both are back, the link
  // leading to a new terminal. False when a stop signal came meanwhile.
  bool unplugFor(double gapMs, Journal& journal) {
    link_.reset();
    line_->unplug();
    journal.event("unplugged: terminal closed, link removed");
    if (!line_->pause(gapMs)) return false;
    line_->plugIn();
    makeLink();
    journal.event("plugged in again on " + line_->path());
    announcePath(line_->path());
    return true;
  }

 private:
  void makeLink() { link_.emplace(linkPath_, line_->path()); }

  std::unique_ptr<Line> line_;
  std::string linkPath_;
  std::optional<Link> link_;
};

// Hands each request (in pass-through, each run of bytes) to the simulator
// until a stop signal; the request --unplug names takes the line away instead.
void serveLine(PluggedLine& plugged, Simulator& simulator, Journal& journal,
               const std::optional<UnplugOption>& unplug) {
  Line& line = plugged.line();
  simulator.announce(line.path());
  int requests = 0;
  bool running = true;
  while (running) {
    const auto bytes = simulator.passThrough() ? line.receiveBytes() : line.receiveFrame();
    if (!bytes) break;
    if (unplug && ++requests == unplug->request) {
      journal.received(*bytes, "not answered: the line goes");
      running = plugged.unplugFor(unplug->gapMs, journal);
    } else {
      running = simulator.serve(*bytes);
    }
  }
  journal.event("stopped");
}

// Serves each ADU that comes to the gateway's port in turn, its reply after
// the time the line takes, until a stop signal.
void serveGateway(Line& line, Gateway& gateway, Simulator& simulator, Journal& journal) {
  simulator.announce(line.path());
  int client = line.clientsTaken();
  for (auto bytes = line.receiveBytes(); bytes; bytes = line.receiveBytes()) {
    // A new client's stream starts afresh: the last one's half-sent request went with it.
    if (line.clientsTaken() != client) gateway.restart();
    client = line.clientsTaken();
    for (const Bytes& adu : gateway.take(*bytes)) {
      const Clock::time_point taken = Clock::now();
      const Gateway::Reply reply = gateway.serve(simulator, adu);
      const double tookMs = std::chrono::duration<double, std::milli>(Clock::now() - taken).count();
      if (!line.pause(std::max(0.0, reply.afterMs - tookMs))) return journal.event("stopped");
      line.sendWhole(reply.adu);
    }
  }
  journal.event("stopped");
}

int simulateGateway(const Options& options, std::vector<Adapter> adapters, Journal& journal) {
  Gateway gateway(journal);
  Line line(
      options.modbusTcp->host, options.modbusTcp->port,
      [&journal](const std::string& event) { journal.event(event); }, "modbus-tcp");
  announcePath(line.path());
  Simulator simulator(gateway, journal, std::move(adapters), options.faults, options.turnaroundMs);
  serveGateway(line, gateway, simulator, journal);
  return 0;
}

int simulate(const Options& options) {
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<Adapter> adapters = loadAdapters(options.adapters);
  Journal journal(options.journal);
  if (options.modbusTcp) return simulateGateway(options, std::move(adapters), journal);
  PluggedLine plugged(openLine(options, journal), options.link);
  announcePath(plugged.line().path());
  Simulator simulator(plugged.line(), journal, std::move(adapters), options.faults,
                      options.turnaroundMs);
  simulator.setLineEcho(options.echo);
  serveLine(plugged, simulator, journal, options.unplug);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parseOptions(argc, argv);
    if (options.help) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    return simulate(options);
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "tl8sim: %s\n%s", error.what(), kUsage);
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tl8sim: %s\n", error.what());
    return 1;
  }
}
