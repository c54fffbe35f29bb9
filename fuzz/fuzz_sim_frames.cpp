// The simulator's frame handling on arbitrary requests, with one fault rule
// (itself read from the input) or none. Whatever comes off the line:
// - an answer goes only to a CRC-correct request of 4..256 bytes addressed
//   to one of the adapters, from that adapter, once;
// - unless a rule that spoils CRCs was asked for, every answer carries a
//   valid CRC and answers the request's function (or refuses it, in five
//   bytes);
// - a read answer holds the registers asked for; what a write of parameter
//   registers was answered for, the adapter keeps;
// - after the pass-through command every byte comes back as it went.

#include "fuzz/check.h"
#include "sim/crc.h"
#include "sim/journal.h"
#include "sim/simulator.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using sim::Bytes;

class Recorder final : public sim::Output {
 public:
  bool pause(double ms) override {
    FUZZ_REQUIRE(ms >= 0);
    return true;
  }
  bool send(const Bytes& bytes) override {
    sent.push_back(bytes);
    return true;
  }
  std::vector<Bytes> sent;
};

int Word(const Bytes& frame, size_t at) { return frame[at] << 8 | frame[at + 1]; }

// Kinds that leave an answer's CRC correct (or send none).
bool KeepsCrc(const std::vector<sim::FaultRule>& rules) {
  return std::all_of(rules.begin(), rules.end(), [](const sim::FaultRule& rule) {
    switch (rule.kind) {
      case sim::FaultKind::Silent:
      case sim::FaultKind::Late:
      case sim::FaultKind::Short:
      case sim::FaultKind::Exception:
      case sim::FaultKind::Oversize:
        return true;
      default:
        return false;
    }
  });
}

// Kinds that keep an answer as an adapter would make it: delayed, missing,
// or a refusal in place of the adapter's own answer.
bool KeepsContent(const std::vector<sim::FaultRule>& rules) {
  return std::all_of(rules.begin(), rules.end(), [](const sim::FaultRule& rule) {
    return rule.kind == sim::FaultKind::Late || rule.kind == sim::FaultKind::Silent ||
           rule.kind == sim::FaultKind::Exception;
  });
}

std::uint16_t RegisterOf(const sim::Adapter& adapter, int reg) {
  const auto& bytes = adapter.memory().param((reg - 257) / 2 + 1);
  const int half = (reg - 257) % 2;
  return std::uint16_t(bytes[2 * half] << 8 | bytes[2 * half + 1]);
}

bool ParamRegister(int reg) { return reg >= 257 && reg <= 288; }

void CheckAnswer(const Bytes& request, const Bytes& answer, const sim::Adapter& adapter,
                 bool contentKept) {
  if (!contentKept) {
    // Cut or padded, but still a frame with its CRC, from the adapter asked
    // (one cut below three bytes has no room for both).
    FUZZ_REQUIRE(answer.size() < 3 || (sim::crcMatches(answer) && answer[0] == request[0]));
    return;
  }
  FUZZ_REQUIRE(sim::crcMatches(answer));
  FUZZ_REQUIRE(answer[0] == request[0]);
  const int function = request[1];
  if (answer.size() >= 2 && answer[1] == (function | 0x80)) {
    FUZZ_REQUIRE(answer.size() == 5);
    return;
  }
  FUZZ_REQUIRE(answer[1] == function);
  if (function == 3) {
    const int first = Word(request, 2), count = Word(request, 4);
    FUZZ_REQUIRE(answer[2] == 2 * count && answer.size() == 5u + 2 * count);
    for (int i = 0; i < count; ++i)
      if (ParamRegister(first + i))
        FUZZ_REQUIRE(Word(answer, 3 + 2 * i) == RegisterOf(adapter, first + i));
  } else if (function == 6) {
    FUZZ_REQUIRE(Bytes(answer.begin(), answer.end() - 2) ==
                 Bytes(request.begin(), request.end() - 2));
  } else if (function == 16) {
    FUZZ_REQUIRE(answer.size() == 8 &&
                 std::equal(answer.begin(), answer.begin() + 6, request.begin()));
    const int first = Word(request, 2), count = Word(request, 4);
    for (int i = 0; i < count; ++i)
      FUZZ_REQUIRE(RegisterOf(adapter, first + i) == Word(request, 7 + 2 * i));
  } else {
    FUZZ_REQUIRE(false);  // any other function is refused
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<sim::FaultRule> rules;
  if (input.ConsumeBool()) {
    try {
      rules.push_back(sim::parseFault(input.ConsumeRandomLengthString(40)));
    } catch (const std::invalid_argument&) {
      return 0;
    }
  }
  std::vector<sim::Adapter> adapters;
  for (int count = input.ConsumeIntegralInRange(1, 2); count > 0; --count)
    adapters.emplace_back(sim::factoryMemory(input.ConsumeIntegralInRange(1, 247), 0), "");
  sim::Journal journal([] { return 0.0; });
  Recorder output;
  sim::Simulator simulator(output, journal, std::move(adapters), rules, 3);
  const bool crcKept = KeepsCrc(rules);
  const bool contentKept = KeepsContent(rules);

  while (input.remaining_bytes() > 0) {
    Bytes frame = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 300));
    // Most requests get a correct CRC, or little would get past the check.
    if (input.ConsumeBool()) sim::appendCrc(frame);
    const bool passThrough = simulator.passThrough();
    const std::vector<const sim::Adapter*> addressed = [&] {
      std::vector<const sim::Adapter*> found;
      if (frame.size() >= 1)
        for (const sim::Adapter& adapter : simulator.adapters())
          if (adapter.address() == frame[0]) found.push_back(&adapter);
      return found;
    }();
    const size_t before = output.sent.size();
    FUZZ_REQUIRE(simulator.serve(frame));
    const std::vector<Bytes> answers(output.sent.begin() + before, output.sent.end());

    if (passThrough) {
      FUZZ_REQUIRE(answers.size() == 1 && answers[0] == frame);
      continue;
    }
    const bool answerable =
        frame.size() >= 4 && frame.size() <= 256 && sim::crcMatches(frame) && frame[0] != 0;
    FUZZ_REQUIRE(answers.size() <= (answerable ? addressed.size() : 0));
    if (rules.empty()) FUZZ_REQUIRE(answers.size() == (answerable ? addressed.size() : 0));
    if (!crcKept) continue;
    // Adapters at one address take the same writes, so any of them shows
    // what the memory holds after the request.
    for (const Bytes& answer : answers) CheckAnswer(frame, answer, *addressed.front(), contentKept);
  }
  return 0;
}
