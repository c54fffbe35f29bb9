#include "net/netline.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <future>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// How often a name lookup, which cannot wait on the stop event, is looked at.
constexpr auto kLookupStep = std::chrono::milliseconds(5);

struct Scheme {
  std::string_view prefix;
  TNetMode mode;
  std::string_view defaultPort;  // empty: the name must give one
};
constexpr Scheme kSchemes[] = {{"tcp://", TNetMode::Raw, {}},
                               {"rfc2217://", TNetMode::Rfc2217, {}},
                               {"modbus-tcp://", TNetMode::ModbusTcp, "502"}};

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// The whole text as a decimal number within [low, high].
std::optional<int> Number(std::string_view text, int low, int high) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [next, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || next != end || value < low || value > high)
    return std::nullopt;
  return value;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// Splits "HOST:PORT" or "[V6]:PORT" into `parsed`, or says what is wrong. A
// scheme with a default port takes "HOST" and "[V6]" too.
std::optional<TNetNameProblem> SplitHostPort(std::string_view text, std::string_view defaultPort,
                                             TNetPortName& parsed) {
  const bool portOptional = !defaultPort.empty();
  size_t colon = 0;
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string_view::npos)
      return TNetNameProblem{TNetNameFault::UnclosedBracket, std::string(text)};
    const bool portless = close + 1 == text.size();
    if ((portless && !portOptional) || (!portless && text[close + 1] != ':'))
      return TNetNameProblem{TNetNameFault::NoPort, std::string(text)};
    parsed.host = text.substr(1, close - 1);
    colon = portless ? std::string_view::npos : close + 1;
  } else {
    colon = text.rfind(':');
    // Without brackets an IPv6 address cannot be told from its port.
    if (portOptional && colon != std::string_view::npos && text.find(':') != colon)
      return TNetNameProblem{TNetNameFault::BareIpv6Address, std::string(text)};
    if (colon == std::string_view::npos && !portOptional)
      return TNetNameProblem{TNetNameFault::NoPort, std::string(text)};
    parsed.host = text.substr(0, colon);
    if (parsed.host.find(':') != std::string::npos)
      return TNetNameProblem{TNetNameFault::BareIpv6Address, parsed.host};
  }
  parsed.port = colon == std::string_view::npos ? defaultPort : text.substr(colon + 1);
  if (parsed.host.empty()) return TNetNameProblem{TNetNameFault::EmptyHost, {}};
  if (parsed.port.empty()) return TNetNameProblem{TNetNameFault::NoPort, std::string(text)};
  if (!AllDigits(parsed.port)) return TNetNameProblem{TNetNameFault::PortNotNumber, parsed.port};
  if (!Number(parsed.port, 1, 65535))
    return TNetNameProblem{TNetNameFault::PortOutOfRange, parsed.port};
  return std::nullopt;
}

// Reads a network port name into `parsed`, or says what is wrong with it.
std::optional<TNetNameProblem> ReadNetPortName(const std::string& name, TNetPortName& parsed) {
  const auto scheme = std::find_if(std::begin(kSchemes), std::end(kSchemes),
                                   [&](const Scheme& s) { return StartsWithText(name, s.prefix); });
  if (scheme == std::end(kSchemes)) return TNetNameProblem{TNetNameFault::NoPort, name};
  parsed.mode = scheme->mode;
  std::string_view rest = std::string_view(name).substr(scheme->prefix.size());
  if (const size_t query = rest.find('?'); query != std::string_view::npos) {
    constexpr std::string_view kAllow = "allow=";
    const std::string_view option = rest.substr(query + 1);
    if (!option.starts_with(kAllow))
      return TNetNameProblem{TNetNameFault::UnknownOption, std::string(option)};
    parsed.allowanceMs = Number(option.substr(kAllow.size()), 0, kMaxAllowanceMs);
    if (!parsed.allowanceMs)
      return TNetNameProblem{TNetNameFault::BadAllowance,
                             std::string(option.substr(kAllow.size()))};
    rest = rest.substr(0, query);
  }
  return SplitHostPort(rest, scheme->defaultPort, parsed);
}

