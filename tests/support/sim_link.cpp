#include "tests/support/sim_link.h"

#include "tests/support/virtual_wait.h"

#include "sim/faults.h"
#include "sim/timing.h"

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <stdexcept>

namespace tl8test {
namespace {

using Duration = ExchangeClock::Duration;

// 2024-12-08 14:05:07 UTC.
constexpr std::time_t kFactoryMoment = 1733666707;

std::vector<sim::Adapter> AdaptersOf(const std::vector<sim::Memory>& memories) {
  std::vector<sim::Adapter> adapters;
  for (const sim::Memory& memory : memories) adapters.emplace_back(memory, "");
  return adapters;
}

std::vector<sim::FaultRule> FaultsOf(const std::vector<std::string>& texts) {
  std::vector<sim::FaultRule> faults;
  for (const std::string& text : texts) faults.push_back(sim::parseFault(text));
  return faults;
}

Duration Milliseconds(double ms) {
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double, std::milli>(ms));
}

}  // namespace

sim::Memory FactoryAdapter(int address) { return sim::factoryMemory(address, kFactoryMoment); }

SimLink::SimLink(VirtualClock& clock, SimLinkSetup setup)
    : clock_(clock),
      networkDelay_(Milliseconds(setup.networkDelayMs)),
      allowance_(setup.learnsFromRoundTripMs
                     ? TLatencyAllowance::Learnt(*setup.learnsFromRoundTripMs)
                     : TLatencyAllowance::Fixed(setup.latencyAllowanceMs)),
      journal_([&clock] { return std::chrono::duration<double, std::milli>(clock.Now()).count(); }),
      gatewayMode_(setup.gateway.has_value()),
      gateway_(journal_, setup.gateway.value_or(sim::GatewaySetup{})),
      simulator_(gatewayMode_ ? static_cast<sim::Output&>(gateway_) : answers_, journal_,
                 AdaptersOf(setup.adapters), FaultsOf(setup.faults), setup.turnaroundMs),
      outputFree_(clock.Now()) {
  simulator_.setLineEcho(setup.echo);
  simulator_.announce("in-process link");
}

bool SimLink::Answers::pause(double ms) {
  link_.answerCursor_ += Milliseconds(ms);
  return true;
}

bool SimLink::Answers::send(const sim::Bytes& bytes) {
  for (std::uint8_t byte : bytes) {
    link_.answerCursor_ += sim::kCharacterTime;  // a byte is there once its stop bit is
    link_.arrivals_.emplace(link_.answerCursor_ + link_.networkDelay_, byte);
  }
  return true;
}

void SimLink::RequireLine(int errorCode) {
  switch (state_) {
    case State::Up:
      return;
    case State::Lost:
      state_ = State::Closed;  // the failure closes the device, as the port's does
      throw EComPort(errorCode, EIO);
    case State::Closed:
      throw EComPort(errorCode, EBADF);
  }
}

void SimLink::Unplug() {
  if (state_ == State::Up) state_ = State::Lost;
}

void SimLink::Plug() {
  state_ = State::Up;
  request_.clear();
  arrivals_.clear();
  adus_.clear();
  gateway_.restart();
  outputFree_ = std::max(outputFree_, clock_.Now());
}

void SimLink::VanishAt(int request, LineLoss where) { plannedLoss_ = {request, where}; }

std::optional<SimLink::LineLoss> SimLink::TakePlannedLoss() {
  if (!plannedLoss_ || --plannedLoss_->request > 0) return std::nullopt;
  const LineLoss where = plannedLoss_->where;
  plannedLoss_.reset();
  return where;
}

void SimLink::VanishOnceServed() {
  const Duration served = request_.empty() ? outputFree_ : requestLastByte_ + sim::kFrameGap;
  clock_.At(served, [alive = std::weak_ptr<SimLink*>(self_)] {
    if (const auto link = alive.lock()) {
      (*link)->ServeEndedRequest();
      (*link)->Unplug();
    }
  });
}

void SimLink::Serve(const sim::Bytes& received, Duration at) {
  answerCursor_ = at;
  simulator_.serve(received);
}

void SimLink::ServeAtItsEnd() {
  const Duration end = requestLastByte_ + sim::kFrameGap;
  clock_.At(end, [alive = std::weak_ptr<SimLink*>(self_), request = std::move(request_), end] {
    if (const auto link = alive.lock()) (*link)->Serve(request, end);
  });
  request_.clear();
}

void SimLink::ServeEndedRequest() {
  if (request_.empty() || clock_.Now() < requestLastByte_ + sim::kFrameGap) return;
  const sim::Bytes request = std::move(request_);
  request_.clear();
  Serve(request, requestLastByte_ + sim::kFrameGap);
}

