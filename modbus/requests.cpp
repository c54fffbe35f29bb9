#include "modbus/requests.h"

#include "modbus/device_float.h"
#include "modbus/late_answers.h"
#include "modbus/number_text.h"
#include "modbus/register_map.h"
#include "modbus/stamp.h"
#include "serial/comport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <utility>

namespace {

constexpr int kCollectPolls = 300;
constexpr int kMaxReads = 300;
constexpr int kSilenceMs = 80;
// An answer starts within the 80 ms and takes about 10 ms at 9600 bit/s; a
// line that never falls silent is given no more than this in all.
constexpr int kCollectLimitMs = kSilenceMs + 40;
// A read's answer does not tell which request it answers, so after a read
// went without a usable answer, its answer may still be on the way and be
// taken for the next read's. The next request therefore waits until no answer
// to the failed one can still come: an adapter starts its answer at most
// kLatestTurnaroundMs after the request has ended (the response time Modbus
// masters commonly allow), and the answer then takes its own length on the
// line. What arrives meanwhile is dropped; bytes still coming at that moment
// are waited out until the line has been quiet for kQuietMs.
constexpr int kLatestTurnaroundMs = 1000;
constexpr double kCharacterMs = 10'000.0 / 9600;  // start, 8 data and stop bits at 9600 bit/s
constexpr int kLongestReadAnswer = 19;            // the probe's: 14 data bytes
constexpr int kQuietMs = 150;
constexpr int kQuietLimitMs = 3 * kQuietMs;  // a line that never falls quiet
// A late answer is recognised among the bytes of a wait up to this many: no
// answer is longer than the probe's.
constexpr size_t kLongestStray = 2 * (8 + kLongestReadAnswer);
// How much longer than the latest turnaround and the path's allowance an
// unanswered frame is waited for: the longest request and answer on the line.
constexpr int kForgetMarginMs = 50;
// The Modbus inter-frame gap, 3.5 characters, in whole milliseconds.
constexpr int kFrameGapMs = 4;
// An exception answer: address, function, exception code and the CRC.
constexpr size_t kShortestRefusal = 5;
// Address, function, byte count, the four data bytes and the CRC.
constexpr size_t kParameterAnswerLength = 9;
// A write's answer echoes its address, function, register and value or count.
constexpr size_t kEchoedBytes = 6;
constexpr size_t kWriteAnswerLength = kEchoedBytes + 2;

constexpr int High(uint16_t value) { return value >> 8; }
constexpr int Low(uint16_t value) { return value & 0xFF; }

// The first `count` bytes of the frame just sent, before an answer check
// overwrites TxFrame.
std::string SentBytes(const ExchangeState& exchange, size_t count) {
  std::string bytes;
  for (size_t i = 0; i < count; ++i) bytes += static_cast<char>(exchange.TxFrame[i]);
  return bytes;
}

// The search's frame (and a read's first): parameter 1's registers.
bool ReadsParameterOne(const std::string& frame) {
  const uint16_t reg = ParamRegister(1);
  return frame.size() > 3 && static_cast<uint8_t>(frame[1]) == kReadRegisters &&
         static_cast<uint8_t>(frame[2]) == High(reg) && static_cast<uint8_t>(frame[3]) == Low(reg);
}

// A single-register write to one adapter is answered with a copy of itself.
bool AnswerCopiesRequest(const std::string& frame) {
  return frame.size() > 1 && static_cast<uint8_t>(frame[0]) != kBroadcastAddress &&
         static_cast<uint8_t>(frame[1]) == kWriteRegister;
}

}  // namespace

ModbusRequests::ModbusRequests(TComLink& port, ExchangeState& exchange, ParamData& params,
                               ExchangeClock& clock)
    : port_(port),
      exchange_(exchange),
      params_(params),
      clock_(clock),
      lateAnswers_(std::make_unique<LateAnswers>()),
      mbap_(std::make_unique<MbapFraming>()) {}

ModbusRequests::~ModbusRequests() = default;

bool ModbusRequests::StopRequested() const { return stopEvent_ && stopEvent_->IsSignalled(); }

bool ModbusRequests::ThroughGateway() const { return port_.Framing() == TLineFraming::Mbap; }

