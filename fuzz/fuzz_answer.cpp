// An adapter's answers as the collection loop sees them: for every frame the
// tool sends, the input decides what comes back (raw bytes, a CRC-correct
// frame, the request's echo) and how it is cut into bursts and delayed, in
// virtual time. A few exchanges run in a row on one line, so late bytes of
// one meet the next. Checked against an independent CRC:
// - each verdict (read, probe, write, pass-through) is the one its answer
//   deserves, and a read takes its bytes only from an accepted answer;
// - the address search sends the reads it must, in order, stops at the
//   first acceptable answer and stays within its time bound;
// - the steps with a retry send at most two tries per request and nothing
//   after one that failed twice;
// - every frame the tool sends carries a correct CRC;
// - nothing but the device float's overflow escapes, and that only for an
//   accepted answer that holds such a number.

#include "fuzz/check.h"
#include "modbus/device_float.h"
#include "modbus/register_map.h"
#include "modbus/service.h"
#include "modbus/session.h"
#include "sim/crc.h"
#include "tests/modbus/scripted_link.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;

std::span<const std::uint8_t> SpanOf(const std::string& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

bool CrcCorrect(const std::string& bytes) { return sim::crcMatches(SpanOf(bytes)); }

// An answer the tool can take as CRC-correct: one longer than its frame
// buffer (102 bytes) it cannot check, and never takes.
bool Checkable(const std::string& bytes) { return bytes.size() <= 102 && CrcCorrect(bytes); }

std::string WithCrc(std::string body) {
  const std::uint16_t crc = sim::crc16(SpanOf(body));
  body += static_cast<char>(crc & 0xFF);
  body += static_cast<char>(crc >> 8);
  return body;
}

uint8_t At(const std::string& bytes, size_t i) { return static_cast<uint8_t>(bytes[i]); }

// What comes back for each frame: an answer of the kind the input picks,
// cut into up to four delayed bursts.
std::vector<Burst> Answer(FuzzedDataProvider& input, const std::string& request) {
  std::string answer = input.ConsumeRandomLengthString(160);
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      break;  // bytes as they come
    case 1:   // a frame from the adapter asked, with the request's function or its refusal
      answer = WithCrc(request.substr(0, 2) + answer);
      if (input.ConsumeBool()) answer[1] = static_cast<char>(answer[1] | kExceptionFlag);
      break;
    case 2:  // a frame from anyone
      answer = WithCrc(answer);
      break;
    case 3:  // the echo a write is acknowledged with
      answer = WithCrc(request.substr(0, 6));
      break;
  }
  std::vector<Burst> bursts;
  for (int left = input.ConsumeIntegralInRange(1, 4); left > 0 && !answer.empty(); --left) {
    const size_t length =
        left == 1 ? answer.size() : input.ConsumeIntegralInRange<size_t>(0, answer.size());
    bursts.push_back({input.ConsumeIntegralInRange(0, 250), answer.substr(0, length)});
    answer.erase(0, length);
  }
  return bursts;
}

// The device float's exponent field in wire bytes w2, w3.
int ExponentField(uint8_t w2, uint8_t w3) { return (w2 & 0x7F) << 1 | w3 >> 7; }

struct Line {
  VirtualClock clock;
  ScriptedLink link{clock};
  Session session{link, clock};
  ExchangeState& x = session.Exchange();

  milliseconds Now() const { return std::chrono::duration_cast<milliseconds>(clock.Now()); }
};

// The verdict a parameter read's answer deserves.
int32_t ReadVerdict(const std::string& a, uint8_t address) {
  if (a.size() < 3) return kStatusNoAnswer;
  if (!Checkable(a) || At(a, 0) != address || (At(a, 1) & ~kExceptionFlag) != kReadRegisters)
    return kStatusBadAnswer;
  if (At(a, 1) & kExceptionFlag) return kStatusRefused;
  return a.size() >= 9 ? kStatusAccepted : kStatusBadAnswer;
}

// The verdict a write's answer deserves: only the echo of its first six bytes.
int32_t WriteVerdict(const std::string& a, const std::string& request) {
  if (a.size() < 3) return kStatusNoAnswer;
  if (!Checkable(a)) return kStatusBadAnswer;
  if (At(a, 1) & kExceptionFlag) return kStatusRefused;
  return a.size() == 8 && a.compare(0, 6, request, 0, 6) == 0 ? kStatusAccepted : kStatusBadAnswer;
}

