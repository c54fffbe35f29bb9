#include "faults.h"

#include "crc.h"

#include <algorithm>
#include <array>
#include <sstream>
#include <stdexcept>

namespace sim {
namespace {

struct KindInfo {
  const char* name;
  FaultKind kind;
  int defaultArgument;
};

constexpr std::array<KindInfo, 9> kKinds = {{{"silent", FaultKind::Silent, 0},
                                             {"late", FaultKind::Late, 200},
                                             {"noise", FaultKind::Noise, 4},
                                             {"badcrc", FaultKind::BadCrc, 0},
                                             {"truncate", FaultKind::Truncate, -1},
                                             {"short", FaultKind::Short, 3},
                                             {"exception", FaultKind::Exception, 4},
                                             {"oversize", FaultKind::Oversize, 100},
                                             {"twin", FaultKind::Twin, 0}}};

constexpr std::array<std::uint8_t, 4> kNoise = {0xFF, 0x00, 0x55, 0xAA};

[[noreturn]] void refuse(const std::string& text, const std::string& why) {
  throw std::invalid_argument("bad --fault \"" + text + "\": " + why);
}

int number(const std::string& text, const std::string& value, int low, int high) {
  std::size_t used = 0;
  int n = 0;
  try {
    n = std::stoi(value, &used, 0);
  } catch (const std::exception&) {
    refuse(text, "\"" + value + "\" is not a number");
  }
  if (used != value.size() || n < low || n > high)
    refuse(text, "\"" + value + "\" is out of range " + std::to_string(low) + ".." +
                     std::to_string(high));
  return n;
}

void parseKind(FaultRule& rule, const std::string& head) {
  const auto colon = head.find(':');
  const std::string name = head.substr(0, colon);
  const auto info =
      std::find_if(kKinds.begin(), kKinds.end(), [&](const KindInfo& k) { return name == k.name; });
  if (info == kKinds.end()) refuse(rule.text, "unknown kind \"" + name + "\"");
  rule.kind = info->kind;
  if (colon == std::string::npos) return;
  const std::string argument = head.substr(colon + 1);
  if (rule.kind == FaultKind::Silent || rule.kind == FaultKind::Twin)
    refuse(rule.text, name + " takes no argument");
  if (rule.kind == FaultKind::BadCrc) {
    if (argument != "swap") refuse(rule.text, "badcrc takes only \"swap\"");
    rule.argument = 1;
  } else {
    rule.argument = number(rule.text, argument, rule.kind == FaultKind::Exception ? 1 : 0,
                           rule.kind == FaultKind::Exception ? 255 : 60000);
  }
}

void parseFilter(FaultRule& rule, const std::string& item) {
  const auto equals = item.find('=');
  const std::string key = item.substr(0, equals);
  const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
  const auto limit = [&](FaultRule::Limit kind) {
    if (rule.limit != FaultRule::Limit::All) refuse(rule.text, "only one of nth, every, first");
    rule.limit = kind;
    rule.limitCount = number(rule.text, value, 1, 1000000);
  };
  if (key == "reg")
    rule.reg = number(rule.text, value, 0, 65535);
  else if (key == "fn")
    rule.function = number(rule.text, value, 1, 255);
  else if (key == "addr")
    rule.address = number(rule.text, value, 1, 247);
  else if (key == "nth")
    limit(FaultRule::Limit::Nth);
  else if (key == "every")
    limit(FaultRule::Limit::Every);
  else if (key == "first")
    limit(FaultRule::Limit::First);
  else
    refuse(rule.text, "unknown filter \"" + key + "\"");
}

bool passesFilters(const FaultRule& rule, const RequestFacts& request) {
  if (rule.function && *rule.function != request.function) return false;
  if (rule.address && *rule.address != request.address) return false;
  if (!rule.reg) return true;
  return request.firstRegister && *rule.reg >= *request.firstRegister &&
         *rule.reg < *request.firstRegister + request.registerCount;
}

bool withinLimit(const FaultRule& rule) {
  switch (rule.limit) {
    case FaultRule::Limit::Nth:
      return rule.seen == rule.limitCount;
    case FaultRule::Limit::Every:
      return rule.seen % rule.limitCount == 0;
    case FaultRule::Limit::First:
      return rule.seen <= rule.limitCount;
    case FaultRule::Limit::All:
      break;
  }
  return true;
}

int argumentOf(const FaultRule& rule) {
  if (rule.argument) return *rule.argument;
  return std::find_if(kKinds.begin(), kKinds.end(),
                      [&](const KindInfo& k) { return k.kind == rule.kind; })
      ->defaultArgument;
}

void replaceCrc(Bytes& frame) {
  frame.resize(frame.size() - 2);
  appendCrc(frame);
}

void apply(const FaultRule& rule, Outgoing& out) {
  Bytes& frame = out.frame;
  const int n = argumentOf(rule);
  switch (rule.kind) {
    case FaultKind::Oversize:
      frame.insert(frame.end() - 2, std::size_t(n), std::uint8_t(0));
      if (frame[1] == 3) frame[2] = std::uint8_t(frame[2] + n);
      replaceCrc(frame);
      break;
    case FaultKind::Short:
      frame.resize(std::min<std::size_t>(n, frame.size() - 2) + 2);
      replaceCrc(frame);
      break;
    case FaultKind::BadCrc:
      if (rule.argument) {
        std::swap(frame[frame.size() - 2], frame[frame.size() - 1]);
      } else {
        frame[frame.size() - 2] ^= 0xFF;
        frame[frame.size() - 1] ^= 0xFF;
      }
      break;
    case FaultKind::Truncate:
      frame.resize(std::min<std::size_t>(n < 0 ? frame.size() - 1 : n, frame.size()));
      break;
    case FaultKind::Noise:
      for (int i = n - 1; i >= 0; --i) frame.insert(frame.begin(), kNoise[i % kNoise.size()]);
      break;
    case FaultKind::Twin:
      frame.insert(frame.end(), frame.begin(), frame.end());
      break;
    case FaultKind::Late:
      out.extraDelayMs += n;
      break;
    case FaultKind::Silent:
      out.silent = true;
      break;
    case FaultKind::Exception:
      break;  // decided before the request was carried out
  }
}

}  // namespace

FaultRule parseFault(const std::string& text) {
  FaultRule rule;
  rule.text = text;
  std::istringstream items(text);
  std::string item;
  std::getline(items, item, ',');
  parseKind(rule, item);
  while (std::getline(items, item, ',')) parseFilter(rule, item);
  return rule;
}

RequestFacts requestFacts(int address, const Bytes& pdu) {
  RequestFacts facts{address, pdu[0], std::nullopt, 0};
  if (pdu.size() >= 5 && (pdu[0] == 3 || pdu[0] == 6 || pdu[0] == 16)) {
    facts.firstRegister = pdu[1] << 8 | pdu[2];
    facts.registerCount = pdu[0] == 6 ? 1 : pdu[3] << 8 | pdu[4];
  }
  return facts;
}

std::vector<const FaultRule*> faultsHitting(std::vector<FaultRule>& rules,
                                            const RequestFacts& request) {
  std::vector<const FaultRule*> hits;
  for (FaultRule& rule : rules) {
    if (!passesFilters(rule, request)) continue;
    ++rule.seen;
    if (withinLimit(rule)) hits.push_back(&rule);
  }
  // A fixed order, whatever the command line's: rebuild the answer first,
  // then spoil its CRC, cut it, put noise before it and delay it.
  std::stable_sort(hits.begin(), hits.end(),
                   [](const FaultRule* a, const FaultRule* b) { return a->kind < b->kind; });
  return hits;
}

std::optional<std::uint8_t> refusalBy(const std::vector<const FaultRule*>& hits) {
  for (const FaultRule* rule : hits)
    if (rule->kind == FaultKind::Exception) return std::uint8_t(argumentOf(*rule));
  return std::nullopt;
}

Outgoing spoil(Bytes frame, const std::vector<const FaultRule*>& hits) {
  Outgoing out;
  out.frame = std::move(frame);
  for (const FaultRule* rule : hits) {
    apply(*rule, out);
    out.note += (out.note.empty() ? "fault " : ", fault ") + rule->text;
  }
  return out;
}

}  // namespace sim