ModbusRequests::LineInput ModbusRequests::TakeInput() {
  std::string bytes = port_.ReadBytes(port_.PendingInputCount());
  if (!ThroughGateway()) return {bytes, bytes};
  LineInput input;
  for (const MbapAdu& adu : mbap_->Take(bytes)) {
    if (adu.verdict != MbapVerdict::Answer) {
      NotTheAnswer(adu);
      continue;
    }
    input.bytes += adu.rtu;
    input.wire += adu.wire;
    mbapAnswered_ = true;
  }
  return input;
}

void ModbusRequests::NotTheAnswer(const MbapAdu& adu) {
  const std::optional<uint8_t> refusal = GatewayExceptionCode(adu.rtu);
  QString meaning;
  switch (adu.verdict) {
    case MbapVerdict::GatewayFailure:  // silence, which ends the wait
      mbapAnswered_ = true;
      meaning = traffic::GatewayFailure(*refusal);
      break;
    case MbapVerdict::OtherTransaction:
      // A late answer, perhaps, as on any network line; a gateway's refusal
      // tells of its own patience, not of the path.
      if (refusal) {
        if (port_.LearnsLatency()) LearnFromLateRefusal(adu);
        meaning = traffic::GatewayFailure(*refusal) + QStringLiteral(", ") +
                  traffic::OtherTransaction(adu.transaction);
      } else if (port_.LearnsLatency() && LearnFromLateAnswer(adu.rtu, clock_.Now(), adu.wire)) {
        return;
      } else {
        meaning = traffic::OtherTransaction(adu.transaction);
      }
      break;
    case MbapVerdict::WrongUnit:
      meaning = traffic::OtherUnit(adu.unit);
      break;
    case MbapVerdict::WrongLength:
      meaning =
          traffic::WrongLength(static_cast<int>(adu.wire.size() + 1 - MbapFraming::kHeaderBytes));
      break;
    case MbapVerdict::BadHeader:
      meaning = traffic::kNotMbap;
      break;
    case MbapVerdict::Incomplete:
      meaning = traffic::kIncompleteAdu;
      break;
    case MbapVerdict::Answer:
      return;
  }
  Record(TrafficDirection::Received, adu.wire, meaning);
}

void ModbusRequests::LearnFromLateRefusal(const MbapAdu& adu) {
  const auto sent = std::find_if(mbapSent_.begin(), mbapSent_.end(), [&](const MbapSent& s) {
    return s.transaction == adu.transaction;
  });
  if (sent == mbapSent_.end()) return;
  port_.LearnLatency(DelayBeyondLineMs(sent->bytes, adu.rtu.size(), sent->at, clock_.Now()), true);
}

void ModbusRequests::StartAnswer() {
  exchange_.ResponseText.clear();
  answerWire_.clear();
}

void ModbusRequests::CollectInput() {
  const LineInput input = TakeInput();
  exchange_.ResponseText += input.bytes;
  answerWire_ += input.wire;
}

bool ModbusRequests::LetLateAnswerPass(ExchangeClock::Duration answerDeadline) {
  const auto giveUp = answerDeadline + std::chrono::milliseconds(kQuietLimitMs);
  bool heard = false;  // bytes came during the last wait
  LineInput came;      // since the wait began: the late answer, on a line that learns
  while (!StopRequested()) {
    if (LateAnswerCame(came)) {
      // The only answer that could still come has come: the wait is over.
      clock_.Delay(kFrameGapMs);
      return true;
    }
    const auto now = clock_.Now();
    if ((now >= answerDeadline && !heard) || now >= giveUp) return false;
    const auto untilDeadline =
        std::chrono::ceil<std::chrono::milliseconds>(answerDeadline - now).count();
    const auto untilGiveUp = std::chrono::ceil<std::chrono::milliseconds>(giveUp - now).count();
    TComEvents events{evRxChar};
    port_.WaitForEvent(events, stopEvent_,
                       now < answerDeadline
                           ? static_cast<int>(untilDeadline)
                           : static_cast<int>(std::min<long long>(kQuietMs, untilGiveUp)));
    heard = events.contains(evRxChar);
  }
  return false;
}

