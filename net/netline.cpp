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

constexpr std::pair<std::string_view, TNetMode> kSchemes[] = {{"tcp://", TNetMode::Raw},
                                                              {"rfc2217://", TNetMode::Rfc2217}};

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

// Splits "HOST:PORT" or "[V6]:PORT"; false when either part is missing.
bool SplitHostPort(std::string_view text, std::string& host, std::string& port) {
  size_t colon = 0;
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return false;
    host = text.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    host = text.substr(0, colon);
    if (host.find(':') != std::string::npos) return false;  // an IPv6 address needs brackets
  }
  port = text.substr(colon + 1);
  return !host.empty() && Number(port, 1, 65535).has_value();
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
                     [&](const auto& scheme) { return StartsWithText(name, scheme.first); });
}

std::optional<TNetPortName> ParseNetPortName(const std::string& name) {
  for (const auto& [scheme, mode] : kSchemes) {
    if (!StartsWithText(name, scheme)) continue;
    TNetPortName parsed;
    parsed.mode = mode;
    std::string_view rest = std::string_view(name).substr(scheme.size());
    const size_t query = rest.find('?');
    if (query != std::string_view::npos) {
      constexpr std::string_view kAllow = "allow=";
      const std::string_view option = rest.substr(query + 1);
      if (!option.starts_with(kAllow)) return std::nullopt;
      parsed.allowanceMs = Number(option.substr(kAllow.size()), 0, kMaxAllowanceMs);
      if (!parsed.allowanceMs) return std::nullopt;
      rest = rest.substr(0, query);
    }
    if (!SplitHostPort(rest, parsed.host, parsed.port)) return std::nullopt;
    return parsed;
  }
  return std::nullopt;
}

std::unique_ptr<TLineBackend> OpenNetLine(const std::string& name, const TComStopEvent* stop) {
  const std::optional<TNetPortName> parsed = ParseNetPortName(name);
  if (!parsed) throw EComPort(ceOpenFailed, comdev::kNetBadName);
  return std::make_unique<TNetLine>(*parsed, stop);
}

// --- The line ---------------------------------------------------------------

TNetLine::TNetLine(const TNetPortName& name, const TComStopEvent* stop)
    : mode_(name.mode),
      allowance_(name.allowanceMs ? TLatencyAllowance::Fixed(*name.allowanceMs)
                                  : TLatencyAllowance::Learnt(0)) {
  Connect(name, stop);
  if (mode_ == TNetMode::Rfc2217) {
    if (int error = SendAll(telnet_.Greeting())) Fail(ceOpenFailed, error);
  }
}

void TNetLine::Connect(const TNetPortName& name, const TComStopEvent* stop) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kNetOpenTimeoutMs);
  std::vector<std::string> addresses;
  if (int error = ResolveWithin(name, deadline, stop, addresses))
    throw EComPort(ceOpenFailed, error);
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

void TNetLine::Fail(int errorCode, int systemError) {
  gone_ = true;
  socket_.reset();
  throw EComPort(errorCode, systemError);
}

void TNetLine::Close() {
  gone_ = true;
  socket_.reset();
}

bool TNetLine::Connected() const { return socket_ && !gone_ && !comdev::SocketGone(*socket_); }

int TNetLine::SendAll(const std::string& bytes) {
  const comdev::TimeoutSettings& t = timeouts_;
  const bool bounded = t.writeTotalMultiplier != 0 || t.writeTotalConstant != 0;
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::milliseconds(std::uint64_t{t.writeTotalMultiplier} * bytes.size() +
                                t.writeTotalConstant);
  size_t done = 0;
  while (done < bytes.size()) {
    int sent = 0;
    if (int error = comdev::SendSome(*socket_, bytes.data() + done,
                                     static_cast<int>(bytes.size() - done), sent))
      return error;
    done += static_cast<size_t>(sent);
    if (done == bytes.size()) break;
    // The server takes nothing for the write's time: a half-sent Telnet
    // stream could not be continued, so the line is given up.
    if (bounded && Clock::now() >= deadline) return comdev::kNetTimedOut;
    comdev::SocketWake wake = comdev::SocketWake::TimedOut;
    if (int error = comdev::WaitSocket(*socket_, comdev::SocketWait::Writable, nullptr,
                                       bounded ? MillisecondsUntil(deadline) : -1, wake))
      return error;
  }
  return 0;
}

