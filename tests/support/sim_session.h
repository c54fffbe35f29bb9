#pragma once
// SimSession: a session whose requests talk to simulated adapters in virtual
// time, for the window and exchange tests.
//
//   tl8test::SimSession sim(tl8test::SimulatorSetup({"--address", "30", "--adapter", "17"}));
//   TNetAddrF window(sim.session);
//   sim.Received()                  // the frames the adapters received
//   sim.State(17).param(1)          // what adapter 17 keeps
//
// Restart puts a fresh simulated line in place of the old one, as a new
// simulator process on a reopened port would be, while the session and the
// windows made with it stay.

#include "modbus/clock.h"
#include "modbus/session.h"
#include "tests/support/sim_link.h"
#include "tests/support/sim_state.h"

#include <memory>
#include <string>
#include <vector>

namespace tl8test {

// The setup tl8sim's words --address N, --adapter N, --fault RULE,
// --turnaround MS and --echo describe; throws std::invalid_argument for other words.
SimLinkSetup SimulatorSetup(const std::vector<std::string>& args);

// The memory as the simulator's state file would show it.
SimState StateOf(const sim::Memory& memory);

class SimSession {
 public:
  explicit SimSession(SimLinkSetup setup = {});
  SimSession(const SimSession&) = delete;
  SimSession& operator=(const SimSession&) = delete;

  void Restart(SimLinkSetup setup);

  SimLink& link() { return line_.Target(); }
  const SimLink& link() const { return line_.Target(); }
  // What the adapter now answering at `address` keeps; throws
  // std::out_of_range when none does.
  SimState State(int address) const { return StateOf(link().memory(address)); }
  // The frames the adapters received since the start (or since the `from`th).
  std::vector<SimJournalEntry> Received(size_t from = 0) const;
  // Lets `ms` of virtual time pass, so that a request still on the line ends
  // and reaches the adapters: after it, Received shows everything written.
  void Settle(int ms);
  // Whether nothing at all went out, not even a request still on the line.
  bool NothingReceived();

 private:
  // Hands every operation to the current simulated line.
  class Line final : public TComLink {
   public:
    explicit Line(std::unique_ptr<SimLink> target) : target_(std::move(target)) {}
    void Replace(std::unique_ptr<SimLink> target) { target_ = std::move(target); }
    SimLink& Target() const { return *target_; }

    int WriteBytes(const void* buffer, int count) override {
      return target_->WriteBytes(buffer, count);
    }
    int PendingInputCount() override { return target_->PendingInputCount(); }
    std::string ReadBytes(int count) override { return target_->ReadBytes(count); }
    void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override {
      target_->WaitForEvent(events, stopEvent, timeoutMs);
    }
    bool Connected() const override { return target_->Connected(); }
    int LatencyAllowanceMs() const override { return target_->LatencyAllowanceMs(); }
    bool LearnsLatency() const override { return target_->LearnsLatency(); }
    void LearnLatency(int delayMs, bool late) override { target_->LearnLatency(delayMs, late); }
    int LateAnswerAllowanceMs() const override { return target_->LateAnswerAllowanceMs(); }
    TLineFraming Framing() const override { return target_->Framing(); }

   private:
    std::unique_ptr<SimLink> target_;
  };

 public:
  // In this order: the session is made on the line and the clock.
  VirtualClock clock;

 private:
  Line line_;

 public:
  Session session{line_, clock};
};

}  // namespace tl8test