bool ModbusRequests::LateAnswerCame(LineInput& came) {
  const LineInput input = TakeInput();
  if (!port_.LearnsLatency() || input.bytes.empty()) return false;
  if (ThroughGateway()) {
    came = input;  // an ADU is whole: nothing before it belongs to it
  } else {
    came.bytes += input.bytes;
    // Nothing a whole answer could be: what came so far was not one.
    if (came.bytes.size() > kLongestStray) came.bytes.erase(0, came.bytes.size() - kLongestStray);
    came.wire = came.bytes;
  }
  const std::optional<std::string> answered =
      LearnFromLateAnswer(came.bytes, clock_.Now(), came.wire);
  if (!answered) return false;
  came = {};
  return *answered == doubtedFrame_ && !doubtedAfterDoubt_;
}

std::optional<std::string> ModbusRequests::LearnFromLateAnswer(std::string_view bytes,
                                                               ExchangeClock::Duration at,
                                                               std::string_view wire) {
  std::optional<LateAnswers::Recognised> late = lateAnswers_->Recognise(bytes, at);
  if (!late) return std::nullopt;
  port_.LearnLatency(late->delayMs, true);
  Record(TrafficDirection::Received, std::string(wire), traffic::LateAnswer(late->delayMs));
  if (ReadsParameterOne(late->frame)) lateAnswerer_ = static_cast<uint8_t>(late->frame[0]);
  return late->frame;
}

void ModbusRequests::LearnInTime(ExchangeClock::Duration wholeAt, size_t answerBytes) {
  // After a request that went unanswered, an answer to its repetition may be
  // the late one: it tells nothing of the path.
  if (followsDoubtedRead_ || lateAnswers_->Waits(sent_)) return;
  port_.LearnLatency(DelayBeyondLineMs(sent_.size(), answerBytes, sentAt_, wholeAt), false);
}

void ModbusRequests::AwaitedInVain() {
  if (port_.LearnsLatency()) lateAnswers_->Unanswered(sent_, sentAt_);
}

std::optional<int> ModbusRequests::TakeLateAnswerer() { return std::exchange(lateAnswerer_, {}); }

void ModbusRequests::DoubtTheReadJustSent() {
  doubtedFrame_ = sent_;
  doubtedAfterDoubt_ = followsDoubtedRead_;
  const double onLineMs = (exchange_.FrameLength + kLongestReadAnswer) * kCharacterMs +
                          kLatestTurnaroundMs + port_.LateAnswerAllowanceMs();
  lateAnswerDeadline_ = sentAt_ + std::chrono::milliseconds(static_cast<int>(std::ceil(onLineMs)));
}

