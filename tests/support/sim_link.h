#pragma once
// SimLink: the adapter simulator's own adapters, memory and fault rules on an
// in-process line that runs in virtual time. The requests talk to it as to a
// port; every wait jumps the VirtualClock forward instead of sleeping, so a
// whole search or calibration takes milliseconds of wall time.
//
//   VirtualClock clock;
//   SimLink link(clock, {.faults = {"silent,nth=2"}});
//   ModbusRequests requests(link, exchange, params, clock);
//   link.memory(1).param(3)             // what adapter 1 keeps
//   link.journal()                      // the simulator's journal, virtual ms
//
// Timing, as on a 9600 bit/s line: the tool's bytes go out one character
// time (1.04 ms) apart after what it wrote before; a request ends 3.5
// character times after its last byte; the answer starts after the
// simulator's turnaround (plus a "late" fault's delay) and its bytes arrive a
// character time apart. In pass-through the bytes written are echoed once
// they have all gone out. A line that echoes (setup.echo) hands each
// request back, a character time apart, from the moment it ended. Behind a
// network path (setup.networkDelayMs) every byte takes that much longer each
// way: the request reaches the adapters' line that much later, and each byte
// from the line reaches the tool that much later too.
//
// Behind a Modbus TCP gateway (setup.gateway) the link is a gateway's line
// (TLineFraming::Mbap): the tool writes ADUs, which reach the simulator's
// gateway (sim/gateway.h) at once (after the network path), one served
// after the other; each reply arrives whole when the gateway sends it.
//
// Reads take what has arrived by now and never wait (the requests only read
// what PendingInputCount reported). A wait with no limit on a line where
// nothing can arrive any more would last forever: it throws std::logic_error.

#include "modbus/clock.h"
#include "net/latency.h"
#include "serial/link.h"
#include "sim/gateway.h"
#include "sim/journal.h"
#include "sim/memory.h"
#include "sim/output.h"
#include "sim/simulator.h"
#include "tests/support/sim_state.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tl8test {

// A new adapter's memory at the address, stamped with a fixed moment so
// that runs are alike.
sim::Memory FactoryAdapter(int address);

struct SimLinkSetup {
  std::vector<sim::Memory> adapters = {FactoryAdapter(1)};
  std::vector<std::string> faults;  // rules as tl8sim's --fault takes them
  double turnaroundMs = 3;          // as tl8sim's default
  bool echo = false;                // as tl8sim's --echo
  double networkDelayMs = 0;        // each way, between the tool and the adapters' line
  int latencyAllowanceMs = 0;       // what the link tells the requests to allow for
  // Learns its allowance from the answers, as a network line given no
  // allowance does, from this first guess of the round trip on.
  std::optional<int> learnsFromRoundTripMs = {};
  // A Modbus TCP gateway in front of the adapters' line, as tl8sim's
  // --modbus-tcp.
  std::optional<sim::GatewaySetup> gateway = {};
};

// A backend of the port component too (TComPort::OpenLine): the settings it
// is handed change nothing, as on a pseudo-terminal.
class SimLink final : public TLineBackend {
 public:
  // Throws std::invalid_argument for a fault rule tl8sim would refuse.
  explicit SimLink(VirtualClock& clock, SimLinkSetup setup = {});
  SimLink(const SimLink&) = delete;
  SimLink& operator=(const SimLink&) = delete;

  int WriteBytes(const void* buffer, int count) override;
  int PendingInputCount() override;
  std::string ReadBytes(int count) override;
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override;
  bool Connected() const override { return state_ == State::Up; }
  int LatencyAllowanceMs() const override { return allowance_.AllowanceMs(); }
  bool LearnsLatency() const override { return allowance_.Learns(); }
  void LearnLatency(int delayMs, bool late) override { allowance_.Learn(delayMs, late); }
  int LateAnswerAllowanceMs() const override { return allowance_.LateAnswerMs(); }
  TLineFraming Framing() const override {
    return gatewayMode_ ? TLineFraming::Mbap : TLineFraming::Rtu;
  }
  void SetBuffers(int, int) override {}
  void SetLine(const comdev::LineSettings&, const TComStopEvent*) override {}
  void SetTimeouts(const comdev::TimeoutSettings&) override {}
  // Operations fail from then on as on a closed port.
  void Close() override { state_ = State::Closed; }