// Server's words: printable text (UTF-8 allowed) with a letter in it, not
// the control bytes a Modbus frame is full of. Trimmed, and at most
// kMaxWordsLength bytes.
constexpr size_t kMaxWordsLength = 200;

std::string Words(const std::string& bytes) {
  const bool text = std::all_of(bytes.begin(), bytes.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 || byte == '\r' || byte == '\n' || byte == '\t';
  });
  const bool lettered = std::any_of(bytes.begin(), bytes.end(), [](char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
  });
  if (!text || !lettered || bytes.find('\x7f') != std::string::npos) return {};
  const size_t first = bytes.find_first_not_of(" \t\r\n");
  const size_t last = bytes.find_last_not_of(" \t\r\n");
  std::string words = bytes.substr(first, std::min(last + 1 - first, kMaxWordsLength));
  std::replace_if(
      words.begin(), words.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
  return words;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

int Milliseconds(Clock::duration duration) {
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(duration).count());
}

// The name service cannot be told to stop, so it runs on a thread of its own
// that is left behind when the deadline or the stop event comes first.
int ResolveWithin(const TNetPortName& name, Clock::time_point deadline, const TComStopEvent* stop,
                  std::vector<std::string>& addresses) {
  using Result = std::pair<int, std::vector<std::string>>;
  auto lookup =
      std::make_shared<std::packaged_task<Result()>>([host = name.host, port = name.port] {
        Result result;
        result.first = comdev::ResolveHost(host, port, result.second);
        return result;
      });
  std::future<Result> done = lookup->get_future();
  std::thread([lookup] { (*lookup)(); }).detach();
  while (done.wait_for(kLookupStep) != std::future_status::ready) {
    if (stop && stop->IsSignalled()) return comdev::kNetStopped;
    if (Clock::now() >= deadline) return comdev::kNetTimedOut;
  }
  Result result = done.get();
  addresses = std::move(result.second);
  return result.first;
}

}  // namespace

bool IsNetPortName(const std::string& name) {
  return std::any_of(std::begin(kSchemes), std::end(kSchemes),
                     [&](const Scheme& scheme) { return StartsWithText(name, scheme.prefix); });
}

std::optional<TNetNameProblem> NetPortNameProblem(const std::string& name) {
  TNetPortName parsed;
  return ReadNetPortName(name, parsed);
}

std::string NetNameProblemText(const TNetNameProblem& problem) {
  switch (problem.fault) {
    case TNetNameFault::NoPort:
      return "no port after the host: HOST:PORT";
    case TNetNameFault::PortNotNumber:
      return "port \"" + problem.part + "\" is not a number";
    case TNetNameFault::PortOutOfRange:
      return "port " + problem.part + " is out of range 1..65535";
    case TNetNameFault::EmptyHost:
      return "empty host";
    case TNetNameFault::UnclosedBracket:
      return "unclosed [";
    case TNetNameFault::BareIpv6Address:
      return "an IPv6 address needs brackets: [" + problem.part + "]:PORT";
    case TNetNameFault::BadAllowance:
      return "bad ?allow= value \"" + problem.part + "\": milliseconds 0.." +
             std::to_string(kMaxAllowanceMs);
    case TNetNameFault::UnknownOption:
      return "unknown option \"?" + problem.part + "\": only ?allow=MS";
  }
  return {};
}

std::optional<TNetPortName> ParseNetPortName(const std::string& name) {
  TNetPortName parsed;
  if (ReadNetPortName(name, parsed)) return std::nullopt;
  return parsed;
}

std::optional<TNetOpenFailure> NetOpenFailureOf(const std::string& name, const EComPort& failure) {
  using Kind = TNetOpenFailure::Kind;
  if (!IsNetPortName(name)) return std::nullopt;
  const int code = failure.WinCode();
  if (code == -1) return TNetOpenFailure{Kind::Other, failure.what()};
  if (comdev::IsConnectionRefused(code)) return TNetOpenFailure{Kind::Refused, {}};
  if (comdev::IsLookupFailure(code)) return TNetOpenFailure{Kind::NoSuchHost, {}};
  if (code == comdev::kNetTimedOut) return TNetOpenFailure{Kind::NoAnswer, {}};
  if (code == comdev::kNetBadName) return TNetOpenFailure{Kind::BadName, failure.Reason()};
  if (code == comdev::kNetRefused) return TNetOpenFailure{Kind::SettingsRefused, failure.Reason()};
  if (code == comdev::kNetClosed && !failure.Reason().empty())
    return TNetOpenFailure{Kind::ServerText, failure.Reason()};
  return TNetOpenFailure{Kind::Other, failure.what()};
}