void ModbusRequests::SendFrame() {
  // A closed port is left to the write, which reports it.
  bool lateAnswerCame = false;
  if (port_.Connected()) {
    if (lateAnswerDeadline_) lateAnswerCame = LetLateAnswerPass(*lateAnswerDeadline_);
    DropStrayInput();
  }
  // The frame goes out while the answer to an unanswered read may still be on
  // its way: two answers may now come to one request.
  followsDoubtedRead_ = lateAnswerDeadline_.has_value() && !lateAnswerCame;
  lateAnswerDeadline_.reset();
  // Checked right before the write: at most the frame already on its way
  // goes out after a stop request.
  if (StopRequested()) throw EStopRequested();
  std::array<uint8_t, ExchangeState::kFrameSlots> buffer{};
  const int length = std::clamp(exchange_.FrameLength, 0, ExchangeState::kFrameSlots);
  for (int i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(exchange_.TxFrame[i]);
  sent_ = SentBytes(exchange_, length);
  repeatsDoubtedRead_ = followsDoubtedRead_ && sent_ == doubtedFrame_;
  // A gateway's line takes the frame in its MBAP header.
  const std::string wire = ThroughGateway() ? mbap_->Wrap(sent_) : std::string();
  if (wire.empty())
    port_.WriteBytes(buffer.data(), length);
  else
    port_.WriteBytes(wire.data(), static_cast<int>(wire.size()));
  mbapAnswered_ = false;
  sentAt_ = clock_.Now();
  if (!wire.empty()) {
    if (mbapSent_.size() == kMbapSentKept) mbapSent_.pop_front();
    mbapSent_.push_back(
        {static_cast<uint16_t>(mbap_->NextTransaction() - 1), sent_.size(), sentAt_});
  }
  QString meaning = std::exchange(sendMeaning_, {});
  if (const int allowance = port_.LatencyAllowanceMs(); allowance > 0)
    meaning = traffic::WithAllowance(meaning, allowance);
  Record(TrafficDirection::Sent, wire.empty() ? sent_ : wire, meaning);
}

void ModbusRequests::DropStrayInput() {
  const LineInput stray = TakeInput();
  if (ThroughGateway())
    if (const std::optional<MbapAdu> partial = mbap_->DropPartial()) NotTheAnswer(*partial);
  if (!port_.LearnsLatency()) return;
  const auto now = clock_.Now();
  if (!stray.bytes.empty()) LearnFromLateAnswer(stray.bytes, now, stray.wire);
  // Beyond the latest turnaround and what the path may add, no answer comes.
  const auto waited = std::chrono::milliseconds(kLatestTurnaroundMs + kForgetMarginMs +
                                                port_.LateAnswerAllowanceMs());
  lateAnswers_->ForgetBefore(now - waited);
}

void ModbusRequests::Send(std::initializer_list<int> body, QString meaning) {
  std::copy(body.begin(), body.end(), exchange_.TxFrame.begin());
  exchange_.AppendCrc(static_cast<int>(body.size()));
  sendMeaning_ = std::move(meaning);
  SendFrame();
}

void ModbusRequests::Record(TrafficDirection direction, const std::string& bytes, QString meaning) {
  if (traffic_) traffic_->Record(direction, bytes, std::move(meaning));
}

void ModbusRequests::RecordAnswer(QString meaning) {
  if (!ThroughGateway())
    return Record(TrafficDirection::Received, exchange_.ResponseText, std::move(meaning));
  // The gateway's refusal, shown as it came, says it all.
  if (answerWire_.empty() && mbapAnswered_) return;
  Record(TrafficDirection::Received, answerWire_, std::move(meaning));
}

void ModbusRequests::SendOwnFrame(std::initializer_list<int> body, QString meaning) {
  Send(body, std::move(meaning));
  ReadDataModbus();
  RecordAnswer(traffic::WhatCame(exchange_.ResponseText));  // its callers judge it
}

void ModbusRequests::SearchRead(int address) {
  const uint16_t reg = ParamRegister(1);
  SendOwnFrame({address, kReadRegisters, High(reg), Low(reg), 0x00, kParamRegisterCount},
               traffic::Searching(address));
  if (!port_.LearnsLatency()) return;
  const std::string& answer = exchange_.ResponseText;
  if (wholeAt_) return LearnInTime(*wholeAt_, answer.size());
  // Another adapter's answer is late for an address asked a moment before.
  if (!answer.empty()) LearnFromLateAnswer(answer, lastArrival_, answerWire_);
  AwaitedInVain();
}

void ModbusRequests::BroadcastAddress(int address) {
  SendOwnFrame({kBroadcastAddress, kWriteRegister, High(kAddressRegister), Low(kAddressRegister),
                High(address), Low(address)},
               traffic::NewAddress(address));
}

void ModbusRequests::PassThroughCommand() {
  SendOwnFrame({exchange_.DeviceAddress, kWriteRegister, High(kPassThroughRegister),
                Low(kPassThroughRegister), 0x00, 0x01},
               traffic::kPassThrough);
}

void ModbusRequests::WriteSingleRegister(uint16_t reg, uint16_t value) {
  Send({exchange_.DeviceAddress, kWriteRegister, High(reg), Low(reg), High(value), Low(value)},
       reg == kAddressRegister ? traffic::NewAddress(value) : traffic::RegisterWrite(reg, value));
  const std::string request = SentBytes(exchange_, kEchoedBytes);
  AwaitWriteAnswer(50);
  clock_.Delay(10);
  CheckWriteAnswer(request);
  RecordAnswer(WriteVerdictMeaning());
}

void ModbusRequests::WriteParameter() {
  const uint16_t reg = ParamRegister(exchange_.ParamIndex);
  const auto data = params_.ParamImage.begin() + ParamByteOffset(exchange_.ParamIndex);
  Send({exchange_.DeviceAddress, kWriteRegisters, High(reg), Low(reg), 0x00, kParamRegisterCount,
        2 * kParamRegisterCount, data[0], data[1], data[2], data[3]},
       traffic::Writing(exchange_.ParamIndex));
  const std::string request = SentBytes(exchange_, kEchoedBytes);
  AwaitWriteAnswer(80);
  clock_.Delay(20);
  CheckWriteAnswer(request);
  RecordAnswer(WriteVerdictMeaning());
}

QString ModbusRequests::WriteVerdictMeaning() const {
  if (exchange_.ResponseStatus == kStatusAccepted) return traffic::kAcknowledged;
  return traffic::WhyNotTaken(exchange_.ResponseText, traffic::kNotTheWritesAnswer);
}

QString ModbusRequests::ReadVerdictMeaning() const {
  const ExchangeState& x = exchange_;
  if (x.ResponseStatus != kStatusAccepted)
    return traffic::WhyNotTaken(x.ResponseText, traffic::kNotTheReadsAnswer);
  if (x.ParamIndex >= 1 && x.ParamIndex <= kParamCount) {
    switch (ParamInfoOf(x.ParamIndex).kind) {
      case ParamKind::Float:
        return traffic::Value(FixedText(x.ParamValue, 4));
      case ParamKind::SerialNumber:
        return traffic::Value(QString::number(x.SerialNumber));
      case ParamKind::Stamp:
        return traffic::Value(x.StampText);
      case ParamKind::Address:  // kept in the second data byte
        return traffic::Value(traffic::Searching(static_cast<uint8_t>(x.ResponseText[4])));
      case ParamKind::Checksum:
        break;
    }
  }
  return traffic::WhatCame(x.ResponseText);
}

void ModbusRequests::CheckWriteAnswer(const std::string& request) {
  ExchangeState& x = exchange_;
  const std::string& answer = x.ResponseText;
  if (answer.size() < 3)
    x.ResponseStatus = kStatusNoAnswer;
  else if (!x.ResponseCrcMatches())
    x.ResponseStatus = kStatusBadAnswer;
  else if (answer[1] & kExceptionFlag)
    x.ResponseStatus = kStatusRefused;
  else if (answer.size() == kWriteAnswerLength && answer.compare(0, kEchoedBytes, request) == 0)
    x.ResponseStatus = kStatusAccepted;
  else
    x.ResponseStatus = kStatusBadAnswer;
  if (x.ResponseStatus != kStatusAccepted) AwaitedInVain();
}

void ModbusRequests::ReadParameter(int32_t mode) {
  if (mode == 0) {
    const uint16_t reg = ParamRegister(exchange_.ParamIndex);
    const int rawOffset = ParamByteOffset(exchange_.ParamIndex);
    Send({exchange_.DeviceAddress, kReadRegisters, High(reg), Low(reg), 0x00, kParamRegisterCount},
         traffic::Reading(exchange_.ParamIndex));
    AwaitReadAnswer(100);
    PauseAfterRead(20);
    CheckParameterAnswer(rawOffset);
    if (exchange_.ResponseStatus != kStatusAccepted) AwaitedInVain();
    if (exchange_.ResponseStatus != kStatusAccepted || TwoAnswersMayStillCome())
      DoubtTheReadJustSent();
    RecordAnswer(ReadVerdictMeaning());
  } else if (mode == 1) {
    Send({exchange_.DeviceAddress, kReadRegisters, High(kProbeRegister), Low(kProbeRegister), 0x00,
          kProbeRegisterCount},
         traffic::kProbe);
    AwaitReadAnswer(50);
    PauseAfterRead(0);
    if (exchange_.ResponseText.size() < 3) AwaitedInVain();
    if (exchange_.ResponseText.size() < 3 || TwoAnswersMayStillCome()) DoubtTheReadJustSent();
    RecordAnswer(traffic::WhatCame(exchange_.ResponseText));
  }
}

void ModbusRequests::CheckParameterAnswer(int rawOffset) {
  ExchangeState& x = exchange_;
  const std::string& answer = x.ResponseText;
  const auto byte = [&answer](size_t i) { return static_cast<uint8_t>(answer[i]); };
  x.ResponseStatus = kStatusAccepted;
  if (answer.size() < 3) {
    x.ResponseStatus = kStatusNoAnswer;
    return;
  }
  if (!x.ResponseCrcMatches()) {
    x.ResponseStatus = kStatusBadAnswer;
    return;
  }
  if (byte(0) != x.DeviceAddress ||
      (byte(1) & ~kExceptionFlag) != kReadRegisters) {  // not an answer to this read
    x.ResponseStatus = kStatusBadAnswer;
    return;
  }
  if (byte(1) & kExceptionFlag) {  // an exception answer: the adapter refused, nothing to decode
    x.ResponseStatus = kStatusRefused;
    return;
  }
  if (answer.size() < kParameterAnswerLength) {
    x.ResponseStatus = kStatusBadAnswer;
    return;
  }
  const uint8_t d[4] = {byte(3), byte(4), byte(5), byte(6)};
  const int index = x.ParamIndex;
  if (IsFloatParam(index)) x.ParamValue = DeviceFloatToDouble(d[0], d[1], d[2], d[3]);
  // Serial number, stamp and address parameters all leave their bytes here.
  if (index >= kSerialNumberParam && index <= kAddressCopyParam)
    x.SerialNumber = static_cast<int32_t>(d[0] | d[1] << 8 | d[2] << 16 | uint32_t(d[3]) << 24);
  if (index == kStampParam) x.StampText = StampToText(d[0], d[1], d[2], d[3]);
  std::copy(d, d + 4, params_.ParamRaw.begin() + rawOffset);
}

bool ModbusRequests::TwoAnswersMayStillCome() const { return followsDoubtedRead_; }

void ModbusRequests::AwaitReadAnswer(int delayMs) {
  const int waitMs = delayMs + port_.LatencyAllowanceMs();
  // After another request went unanswered, its answer may come first: only
  // the answer to the very same frame may end the wait early, for it says
  // the same. Any other read takes its whole wait, so that two answers
  // collide and fail instead of one being taken for the other.
  const bool endEarly = fastReads_ && (!followsDoubtedRead_ || repeatsDoubtedRead_);
  if (ThroughGateway()) {
    WatchForAnswer(waitMs, endEarly ? 0 : delayMs, [this] { return ReadAnswerComplete(); });
    return;
  }
  if (!endEarly && !port_.LearnsLatency()) {
    clock_.Delay(waitMs);
    CollectResponse();
    return;
  }
  WatchForAnswer(waitMs, endEarly ? std::optional<int>(0) : std::nullopt,
                 [this] { return ReadAnswerComplete(); });
}

void ModbusRequests::AwaitWriteAnswer(int delayMs) {
  const int waitMs = delayMs + port_.LatencyAllowanceMs();
  if (ThroughGateway()) {
    WatchForAnswer(waitMs, delayMs, [this] { return WriteAnswerComplete(); });
    return;
  }
  if (!port_.LearnsLatency()) {
    clock_.Delay(waitMs);
    CollectResponse();
    return;
  }
  WatchForAnswer(waitMs, std::nullopt, [this] { return WriteAnswerComplete(); });
}

void ModbusRequests::WatchForAnswer(int waitMs, std::optional<int> enoughMs,
                                    const std::function<bool()>& whole) {
  const ExchangeClock::Duration start = clock_.Now();
  const auto end = start + std::chrono::milliseconds(waitMs);
  const std::string& answer = exchange_.ResponseText;
  StartAnswer();
  std::optional<ExchangeClock::Duration> wholeAt;
  while (!StopRequested()) {
    if (!wholeAt && whole()) wholeAt = clock_.Now();
    // A whole answer ends the wait once `enoughMs` of it have passed.
    const auto until =
        wholeAt && enoughMs ? std::min(end, start + std::chrono::milliseconds(*enoughMs)) : end;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - clock_.Now()).count();
    if (left <= 0) break;
    TComEvents events{evRxChar};
    port_.WaitForEvent(events, stopEvent_, static_cast<int>(left));
    CollectInput();
  }
  // At the fixed pace, whatever else is waiting once the wait is over too.
  if (enoughMs != 0) PollPendingInput();
  DropEcho();
  if (wholeAt && port_.LearnsLatency()) LearnInTime(*wholeAt, answer.size());
}

