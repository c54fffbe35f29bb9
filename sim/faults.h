#pragma once
// Faults on demand: rules that spoil answers so the tool's error paths can be
// driven through a whole flow. Syntax of one rule (option --fault):
//
//   KIND[:ARG][,reg=R][,fn=F][,addr=A][,nth=N|every=N|first=N]
//
//   silent            no answer at all
//   late[:MS]         the answer comes MS ms later than usual (200)
//   noise[:N]         N noise bytes go before the answer (4)
//   badcrc[:swap]     the CRC is inverted, or its two bytes swapped
//   truncate[:N]      only the first N bytes go out (all but the last)
//   short[:N]         the answer is cut to N bytes and given a valid CRC (3)
//   exception[:CODE]  the request is refused with this exception code (4)
//   oversize[:N]      N extra data bytes, byte count and CRC kept valid (100)
//   twin              a second adapter at the same address answers too: the
//                     same answer follows at once, as if both had sent it
//
// Numbers may be decimal or 0x hex. A rule looks only at requests that an
// adapter answers and that pass its filters: reg=R (the request touches
// register R), fn=F (function code), addr=A (adapter address). Of those it hits
// all, or only the Nth (nth), every Nth (every) or the first N (first). Only
// "exception" stops the request from being carried out; the others spoil the
// answer of a request that took effect.

#include "crc.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class FaultKind { Exception, Oversize, Short, BadCrc, Truncate, Noise, Twin, Late, Silent };

struct FaultRule {
  FaultKind kind = FaultKind::Silent;
  std::optional<int> argument;  // absent: the kind's default; for badcrc 1 means swap
  std::optional<int> reg, function, address;
  enum class Limit { All, Nth, Every, First } limit = Limit::All;
  int limitCount = 0;
  std::string text;  // as given, for the journal
  int seen = 0;      // requests that passed the filters so far
};

// Throws std::invalid_argument with the message for the user.
FaultRule parseFault(const std::string& text);

// What a rule needs to know of a request.
struct RequestFacts {
  int address = 0;
  int function = 0;
  std::optional<int> firstRegister;
  int registerCount = 0;
};

RequestFacts requestFacts(int address, const Bytes& pdu);

// The rules that hit this request; advances the rules' counters.
std::vector<const FaultRule*> faultsHitting(std::vector<FaultRule>& rules,
                                            const RequestFacts& request);

// The exception code a hitting "exception" rule answers with, if any.
std::optional<std::uint8_t> refusalBy(const std::vector<const FaultRule*>& hits);

struct Outgoing {
  Bytes frame;
  double extraDelayMs = 0;
  bool silent = false;
  std::string note;  // the faults applied, for the journal
};

// The answer frame (with its CRC) as the hitting faults let it go out.
Outgoing spoil(Bytes frame, const std::vector<const FaultRule*>& hits);

}  // namespace sim