std::unique_ptr<TLineBackend> OpenNetLine(const std::string& name, const TComStopEvent* stop) {
  TNetPortName parsed;
  if (const std::optional<TNetNameProblem> problem = ReadNetPortName(name, parsed))
    throw EComPort(ceOpenFailed, comdev::kNetBadName, NetNameProblemText(*problem));
  return std::make_unique<TNetLine>(parsed, stop);
}

// --- The line ---------------------------------------------------------------

TNetLine::TNetLine(const TNetPortName& name, const TComStopEvent* stop)
    : mode_(name.mode == TNetMode::Rfc2217 ? TNetMode::Rfc2217 : TNetMode::Raw),
      openTimeoutMs_(name.openTimeoutMs),
      stop_(stop),
      allowance_(name.allowanceMs ? TLatencyAllowance::Fixed(*name.allowanceMs)
                                  : TLatencyAllowance::Learnt(0)) {
  Connect(name, stop);
  if (mode_ == TNetMode::Rfc2217) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(openTimeoutMs_);
    if (int error = SendAll(telnet_.Greeting(), deadline)) Fail(ceOpenFailed, error);
  }
}

void TNetLine::Connect(const TNetPortName& name, const TComStopEvent* stop) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(openTimeoutMs_);
  std::vector<std::string> addresses;
  if (int error = ResolveWithin(name, deadline, stop, addresses))
    throw EComPort(ceOpenFailed, error, comdev::LookupFailureText(error));
  int error = comdev::kNetBadName;
  for (const std::string& address : addresses) {
    const Clock::time_point started = Clock::now();
    error = comdev::ConnectSocket(address, stop, MillisecondsUntil(deadline), socket_);
    if (error == 0) {
      Measured(Clock::now() - started);
      return;
    }
    // Another address of the host may take the connection, while there is time.
    if (error == comdev::kNetStopped || error == comdev::kNetTimedOut) break;
  }
  throw EComPort(ceOpenFailed, error);
}

void TNetLine::Measured(Clock::duration roundTrip) {
  roundTripMs_ = std::max(roundTripMs_, Milliseconds(roundTrip));
  allowance_.Guess(roundTripMs_);
}

int TNetLine::LatencyAllowanceMs() const { return allowance_.AllowanceMs(); }

void TNetLine::LearnLatency(int delayMs, bool late) { allowance_.Learn(delayMs, late); }

int TNetLine::LateAnswerAllowanceMs() const { return allowance_.LateAnswerMs(); }

std::string TNetLine::ReasonFor(int error) const {
  if (error == comdev::kNetClosed) return Words(received_);
  if (error == comdev::kNetRefused) return telnet_.Refusal();
  if (error != comdev::kNetOverrun) return {};
  return telnet_.Overrun() ? "a Telnet subnegotiation longer than " +
                                 std::to_string(TRfc2217Client::kMaxSubnegotiation) + " bytes"
                           : "the server sends faster than any serial line";
}

void TNetLine::Fail(int errorCode, int systemError) {
  // A server that closes with the tool's bytes unread resets the connection,
  // and the send after it fails before a read sees the words that came
  // first: they are still there to read.
  if (systemError == comdev::kNetClosed) KeepLastWords();
  const std::string reason = ReasonFor(systemError);
  gone_ = true;
  socket_.reset();
  throw EComPort(errorCode, systemError, reason);
}

void TNetLine::Close() {
  gone_ = true;
  socket_.reset();
}

bool TNetLine::Connected() const { return socket_ && !gone_ && !comdev::SocketGone(*socket_); }

