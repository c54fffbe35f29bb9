#include "simulator.h"

#include "crc.h"

namespace sim {
namespace {

constexpr int kBroadcast = 0;
constexpr std::size_t kMaxFrame = 256;

Bytes pduOf(const Bytes& frame) { return Bytes(frame.begin() + 1, frame.end() - 2); }

bool isWrite(std::uint8_t function) { return function == 6 || function == 16; }

}  // namespace

Simulator::Simulator(Output& output, Journal& journal, std::vector<Adapter> adapters,
                     std::vector<FaultRule> faults, double turnaroundMs)
    : output_(output),
      journal_(journal),
      adapters_(std::move(adapters)),
      faults_(std::move(faults)),
      turnaroundMs_(turnaroundMs) {}

void Simulator::announce(const std::string& where) {
  for (const Adapter& adapter : adapters_)
    journal_.event("adapter " + std::to_string(adapter.address()) + " on " + where +
                   (adapter.statePath().empty() ? "" : ", state " + adapter.statePath()));
}

bool Simulator::serve(const Bytes& received) {
  if (lineEcho_ && !echoOnLine(received)) return false;
  return passThrough_ ? echo(received) : serveFrame(received);
}

bool Simulator::echoOnLine(const Bytes& bytes) {
  journal_.sent(bytes, "line echo");
  return output_.send(bytes);
}

const char* Simulator::whyIgnored(const Bytes& frame) {
  if (frame.size() < 4) return "ignored: too short";
  if (frame.size() > kMaxFrame) return "ignored: too long";
  if (!crcMatches(frame)) return "ignored: bad CRC";
  if (frame[0] == kBroadcast && !isWrite(frame[1])) return "ignored: broadcast other than a write";
  return nullptr;
}

bool Simulator::serveFrame(const Bytes& frame) {
  if (const char* why = whyIgnored(frame)) {
    journal_.received(frame, why);
    return true;
  }
  if (frame[0] == kBroadcast) {
    serveBroadcast(frame);
    return true;
  }
  std::vector<Adapter*> addressed;
  for (Adapter& adapter : adapters_)
    if (adapter.address() == frame[0]) addressed.push_back(&adapter);
  journal_.received(frame, addressed.empty() ? "ignored: other address" : "");
  for (Adapter* adapter : addressed)
    if (!answer(*adapter, frame)) return false;
  return true;
}

void Simulator::serveBroadcast(const Bytes& frame) {
  journal_.received(frame, "broadcast");
  const Bytes pdu = pduOf(frame);
  for (Adapter& adapter : adapters_) {
    adapter.serve(pdu);
    finish(adapter);
  }
}

bool Simulator::answer(Adapter& adapter, const Bytes& frame) {
  const Bytes pdu = pduOf(frame);
  const auto hits = faultsHitting(faults_, requestFacts(adapter.address(), pdu));
  const auto refusal = refusalBy(hits);
  Bytes reply = {frame[0]};
  const Bytes answerPdu = refusal ? exceptionAnswer(pdu[0], *refusal) : adapter.serve(pdu);
  reply.insert(reply.end(), answerPdu.begin(), answerPdu.end());
  appendCrc(reply);
  const Outgoing out = spoil(std::move(reply), hits);
  bool running = true;
  if (out.silent) {
    journal_.event("no answer from adapter " + std::to_string(adapter.address()) + ": " + out.note);
  } else {
    running = output_.pause(turnaroundMs_ + out.extraDelayMs);
    if (running) {
      journal_.sent(out.frame, out.note);
      running = output_.send(out.frame);
    }
  }
  finish(adapter);
  return running;
}

void Simulator::finish(Adapter& adapter) {
  const int before = adapter.address();
  if (const auto taken = adapter.finishRequest(); taken && *taken != before)
    journal_.event("adapter " + std::to_string(before) + " now answers at " +
                   std::to_string(*taken));
  if (adapter.passThroughRequested() && !passThrough_) {
    passThrough_ = true;
    journal_.event("pass-through: from now on every byte is echoed");
  }
}

bool Simulator::echo(const Bytes& bytes) {
  journal_.received(bytes, "pass-through");
  journal_.sent(bytes, "echo");
  return output_.send(bytes);
}

}  // namespace sim