int TNetLine::Drain() {
  if (!socket_) return comdev::kNetClosed;
  std::string arrived;
  bool closed = false;
  if (int error = comdev::ReceiveSome(*socket_, arrived, closed)) return error;
  if (mode_ == TNetMode::Raw) {
    received_ += arrived;
  } else if (const std::string reply = telnet_.Receive(arrived, received_); !reply.empty()) {
    if (int error = SendAll(reply)) return error;
  }
  return closed ? comdev::kNetClosed : 0;
}

int TNetLine::AwaitInput(std::optional<Clock::time_point> deadline, const TComStopEvent* stop,
                         comdev::SocketWake& wake) {
  return comdev::WaitSocket(*socket_, comdev::SocketWait::Readable, stop,
                            deadline ? MillisecondsUntil(*deadline) : -1, wake);
}

void TNetLine::SetLine(const comdev::LineSettings& line, const TComStopEvent* stop) {
  if (mode_ == TNetMode::Raw) return;
  if (gone_ || !socket_) Fail(ceSetStateFailed, comdev::kNetClosed);
  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = started + std::chrono::milliseconds(kNetOpenTimeoutMs);
  if (int error = SendAll(telnet_.LineCommands(line))) Fail(ceSetStateFailed, error);
  while (!telnet_.Settled()) {
    if (telnet_.Refused()) Fail(ceSetStateFailed, comdev::kNetRefused);
    comdev::SocketWake wake = comdev::SocketWake::TimedOut;
    if (int error = AwaitInput(deadline, stop, wake)) Fail(ceSetStateFailed, error);
    if (wake == comdev::SocketWake::Stopped) Fail(ceSetStateFailed, comdev::kNetStopped);
    if (wake == comdev::SocketWake::TimedOut) Fail(ceSetStateFailed, comdev::kNetTimedOut);
    if (int error = Drain()) Fail(ceSetStateFailed, error);
  }
  Measured(Clock::now() - started);
}

int TNetLine::WriteBytes(const void* buffer, int count) {
  if (gone_ || !socket_ || comdev::SocketGone(*socket_)) Fail(ceWriteFailed, comdev::kNetClosed);
  if (count <= 0) return 0;
  const std::string_view data(static_cast<const char*>(buffer), static_cast<size_t>(count));
  const std::string bytes =
      mode_ == TNetMode::Raw ? std::string(data) : TRfc2217Client::Escape(data);
  if (int error = SendAll(bytes)) Fail(ceWriteFailed, error);
  return count;
}

int TNetLine::PendingInputCount() {
  if (gone_) Fail(ceClearErrorFailed, comdev::kNetClosed);
  if (int error = Drain()) Fail(ceClearErrorFailed, error);
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
    if (int error = Drain()) Fail(ceReadFailed, error);
    if (received_.size() >= wanted) break;
    if (received_.size() > had && t.readInterval != 0)
      interval = Clock::now() + std::chrono::milliseconds(t.readInterval);
    had = received_.size();
    std::optional<Clock::time_point> until = total;
    if (interval && (!until || *interval < *until)) until = interval;
    comdev::SocketWake wake = comdev::SocketWake::TimedOut;
    if (int error = AwaitInput(until, nullptr, wake)) Fail(ceReadFailed, error);
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
    if (int error = AwaitInput(deadline, stopEvent, wake)) Fail(ceWaitFailed, error);
    if (wake != comdev::SocketWake::Ready) {
      events = {};  // the timeout or the stop event
      return;
    }
    // Telnet commands alone wake the wait too: it goes on until data comes.
    if (int error = Drain()) Fail(ceWaitFailed, error);
  }
}