TNetLine::Clock::time_point TNetLine::WriteDeadline(size_t count) const {
  const comdev::TimeoutSettings& t = timeouts_;
  std::uint64_t limitMs = std::uint64_t{t.writeTotalMultiplier} * count + t.writeTotalConstant;
  if (limitMs == 0) limitMs = static_cast<std::uint64_t>(openTimeoutMs_);
  return Clock::now() + std::chrono::milliseconds(limitMs);
}

int TNetLine::SendAll(const std::string& bytes, Clock::time_point deadline) {
  size_t done = 0;
  while (done < bytes.size()) {
    int sent = 0;
    if (int error = comdev::SendSome(*socket_, bytes.data() + done,
                                     static_cast<int>(bytes.size() - done), sent))
      return error;
    done += static_cast<size_t>(sent);
    if (done == bytes.size()) break;
    // The server takes nothing: wait until it does, the time is up or a
    // stop request comes.
    if (Clock::now() >= deadline) return comdev::kNetTimedOut;
    comdev::SocketWake wake = comdev::SocketWake::TimedOut;
    if (int error = comdev::WaitSocket(*socket_, comdev::SocketWait::Writable, stop_,
                                       MillisecondsUntil(deadline), wake))
      return error;
    if (wake == comdev::SocketWake::Stopped) return comdev::kNetStopped;
  }
  return 0;
}

bool TNetLine::WithinIntake(size_t count) {
  const Clock::time_point now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - intakeAt_).count();
  intakeAt_ = now;
  intakeLeft_ = std::min(kIntakeBurstBytes, intakeLeft_ + seconds * kMaxIntakeBytesPerSecond);
  intakeLeft_ -= static_cast<double>(count);
  return intakeLeft_ >= 0;
}

int TNetLine::Drain(Clock::time_point replyBy) {
  if (!socket_) return comdev::kNetClosed;
  // One chunk a call: a server that never pauses cannot keep the line here.
  constexpr int kChunk = 4096;
  std::string arrived;
  bool closed = false;
  // What came before a failure still counts: a server's last words.
  const int failed = comdev::ReceiveSome(*socket_, arrived, kChunk, closed);
  if (!WithinIntake(arrived.size())) return comdev::kNetOverrun;
  const std::string reply = TakeIn(std::move(arrived));
  if (telnet_.Overrun()) return comdev::kNetOverrun;
  if (failed) return failed;
  if (closed) return comdev::kNetClosed;
  return reply.empty() ? 0 : SendAll(reply, replyBy);
}

std::string TNetLine::TakeIn(std::string arrived) {
  std::string data;
  std::string reply;
  if (mode_ == TNetMode::Raw)
    data = std::move(arrived);
  else
    reply = telnet_.Receive(arrived, data);
  received_.append(data, 0, kMaxPendingBytes - std::min(kMaxPendingBytes, received_.size()));
  return reply;
}

void TNetLine::KeepLastWords() {
  if (!socket_) return;
  std::string arrived;
  bool closed = false;
  comdev::ReceiveSome(*socket_, arrived, static_cast<int>(kMaxPendingBytes), closed);
  TakeIn(std::move(arrived));
}

int TNetLine::AwaitInput(std::optional<Clock::time_point> deadline, const TComStopEvent* stop,
                         comdev::SocketWake& wake) {
  return comdev::WaitSocket(*socket_, comdev::SocketWait::Readable, stop,
                            deadline ? MillisecondsUntil(*deadline) : -1, wake);
}