void ReadOne(Line& l, int index) {
  l.x.ParamIndex = index;
  const auto raw = l.session.Params().ParamRaw;
  try {
    l.session.Requests().ReadParameter(0);
  } catch (const EFloatOverflow&) {
    const std::string& a = l.x.ResponseText;
    FUZZ_REQUIRE(IsFloatParam(index) && ReadVerdict(a, l.x.DeviceAddress) == kStatusAccepted &&
                 ExponentField(At(a, 5), At(a, 6)) >= 254);
    return;
  }
  const std::string& a = l.x.ResponseText;
  FUZZ_REQUIRE(l.x.ResponseStatus == ReadVerdict(a, l.x.DeviceAddress));
  const int offset = 4 * index;
  if (l.x.ResponseStatus == kStatusAccepted) {
    for (int i = 0; i < 4; ++i)
      FUZZ_REQUIRE(l.session.Params().ParamRaw[offset + i] == At(a, 3 + i));
    if (IsFloatParam(index))
      FUZZ_REQUIRE(l.x.ParamValue == DeviceFloatToDouble(At(a, 3), At(a, 4), At(a, 5), At(a, 6)));
  } else {
    FUZZ_REQUIRE(l.session.Params().ParamRaw == raw);  // nothing taken from an unusable answer
  }
}

void WriteOne(Line& l, FuzzedDataProvider& input) {
  const size_t sent = l.link.Frames().size();
  if (input.ConsumeBool()) {
    l.session.Requests().WriteSingleRegister(input.ConsumeIntegral<uint16_t>(),
                                             input.ConsumeIntegral<uint16_t>());
  } else {
    l.x.ParamIndex = input.ConsumeIntegralInRange(1, 16);
    for (uint8_t& byte : l.session.Params().ParamImage) byte = input.ConsumeIntegral<uint8_t>();
    l.session.Requests().WriteParameter();
  }
  FUZZ_REQUIRE(l.link.Frames().size() == sent + 1);
  FUZZ_REQUIRE(l.x.ResponseStatus == WriteVerdict(l.x.ResponseText, l.link.Frames().back()));
}

void Probe(Line& l) {
  l.session.Requests().ReadParameter(1);
  const std::string& request = l.link.Frames().back();
  FUZZ_REQUIRE(request ==
               WithCrc(std::string{static_cast<char>(l.x.DeviceAddress), 3, 0, 0, 0, 7}));
}

void PassThrough(Line& l) {
  const bool done = SwitchAdapterToPassThrough(l.session);
  const std::string& a = l.x.ResponseText;
  FUZZ_REQUIRE(done == (a.size() >= 3 && Checkable(a) && a.size() != 5));
  FUZZ_REQUIRE(l.x.ResponseStatus == (a.size() < 3    ? kStatusNoAnswer
                                      : !Checkable(a) ? kStatusBadAnswer
                                                      : static_cast<int32_t>(a.size())));
}

void Search(Line& l, FuzzedDataProvider& input) {
  const int from = input.ConsumeIntegralInRange(0, 250);
  const int to = from + input.ConsumeIntegralInRange(0, 4);
  const size_t sent = l.link.Frames().size();
  const milliseconds start = l.Now();
  const int found = FindAdapterAddress(
      l.session, [] {}, from, to);

  const int first = std::max(from, kFirstAdapterAddress);
  const int last = found ? found : std::min(to, kLastAdapterAddress);
  const std::vector<std::string>& frames = l.link.Frames();
  FUZZ_REQUIRE(frames.size() - sent == static_cast<size_t>(std::max(last - first + 1, 0)));
  for (int address = first; address <= last; ++address)
    FUZZ_REQUIRE(frames[sent + address - first] ==
                 WithCrc(std::string{static_cast<char>(address), 3, 1, 1, 0, 2}));
  if (found) {
    FUZZ_REQUIRE(found >= first && found <= to && found <= kLastAdapterAddress);
    FUZZ_REQUIRE(At(l.x.ResponseText, 0) == found && Checkable(l.x.ResponseText));
  }
  // After an unanswered read its answer may still come: the first probe
  // waits until it no longer can (1029 ms after that read was sent, for its
  // 8-byte request and the longest read answer) and then for the line to fall
  // quiet (450 ms at most); then each address costs 120 ms at most, however
  // noisy the line.
  FUZZ_REQUIRE(l.Now() - start <=
               milliseconds(1029 + 450) + (last - first + 1) * milliseconds(120));
}