  // The line vanishes (a converter pulled out): Connected turns false, the
  // next operation fails as a port's does with the system's EIO, later ones
  // as on a closed port (EBADF), with the component's texts.
  void Unplug();
  // The line is back (the port opened again): nothing of the old line waits.
  void Plug();

  // Where the line vanishes in the middle of an exchange: while the tool
  // writes a request (the write fails and nothing of it goes out), or once
  // the request has gone out and reached the adapters, while the tool waits
  // for the answer (the adapters took it; the answer is lost).
  enum class LineLoss { InWrite, InRead };
  // The line vanishes at the `request`th request written from now on (1 =
  // the next one).
  void VanishAt(int request, LineLoss where);

  // The memory of the adapter now answering at `address`; throws
  // std::out_of_range when none does.
  const sim::Memory& memory(int address) const;
  bool passThrough() const { return simulator_.passThrough(); }
  // The tool's writes that went out (one per request).
  int RequestsWritten() const { return written_; }
  // The simulator's journal, each line as tl8sim writes it to its file.
  const std::vector<std::string>& journalLines() const { return journal_.lines(); }
  std::vector<SimJournalEntry> journal() const;

 private:
  using Duration = ExchangeClock::Duration;
  enum class State { Up, Lost, Closed };

  // Answers are written here, from the moment their request ended on.
  class Answers final : public sim::Output {
   public:
    explicit Answers(SimLink& link) : link_(link) {}
    bool pause(double ms) override;
    bool send(const sim::Bytes& bytes) override;

   private:
    SimLink& link_;
  };

  void RequireLine(int errorCode);
  // Counts a request written against the planned loss: where the line
  // vanishes at this one, if it does.
  std::optional<LineLoss> TakePlannedLoss();
  // The request just written reaches the adapters, then the line goes.
  void VanishOnceServed();
  // Hands a request whose closing silence has passed to the simulator.
  void ServeEndedRequest();
  // Hands the request still on the line to the simulator once its closing
  // silence has passed.
  void ServeAtItsEnd();
  void Serve(const sim::Bytes& received, Duration at);
  // Behind the gateway: the ADUs written reach it at `at`; it serves the
  // next one once it is free.
  void ToGateway(const sim::Bytes& bytes, Duration at);
  void ScheduleGateway();
  void ServeNextAdu(Duration start);
  int Arrived() const;
  std::optional<Duration> NextArrival() const;

  VirtualClock& clock_;
  Duration networkDelay_;
  TLatencyAllowance allowance_;
  Answers answers_{*this};
  sim::Journal journal_;
  bool gatewayMode_;
  sim::Gateway gateway_;
  sim::Simulator simulator_;
  State state_ = State::Up;
  struct PlannedLoss {
    int request;
    LineLoss where;
  };
  std::optional<PlannedLoss> plannedLoss_;
  int written_ = 0;
  // Actions left on the clock look here first: the link may be gone by then.
  std::shared_ptr<SimLink*> self_ = std::make_shared<SimLink*>(this);
  Duration outputFree_{};  // when the tool's last byte has gone out
  sim::Bytes request_;     // a request still on the line
  Duration requestLastByte_{};
  Duration answerCursor_{};                         // where the simulator's output has got to
  std::multimap<Duration, std::uint8_t> arrivals_;  // bytes on their way to the tool
  struct Adu {
    sim::Bytes bytes;
    Duration at;  // when it reached the gateway
  };
  std::deque<Adu> adus_;  // waiting for the gateway
  bool gatewayBusy_ = false;
  Duration gatewayFree_{};
};

}  // namespace tl8test