bool ModbusRequests::AnswerToSentIsWhole() const {
  std::string_view answer = exchange_.ResponseText;
  if (answer.starts_with(sent_) && !AnswerCopiesRequest(sent_)) answer.remove_prefix(sent_.size());
  return AnswersFrame(sent_, answer);
}

bool ModbusRequests::WriteAnswerComplete() const {
  std::string_view answer = exchange_.ResponseText;
  // A single-register write is answered with a copy of itself: a copy in
  // front is the line's echo only on a line known to echo.
  if (answer.starts_with(sent_) && (!AnswerCopiesRequest(sent_) || lineEchoes_))
    answer.remove_prefix(sent_.size());
  return AnswersFrame(sent_, answer);
}

bool ModbusRequests::ReadAnswerComplete() const {
  std::string_view answer = exchange_.ResponseText;
  // A read's answer is never a copy of it: one in front is the line's echo.
  if (answer.starts_with(sent_)) answer.remove_prefix(sent_.size());
  if (answer.size() < kShortestRefusal ||
      static_cast<uint8_t>(answer[0]) != exchange_.DeviceAddress)
    return false;
  const auto function = static_cast<uint8_t>(answer[1]);
  const size_t length = function == (kReadRegisters | kExceptionFlag)
                            ? kShortestRefusal
                            : 5 + static_cast<uint8_t>(answer[2]);  // with the byte count
  return (function & ~kExceptionFlag) == kReadRegisters && answer.size() == length &&
         CrcMatches(answer);
}

