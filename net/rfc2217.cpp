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
  const std::pair<std::uint8_t, std::string> commands[] = {
      {kSetBaudRate, rateBytes},
      {kSetDataSize, Bytes({static_cast<std::uint8_t>(line.dataBits)})},
      {kSetParity, Bytes({ParityCode(line.parity)})},
      {kSetStopSize, Bytes({StopSizeCode(line.stopBits)})},
      {kSetControl, Bytes({FlowControlCode(line)})},
      {kSetControl, Bytes({line.dtr != dtrDisable ? kDtrOn : kDtrOff})},
  };
  std::string out;
  const auto send = [&](std::uint8_t command, const std::string& value) {
    out += Bytes({kIac, kSb, kComPortOption, command}) + Escape(value) + Bytes({kIac, kSe});
    awaited_.push_back({static_cast<std::uint8_t>(command + kServerOffset), value});
  };
  for (const auto& [command, value] : commands) send(command, value);
  // RTS under hardware flow control belongs to the server's port.
  if (line.rts != rtsHandshake)
    send(kSetControl, Bytes({line.rts != rtsDisable ? kRtsOn : kRtsOff}));
  return out;
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
  if (option == kComPortOption && before == OptionState::WantYes &&
      theirs_[kComPortOption] != OptionState::Yes && ours_[kComPortOption] != OptionState::Yes)
    refused_ = true;
  return before == OptionState::Yes ? Bytes({kIac, no, option}) : std::string();
}

void TRfc2217Client::Subnegotiation(const std::string& body) {
  if (body.size() < 2 || static_cast<std::uint8_t>(body[0]) != kComPortOption) return;
  const auto command = static_cast<std::uint8_t>(body[1]);
  const std::string value = body.substr(2);
  // The three SET-CONTROL answers share a code and differ in their values;
  // notifications are not awaited.
  auto answer = std::find_if(awaited_.begin(), awaited_.end(), [&](const Answer& a) {
    return a.command == command && a.value == value;
  });
  if (answer == awaited_.end()) {
    answer = std::find_if(awaited_.begin(), awaited_.end(),
                          [&](const Answer& a) { return a.command == command; });
    if (answer == awaited_.end()) return;
    refused_ = true;  // the server's port kept another value
  }
  awaited_.erase(answer);
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
  }
  return reply;
}

bool TRfc2217Client::Settled() const {
  const bool agreed =
      ours_[kComPortOption] == OptionState::Yes || theirs_[kComPortOption] == OptionState::Yes;
  return agreed && awaited_.empty() && !refused_;
}

bool TRfc2217Client::Refused() const { return refused_; }