// The parameter a read or write frame names.
int ParamOf(const std::string& frame) { return ((At(frame, 2) << 8 | At(frame, 3)) - 255) / 2; }

// Each parameter tried once or twice, in order; after one failed twice nothing.
void CheckTries(const std::vector<std::string>& frames, size_t sent, bool complete) {
  int previous = 0, tries = 0;
  for (size_t i = sent; i < frames.size(); ++i) {
    const int index = ParamOf(frames[i]);
    tries = index == previous ? tries + 1 : 1;
    FUZZ_REQUIRE(index == previous || index == previous + 1);
    FUZZ_REQUIRE(tries <= 2);
    previous = index;
  }
  FUZZ_REQUIRE(complete ? previous == kParamCount : tries == 2);
}

void ReadAll(Line& l) {
  const size_t sent = l.link.Frames().size();
  l.session.Params().ReadFailed = 0;
  int shown = 0;
  bool complete = false;
  try {
    complete = ReadAllParameters(
        l.session, [&shown](const ParameterReading& p) { FUZZ_REQUIRE(p.index == ++shown); }, 50);
  } catch (const EFloatOverflow&) {
    const std::string& a = l.x.ResponseText;
    FUZZ_REQUIRE(ReadVerdict(a, l.x.DeviceAddress) == kStatusAccepted &&
                 ExponentField(At(a, 5), At(a, 6)) >= 254);
    return;
  }
  FUZZ_REQUIRE(complete == (shown == kParamCount));
  FUZZ_REQUIRE(l.session.Params().ReadFailed == (complete ? 0 : 1));
  CheckTries(l.link.Frames(), sent, complete);
}

void WriteAll(Line& l, FuzzedDataProvider& input) {
  const size_t sent = l.link.Frames().size();
  for (uint8_t& byte : l.session.Params().ParamImage) byte = input.ConsumeIntegral<uint8_t>();
  int written = 0;
  const bool complete =
      WriteAllParameters(l.session, [&written](int index) { FUZZ_REQUIRE(index == ++written); });
  FUZZ_REQUIRE(complete == (written == kParamCount));
  CheckTries(l.link.Frames(), sent, complete);
}

void WriteAddress(Line& l, FuzzedDataProvider& input) {
  const size_t sent = l.link.Frames().size();
  const int address = input.ConsumeIntegralInRange(1, 247);
  const bool acknowledged = WriteAddressRegister(l.session, address);
  const std::vector<std::string>& frames = l.link.Frames();
  const size_t tries = frames.size() - sent;
  FUZZ_REQUIRE(tries == 1 || tries == 2);
  FUZZ_REQUIRE(acknowledged == (WriteVerdict(l.x.ResponseText, frames.back()) == kStatusAccepted));
  FUZZ_REQUIRE(acknowledged || tries == 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  Line l;
  l.x.DeviceAddress = input.ConsumeIntegralInRange(1, 247);
  l.link.SetResponder([&input](const std::string& frame) { return Answer(input, frame); });
  for (int exchanges = input.ConsumeIntegralInRange(1, 4); exchanges > 0; --exchanges) {
    const size_t sent = l.link.Frames().size();
    switch (input.ConsumeIntegralInRange(0, 7)) {
      case 0:
        ReadOne(l, input.ConsumeIntegralInRange(1, kParamCount));
        break;
      case 1:
        Probe(l);
        break;
      case 2:
        WriteOne(l, input);
        break;
      case 3:
        PassThrough(l);
        break;
      case 4:
        Search(l, input);
        break;
      case 5:
        ReadAll(l);
        break;
      case 6:
        WriteAll(l, input);
        break;
      case 7:
        WriteAddress(l, input);
        break;
    }
    for (size_t i = sent; i < l.link.Frames().size(); ++i)
      FUZZ_REQUIRE(CrcCorrect(l.link.Frames()[i]));
  }
  return 0;
}
