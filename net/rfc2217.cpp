#include "net/rfc2217.h"

#include <algorithm>

namespace {

// Telnet (RFC 854, 855) and its options.
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands; the server answers each with its code plus 100.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kServerOffset = 100;

// SET-CONTROL values.
constexpr std::uint8_t kNoFlowControl = 1;
constexpr std::uint8_t kXonXoffFlowControl = 2;
constexpr std::uint8_t kHardwareFlowControl = 3;
constexpr std::uint8_t kDtrOn = 8;
constexpr std::uint8_t kDtrOff = 9;
constexpr std::uint8_t kRtsOn = 11;
constexpr std::uint8_t kRtsOff = 12;

bool Supported(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

std::string Bytes(std::initializer_list<std::uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// SET-PARITY: 1 none, 2 odd, 3 even, 4 mark, 5 space; the settings' order plus one.
std::uint8_t ParityCode(TParityBits parity) { return static_cast<std::uint8_t>(parity + 1); }

// SET-STOPSIZE: 1 one, 2 two, 3 one and a half.
std::uint8_t StopSizeCode(TStopBits stopBits) {
  switch (stopBits) {
    case sbOneStopBit:
      return 1;
    case sbTwoStopBits:
      return 2;
    case sbOne5StopBits:
      return 3;
  }
  return 1;
}

std::uint8_t FlowControlCode(const comdev::LineSettings& line) {
  if (line.rts == rtsHandshake || line.outCTSFlow) return kHardwareFlowControl;
  if (line.xonXoffOut || line.xonXoffIn) return kXonXoffFlowControl;
  return kNoFlowControl;
}

// SET-CONTROL's values come in groups that share the answer's code: outbound
// flow control 0..3, BREAK 4..6, DTR 7..9, RTS 10..12, inbound flow 13..19.
int ControlGroup(std::uint8_t value) {
  constexpr std::uint8_t kGroupEnds[] = {3, 6, 9, 12};
  int group = 0;
  while (group < 4 && value > kGroupEnds[group]) ++group;
  return group;
}

std::string ControlText(std::uint8_t value) {
  switch (value) {
    case kNoFlowControl:
      return "flow control none";
    case kXonXoffFlowControl:
      return "flow control XON/XOFF";
    case kHardwareFlowControl:
      return "flow control hardware";
    case kDtrOn:
      return "DTR on";
    case kDtrOff:
      return "DTR off";
    case kRtsOn:
      return "RTS on";
    case kRtsOff:
      return "RTS off";
  }
  return "control value " + std::to_string(value);
}

// A framing command's value as a person reads it; `command` is the SET
// command's code.
std::string FramingText(std::uint8_t command, const std::string& value) {
  if (value.empty()) return "nothing";
  const auto first = static_cast<std::uint8_t>(value[0]);
  switch (command) {
    case kSetBaudRate: {
      std::uint32_t rate = 0;
      for (char byte : value) rate = rate << 8 | static_cast<std::uint8_t>(byte);
      return std::to_string(rate) + " bit/s";
    }
    case kSetDataSize:
      return std::to_string(first) + " data bits";
    case kSetParity: {
      constexpr const char* kParities[] = {"none", "odd", "even", "mark", "space"};
      return first >= 1 && first <= 5 ? std::string("parity ") + kParities[first - 1]
                                      : "parity " + std::to_string(first);
    }
    case kSetStopSize: {
      constexpr const char* kStopBits[] = {"1 stop bit", "2 stop bits", "1.5 stop bits"};
      return first >= 1 && first <= 3 ? kStopBits[first - 1] : std::to_string(first) + " stop bits";
    }
  }
  return "value " + std::to_string(first);
}

}  // namespace

std::string TRfc2217Client::Escape(std::string_view data) {
  std::string escaped;
  escaped.reserve(data.size());
  for (char byte : data) {
    escaped += byte;
    if (static_cast<std::uint8_t>(byte) == kIac) escaped += byte;
  }
  return escaped;
}

std::string TRfc2217Client::Ask(std::uint8_t request, std::uint8_t option) {
  (request == kWill ? ours_ : theirs_)[option] = OptionState::WantYes;
  return Bytes({kIac, request, option});
}

std::string TRfc2217Client::Greeting() {
  return Ask(kWill, kBinary) + Ask(kDo, kBinary) + Ask(kDo, kSuppressGoAhead) +
         Ask(kWill, kComPortOption);
}

std::string TRfc2217Client::LineCommands(const comdev::LineSettings& line) {
  const auto rate = static_cast<std::uint32_t>(line.baudRate);
  const std::string rateBytes =
      Bytes({static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
             static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)});
  std::string out;
  awaited_.clear();
  // `answer` is the value the server must answer with.
  const auto send = [&](std::uint8_t command, const std::string& value, const std::string& answer) {
    out += Bytes({kIac, kSb, kComPortOption, command}) + Escape(value) + Bytes({kIac, kSe});
    awaited_.push_back(
        {static_cast<std::uint8_t>(command + kServerOffset), answer, command != kSetControl, {}});
  };
  send(kSetBaudRate, rateBytes, rateBytes);
  send(kSetDataSize, Bytes({static_cast<std::uint8_t>(line.dataBits)}),
       Bytes({static_cast<std::uint8_t>(line.dataBits)}));
  send(kSetParity, Bytes({ParityCode(line.parity)}), Bytes({ParityCode(line.parity)}));
  send(kSetStopSize, Bytes({StopSizeCode(line.stopBits)}), Bytes({StopSizeCode(line.stopBits)}));
  const std::uint8_t flow = FlowControlCode(line);
  send(kSetControl, Bytes({flow}), Bytes({flow}));
  const std::uint8_t dtr = line.dtr != dtrDisable ? kDtrOn : kDtrOff;
  send(kSetControl, Bytes({dtr}), Bytes({dtr}));
  // RTS under hardware flow control belongs to the server's port.
  if (line.rts != rtsHandshake) {
    const std::uint8_t rts = line.rts != rtsDisable ? kRtsOn : kRtsOff;
    send(kSetControl, Bytes({rts}), Bytes({rts}));
  }
  // Last, the rate asked for again (a rate of 0 asks for the current one): a
  // server that answers in order has answered the controls before it.
  send(kSetBaudRate, Bytes({0, 0, 0, 0}), rateBytes);
  return out;
}

void TRfc2217Client::Refuse(const std::string& why) {
  if (refusal_.empty()) refusal_ = why;
}

// RFC 1143's rules for one received verb, without its queue: an option
// asked for and granted is on without a reply; one the server asks for is
// granted when supported and refused otherwise; one switched off is
// acknowledged once.
std::string TRfc2217Client::Negotiate(std::uint8_t verb, std::uint8_t option) {
  const bool aboutUs = verb == kDo || verb == kDont;
  const bool positive = verb == kDo || verb == kWill;
  OptionState& state = (aboutUs ? ours_ : theirs_)[option];
  const std::uint8_t yes = aboutUs ? kWill : kDo;
  const std::uint8_t no = aboutUs ? kWont : kDont;
  if (positive) {
    if (state == OptionState::WantYes) {
      state = OptionState::Yes;
    } else if (state == OptionState::No) {
      state = Supported(option) ? OptionState::Yes : OptionState::No;
      return Bytes({kIac, state == OptionState::Yes ? yes : no, option});
    }
    return {};
  }
  const OptionState before = std::exchange(state, OptionState::No);
  // Without binary transmission the stream is a terminal's, whose carriage
  // returns the server may change: Modbus frames would not pass unchanged.
  if (option == kBinary && before != OptionState::No)
    Refuse("the server refused binary transmission");
  if (option == kComPortOption && before == OptionState::WantYes && !Agreed(option, false))
    Refuse("the server refused the COM port option");
  return before == OptionState::Yes ? Bytes({kIac, no, option}) : std::string();
}

void TRfc2217Client::Subnegotiation(const std::string& body) {
  if (body.size() < 2 || static_cast<std::uint8_t>(body[0]) != kComPortOption) return;
  const auto command = static_cast<std::uint8_t>(body[1]);
  const std::string value = body.substr(2);
  // The SET-CONTROL answers share a code and differ in their values' groups;
  // notifications are not awaited.
  const auto answers = [&](const Answer& a) {
    return a.command == command && (command != kSetControl + kServerOffset || value.empty() ||
                                    ControlGroup(static_cast<std::uint8_t>(a.value[0])) ==
                                        ControlGroup(static_cast<std::uint8_t>(value[0])));
  };
  const auto answer = std::find_if(awaited_.begin(), awaited_.end(), answers);
  if (answer == awaited_.end()) return;
  if (answer->value == value) {
    awaited_.erase(answer);
  } else if (answer->required) {
    const auto asked = static_cast<std::uint8_t>(command - kServerOffset);
    Refuse("the server's port keeps " + FramingText(asked, value) + ", not " +
           FramingText(asked, answer->value));
    awaited_.erase(answer);
  } else {
    answer->other = value.empty() ? "nothing" : ControlText(static_cast<std::uint8_t>(value[0]));
  }
}

std::string TRfc2217Client::Command(std::uint8_t byte) {
  switch (parse_) {
    case Parse::Data:  // not reached: data bytes are taken by Receive
      return {};
    case Parse::Iac:
      if (byte == kSb) {
        sub_.clear();
        parse_ = Parse::Sub;
      } else if (byte >= kWill && byte <= kDont) {
        verb_ = byte;
        parse_ = Parse::Verb;
      } else {
        parse_ = Parse::Data;  // NOP, go-ahead and the like: nothing to do
      }
      return {};
    case Parse::Verb:
      parse_ = Parse::Data;
      return Negotiate(verb_, byte);
    case Parse::Sub:
      if (byte == kIac)
        parse_ = Parse::SubIac;
      else
        sub_ += static_cast<char>(byte);
      return {};
    case Parse::SubIac:
      if (byte == kSe) {
        parse_ = Parse::Data;
        Subnegotiation(sub_);
      } else {
        parse_ = Parse::Sub;  // a doubled 255 inside the command
        if (byte == kIac) sub_ += static_cast<char>(byte);
      }
      return {};
  }
  return {};
}

std::string TRfc2217Client::Receive(std::string_view bytes, std::string& data) {
  std::string reply;
  for (char c : bytes) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (parse_ == Parse::Data) {
      if (byte == kIac)
        parse_ = Parse::Iac;
      else
        data += c;
    } else if (parse_ == Parse::Iac && byte == kIac) {
      data += c;  // a doubled 255 is one data byte
      parse_ = Parse::Data;
    } else {
      reply += Command(byte);
    }
    if (sub_.size() > kMaxSubnegotiation) {
      overrun_ = true;
      break;
    }
  }
  return reply;
}

bool TRfc2217Client::Agreed(std::uint8_t option, bool bothWays) const {
  const bool ours = ours_[option] == OptionState::Yes;
  const bool theirs = theirs_[option] == OptionState::Yes;
  return bothWays ? ours && theirs : ours || theirs;
}

bool TRfc2217Client::Settled() const {
  const bool framed =
      std::none_of(awaited_.begin(), awaited_.end(), [](const Answer& a) { return a.required; });
  return Agreed(kBinary, true) && Agreed(kComPortOption, false) && framed && refusal_.empty();
}

std::vector<std::string> TRfc2217Client::Unconfirmed() const {
  std::vector<std::string> notes;
  for (const Answer& a : awaited_) {
    if (a.required) continue;
    const std::string asked = ControlText(static_cast<std::uint8_t>(a.value[0]));
    notes.push_back(asked + (a.other.empty() ? " (no answer)" : " (answered " + a.other + ")"));
  }
  return notes;
}