int SimLink::WriteBytes(const void* buffer, int count) {
  RequireLine(ceWriteFailed);
  ServeEndedRequest();
  if (count <= 0) return 0;
  const std::optional<LineLoss> loss = TakePlannedLoss();
  if (loss == LineLoss::InWrite) {
    Unplug();
    RequireLine(ceWriteFailed);
  }
  ++written_;
  const auto* first = static_cast<const std::uint8_t*>(buffer);
  const sim::Bytes bytes(first, first + count);
  if (gatewayMode_) {
    outputFree_ = clock_.Now() + networkDelay_;
    ToGateway(bytes, outputFree_);
    if (loss == LineLoss::InRead) VanishOnceServed();
    return count;
  }
  const Duration onLine = std::max(outputFree_, clock_.Now() + networkDelay_);
  // Behind a network path the last request may still be on its way, yet end
  // on the line before these bytes reach it: a frame of its own all the same.
  if (!request_.empty() && onLine >= requestLastByte_ + sim::kFrameGap) ServeAtItsEnd();
  outputFree_ = onLine + count * sim::kCharacterTime;
  if (simulator_.passThrough() && request_.empty()) {
    Serve(bytes, outputFree_);  // echoed as it comes, no frames any more
  } else {
    // Written before the last request's closing silence: the same request.
    request_.insert(request_.end(), bytes.begin(), bytes.end());
    requestLastByte_ = outputFree_;
  }
  if (loss == LineLoss::InRead) VanishOnceServed();
  return count;
}

void SimLink::ToGateway(const sim::Bytes& bytes, Duration at) {
  for (sim::Bytes& adu : gateway_.take(bytes)) adus_.push_back({std::move(adu), at});
  ScheduleGateway();
}

void SimLink::ScheduleGateway() {
  if (gatewayBusy_ || adus_.empty()) return;
  gatewayBusy_ = true;
  const Duration start = std::max(adus_.front().at, gatewayFree_);
  clock_.At(start, [alive = std::weak_ptr<SimLink*>(self_), start] {
    if (const auto link = alive.lock()) (*link)->ServeNextAdu(start);
  });
}

void SimLink::ServeNextAdu(Duration start) {
  gatewayBusy_ = false;
  if (adus_.empty()) return;  // the line went and came back meanwhile
  const sim::Bytes adu = std::move(adus_.front().bytes);
  adus_.pop_front();
  const sim::Gateway::Reply reply = gateway_.serve(simulator_, adu);
  gatewayFree_ = start + Milliseconds(reply.afterMs);
  for (std::uint8_t byte : reply.adu) arrivals_.emplace(gatewayFree_ + networkDelay_, byte);
  ScheduleGateway();
}

int SimLink::Arrived() const {
  return static_cast<int>(std::distance(arrivals_.begin(), arrivals_.upper_bound(clock_.Now())));
}

int SimLink::PendingInputCount() {
  RequireLine(ceClearErrorFailed);
  ServeEndedRequest();
  return Arrived();
}

std::string SimLink::ReadBytes(int count) {
  if (count <= 0) return {};
  RequireLine(ceReadFailed);
  ServeEndedRequest();
  std::string received;
  for (int taken = std::min(count, Arrived()); taken > 0; --taken) {
    received += static_cast<char>(arrivals_.begin()->second);
    arrivals_.erase(arrivals_.begin());
  }
  return received;
}

std::optional<Duration> SimLink::NextArrival() const {
  if (arrivals_.empty()) return std::nullopt;
  return arrivals_.begin()->first;
}

void SimLink::WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) {
  const VirtualLine line{
      .atEachMoment =
          [this] {
            RequireLine(ceWaitFailed);  // something due on the way may have pulled the line out
            ServeEndedRequest();
          },
      .arrived = [this] { return Arrived(); },
      .nextMoment =
          [this](bool forChar) {
            std::optional<Duration> next;
            if (!request_.empty()) next = requestLastByte_ + sim::kFrameGap;
            if (const auto arrival = NextArrival();
                forChar && arrival && (!next || *arrival < *next))
              next = arrival;
            return next;
          },
  };
  WaitInVirtualTime(clock_, line, events, stopEvent, timeoutMs);
}

const sim::Memory& SimLink::memory(int address) const {
  for (const sim::Adapter& adapter : simulator_.adapters())
    if (adapter.address() == address) return adapter.memory();
  throw std::out_of_range("no simulated adapter answers at " + std::to_string(address));
}

std::vector<SimJournalEntry> SimLink::journal() const {
  std::stringstream text;
  for (const std::string& line : journal_.lines()) text << line << '\n';
  return readSimJournal(text, "the in-process journal");
}

}  // namespace tl8test