void ModbusRequests::PauseAfterRead(int delayMs) {
  // A fast read took its answer the moment it was whole: the line has yet to
  // fall quiet for a frame's end.
  const int pauseMs = fastReads_ ? kFrameGapMs : delayMs;
  if (pauseMs > 0) clock_.Delay(pauseMs);
}

int ModbusRequests::PauseBetweenReads(int delayMs) const {
  return fastReads_ ? 0 : delayMs;  // the read itself left the gap
}

void ModbusRequests::CollectResponse() {
  StartAnswer();
  PollPendingInput();
  DropEcho();
}

void ModbusRequests::PollPendingInput() {
  for (int poll = 0; poll < kCollectPolls; ++poll) CollectInput();
}

void ModbusRequests::DropEcho() {
  if (ThroughGateway()) return;  // nothing on a TCP connection hears itself
  std::string& answer = exchange_.ResponseText;
  const bool copyFirst = !sent_.empty() && answer.starts_with(sent_);
  if (!AnswerCopiesRequest(sent_))
    lineEchoes_ = copyFirst;
  else if (!copyFirst)
    lineEchoes_ = false;  // an echoing line would have put the copy there
  else if (answer.compare(sent_.size(), sent_.size(), sent_) == 0)
    lineEchoes_ = true;  // an adapter answers once: two copies are echo and answer
  else if (!lineEchoes_)
    return;  // the answer itself, as far as anyone can tell
  if (!copyFirst) return;
  Record(TrafficDirection::Received, sent_, traffic::kEcho);
  answer.erase(0, sent_.size());
}

void ModbusRequests::ReadDataModbus() {
  const int allowance = port_.LatencyAllowanceMs();
  const auto end = clock_.Now() + std::chrono::milliseconds(kCollectLimitMs + allowance);
  StartAnswer();
  wholeAt_.reset();
  TComEvents events{evRxChar};
  int reads = 0;
  do {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - clock_.Now()).count();
    const int waitMs = static_cast<int>(std::clamp<int64_t>(left, 0, kSilenceMs + allowance));
    try {
      port_.WaitForEvent(events, stopEvent_, waitMs);
    } catch (const EComPort&) {
      // A failed wait counts as whatever the set held before; a line that is
      // gone is the failure itself.
      if (!port_.Connected()) throw;
    }
    if (events.contains(evRxChar)) {
      CollectInput();
      lastArrival_ = clock_.Now();
      if (!wholeAt_ && AnswerToSentIsWhole()) wholeAt_ = lastArrival_;
      ++reads;
    }
    // On a gateway's line a whole ADU is a whole answer: no silence to wait for.
  } while (!events.empty() && reads < kMaxReads && clock_.Now() < end && !mbapAnswered_);
  DropEcho();
}
