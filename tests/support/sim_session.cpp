#include "tests/support/sim_session.h"

#include <stdexcept>

namespace tl8test {

SimLinkSetup SimulatorSetup(const std::vector<std::string>& args) {
  SimLinkSetup setup;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--echo") {  // the one word without a value
      setup.echo = true;
      continue;
    }
    if (i + 1 >= args.size()) throw std::invalid_argument(word + " without its value");
    const std::string& value = args[++i];
    if (word == "--address")
      setup.adapters.front() = FactoryAdapter(std::stoi(value));
    else if (word == "--adapter")
      setup.adapters.push_back(FactoryAdapter(std::stoi(value)));
    else if (word == "--fault")
      setup.faults.push_back(value);
    else if (word == "--turnaround")
      setup.turnaroundMs = std::stod(value);
    else
      throw std::invalid_argument("the simulated link takes no " + word);
  }
  return setup;
}

SimState StateOf(const sim::Memory& memory) {
  SimState state;
  state.address = memory.address;
  std::copy(memory.params.begin(), memory.params.end(), state.params.begin());
  return state;
}

SimSession::SimSession(SimLinkSetup setup)
    : line_(std::make_unique<SimLink>(clock, std::move(setup))) {}

void SimSession::Restart(SimLinkSetup setup) {
  line_.Replace(std::make_unique<SimLink>(clock, std::move(setup)));
}

void SimSession::Settle(int ms) {
  clock.AdvanceTo(clock.Now() + std::chrono::milliseconds(ms));
  link().PendingInputCount();
}

bool SimSession::NothingReceived() {
  Settle(150);
  return Received().empty();
}

std::vector<SimJournalEntry> SimSession::Received(size_t from) const {
  std::vector<SimJournalEntry> frames;
  for (SimJournalEntry& entry : link().journal())
    if (entry.direction == "RX") frames.push_back(std::move(entry));
  frames.erase(frames.begin(), frames.begin() + std::min(from, frames.size()));
  return frames;
}

}  // namespace tl8test