void TNetLine::SetLine(const comdev::LineSettings& line, const TComStopEvent* stop) {
  if (mode_ == TNetMode::Raw) return;
  if (gone_ || !socket_) Fail(ceSetStateFailed, comdev::kNetClosed);
  if (stop) stop_ = stop;  // the port's own, as SetStopEvent gave it
  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = started + std::chrono::milliseconds(openTimeoutMs_);
  if (int error = SendAll(telnet_.LineCommands(line), deadline)) Fail(ceSetStateFailed, error);
  while (!telnet_.Settled()) {
    if (!telnet_.Refusal().empty()) Fail(ceSetStateFailed, comdev::kNetRefused);
    comdev::SocketWake wake = comdev::SocketWake::TimedOut;
    if (int error = AwaitInput(deadline, stop_, wake)) Fail(ceSetStateFailed, error);
    if (wake == comdev::SocketWake::Stopped) Fail(ceSetStateFailed, comdev::kNetStopped);
    if (wake == comdev::SocketWake::TimedOut) Fail(ceSetStateFailed, comdev::kNetTimedOut);
    if (int error = Drain(deadline)) Fail(ceSetStateFailed, error);
  }
  Measured(Clock::now() - started);
  notes_.clear();
  if (const std::vector<std::string> unconfirmed = telnet_.Unconfirmed(); !unconfirmed.empty()) {
    std::string note = "RFC 2217: the server did not confirm";
    for (size_t i = 0; i < unconfirmed.size(); ++i) note += (i ? ", " : " ") + unconfirmed[i];
    notes_.push_back(note + "; the line goes on without");
  }
}

int TNetLine::WriteBytes(const void* buffer, int count) {
  if (gone_ || !socket_ || comdev::SocketGone(*socket_)) Fail(ceWriteFailed, comdev::kNetClosed);
  if (count <= 0) return 0;
  const std::string_view data(static_cast<const char*>(buffer), static_cast<size_t>(count));
  const std::string bytes =
      mode_ == TNetMode::Raw ? std::string(data) : TRfc2217Client::Escape(data);
  if (int error = SendAll(bytes, WriteDeadline(bytes.size()))) Fail(ceWriteFailed, error);
  return count;
}

int TNetLine::PendingInputCount() {
  if (gone_) Fail(ceClearErrorFailed, comdev::kNetClosed);
  if (int error = Drain(WriteDeadline(0))) Fail(ceClearErrorFailed, error);
  return static_cast<int>(received_.size());
}

std::string TNetLine::ReadBytes(int count) {
  if (count <= 0) return {};
  if (gone_) Fail(ceReadFailed, comdev::kNetClosed);
  const comdev::TimeoutSettings& t = timeouts_;
  std::optional<Clock::time_point> total;
  if (t.readTotalMultiplier != 0 || t.readTotalConstant != 0)
    total = Clock::now() + std::chrono::milliseconds(std::uint64_t{t.readTotalMultiplier} *
                                                         static_cast<std::uint64_t>(count) +
                                                     t.readTotalConstant);
  const auto wanted = static_cast<size_t>(count);
  size_t had = 0;
  std::optional<Clock::time_point> interval;  // runs from the last byte received
  for (;;) {
    if (int error = Drain(WriteDeadline(0))) Fail(ceReadFailed, error);
    if (received_.size() >= wanted) break;
    if (received_.size() > had && t.readInterval != 0)
      interval = Clock::now() + std::chrono::milliseconds(t.readInterval);
    had = received_.size();
    std::optional<Clock::time_point> until = total;
    if (interval && (!until || *interval < *until)) until = interval;
    comdev::SocketWake wake = comdev::SocketWake::TimedOut;
    if (int error = AwaitInput(until, stop_, wake)) Fail(ceReadFailed, error);
    if (wake != comdev::SocketWake::Ready) break;
  }
  const size_t taken = std::min(wanted, received_.size());
  std::string bytes = received_.substr(0, taken);
  received_.erase(0, taken);
  return bytes;
}

void TNetLine::WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) {
  if (gone_) Fail(ceWaitFailed, comdev::kNetClosed);
  std::optional<Clock::time_point> deadline;
  if (timeoutMs >= 0) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const bool wantsInput = events.contains(evRxChar);
  for (;;) {
    if (wantsInput && !received_.empty()) {
      events = {evRxChar};
      return;
    }
    comdev::SocketWake wake = comdev::SocketWake::TimedOut;
    if (int error = AwaitInput(deadline, stopEvent ? stopEvent : stop_, wake))
      Fail(ceWaitFailed, error);
    if (wake != comdev::SocketWake::Ready) {
      events = {};  // the timeout or the stop event
      return;
    }
    // Telnet commands alone wake the wait too: it goes on until data comes.
    if (int error = Drain(WriteDeadline(0))) Fail(ceWaitFailed, error);
  }
}
