#pragma once
// The Modbus RTU requests the tool sends to the adapter and the two loops that
// collect its answers. Each request builds its frame in the exchange state,
// drops whatever still waits at the port (a late answer to an earlier
// request), sends the frame in one port write, waits its fixed delays,
// collects what arrived and leaves the results in the exchange state; none of
// them returns a value or retries. Port errors are not caught here.
//
// A converter whose receiver hears its own transmitter puts a copy of each
// frame sent in front of the answer: the collection loops drop that echo
// before anything judges the answer (see LineEchoes).
//
// On a Modbus TCP gateway's line (TLineFraming::Mbap) the frames go out in
// their MBAP headers and only the ADU answering the frame sent last comes
// back into the answer, as the RTU frame a line would have carried
// (modbus/mbap.h): every check below then holds as on any line. The other
// ADUs are shown in the traffic log and never taken for an answer: a
// gateway's own refusal (0x0A, 0x0B) counts as silence, and ends the
// collection of the search's frames at once as a whole answer does.

#include "modbus/clock.h"
#include "modbus/exchange_state.h"
#include "modbus/mbap.h"
#include "modbus/params.h"
#include "modbus/traffic.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

class LateAnswers;
class TComLink;
class TComStopEvent;

// The tool was asked to stop (the stop event is signalled): no frame is sent
// any more, so every loop of requests ends at its next request. It is an
// operation_canceled error, which handlers end on without a report.
class EStopRequested : public std::system_error {
 public:
  EStopRequested()
      : std::system_error(std::make_error_code(std::errc::operation_canceled),
                          "Stopped on request") {}
};

class ModbusRequests {
 public:
  // Every delay and time limit is taken from `clock`, which must be the one
  // the link waits on.
  ModbusRequests(TComLink& port, ExchangeState& exchange, ParamData& params,
                 ExchangeClock& clock = TheSystemClock());
  ~ModbusRequests();
  ModbusRequests(const ModbusRequests&) = delete;
  ModbusRequests& operator=(const ModbusRequests&) = delete;

  // The clock every delay of the exchange steps is taken from too.
  ExchangeClock& Clock() const { return clock_; }

  // Where every frame sent and every answer collected is recorded; null:
  // nowhere.
  void SetTrafficLog(TrafficLog* log) { traffic_ = log; }

  // Fast reads: a read's (and the probe's) wait ends as soon as a complete,
  // CRC-correct answer from DeviceAddress is in, its fixed wait staying the
  // upper bound, and the pause after it is the Modbus inter-frame gap. Writes
  // and the other frames keep their pace.
  void SetFastReads(bool fast) { fastReads_ = fast; }
  bool FastReads() const { return fastReads_; }
  // The pause a caller leaves between reads: `delayMs`, or in fast mode none
  // (each read has left the inter-frame gap after its answer).
  int PauseBetweenReads(int delayMs) const;

  // Whether the line echoed the frames sent so far. Learnt from each exchange
  // whose answer cannot be a copy of its request: there an exact copy of the
  // frame at the start of what came is the echo, and is dropped. A single-
  // register write to one adapter is answered with a copy of itself, so a
  // single copy is dropped only on a line known to echo (two copies are echo
  // and answer, and teach it).
  bool LineEchoes() const { return lineEchoes_; }

  // The event that ends ReadDataModbus's waits early and, once signalled,
  // keeps every further frame off the line; may be null.
  void SetStopEvent(TComStopEvent* stopEvent) { stopEvent_ = stopEvent; }
  // Whether that event has been signalled: nothing more goes out.
  bool StopRequested() const;

  // The writes set ResponseStatus: accepted only for the echo of the
  // request's first six bytes (address, function, register, value or count)
  // with a correct CRC; an exception answer is refused; anything else of 3
  // bytes or more is a bad answer.
  // Function 6 to DeviceAddress: 50 ms, collect, 10 ms.
  void WriteSingleRegister(uint16_t reg, uint16_t value);
  // Function 16 of parameter ParamIndex from its four ParamImage bytes:
  // 80 ms, collect, 20 ms.
  void WriteParameter();
  // Mode 0: function 3 of parameter ParamIndex, 100 ms, collect, 20 ms, then
  // ResponseStatus and the decoded values (only an answer from DeviceAddress
  // with function 3 is taken; an exception answer is refused and decodes
  // nothing). Mode 1: the probe, function 3 of the seven registers
  // from 0, 50 ms, collect, no check. Other modes: nothing. In fast mode both
  // end their wait with the whole answer and leave the inter-frame gap.
  void ReadParameter(int32_t mode);

  // Drops what waits at the port (after a read without a usable answer, what
  // arrives until that read's answer can no longer come), then writes the
  // first FrameLength slots of TxFrame in one port write. For the frames that
  // callers build themselves (see ExchangeState::AppendCrc). Throws EStopRequested, sending
  // nothing, once the stop event is signalled.
  void SendFrame();

  // A frame of its own: the body and its CRC in TxFrame, one port write, then
  // ReadDataModbus collects the answer until the line falls silent. The
  // traffic log shows the frame with `meaning`.
  void SendOwnFrame(std::initializer_list<int> body, QString meaning = {});
  // The frames of the address search, the address write and the pass-through
  // command, sent that way: the read of parameter 1 from `address`;
  void SearchRead(int address);
  // the new address to register 375 of every adapter (broadcast: nobody
  // answers, the collection only waits out the silence);
  void BroadcastAddress(int address);
  // 1 to register 373 of the adapter at DeviceAddress.
  void PassThroughCommand();

  // On a line that learns its latency (LearnsLatency): the adapter whose
  // answer to the search's read (or to a read of parameter 1) came late, after
  // its wait had ended, since the last call. The search asks it again, now
  // that the line allows for the path.
  std::optional<int> TakeLateAnswerer();
  // Whether the line reaches the adapters through a Modbus TCP gateway
  // (TLineFraming::Mbap), which may drop the broadcast (unit 0).
  bool ThroughGateway() const;

  // 300 polls in a row of what is waiting at the port, without waiting; the
  // echo dropped.
  void CollectResponse();
  // Collects until 80 ms pass without a byte, 300 reads or 120 ms in all,
  // whichever comes first (a line that never falls silent costs no more);
  // needs no delay before it. The waits block without handling events; errors
  // of the wait itself are ignored. The echo dropped.
  void ReadDataModbus();

 private:
  // Puts the frame body into TxFrame, appends the CRC and sends it; the
  // traffic log shows it with `meaning`.
  void Send(std::initializer_list<int> body, QString meaning);
  // What came from the line, as RTU bytes, and as it came over it.
  struct LineInput {
    std::string bytes;
    std::string wire;
  };
  // What the port has now. On an MBAP line only the ADUs answering the frame
  // sent last, as their RTU frames; the others go to the traffic log (a
  // sound one of another transaction to the late answers first).
  LineInput TakeInput();
  // An ADU that is no answer to the frame sent last.
  void NotTheAnswer(const MbapAdu& adu);
  // A gateway's refusal of an earlier request, which came after that
  // request's wait: the gateway gives up on a unit later than the line
  // allows for, and the line learns to wait that long.
  void LearnFromLateRefusal(const MbapAdu& adu);
  // Starts a new answer in ResponseText; adds what the port has to it.
  void StartAnswer();
  void CollectInput();
  void Record(TrafficDirection direction, const std::string& bytes, QString meaning);
  // Records the answer left in ResponseText.
  void RecordAnswer(QString meaning);
  // Drops the converter's echo from the front of ResponseText and learns
  // whether the line echoes.
  void DropEcho();
  // The answer meaning of a parameter read or write once judged.
  QString ReadVerdictMeaning() const;
  QString WriteVerdictMeaning() const;
  // Drops what waits at the port before a frame goes out. On a line that
  // learns its latency, a late answer to a frame sent a moment before is
  // learnt from first, and frames no answer can come for any more forgotten.
  void DropStrayInput();
  // Reads what came during the wait for a late answer into `came`; on a line
  // that learns its latency, whether it holds the late answer to the read
  // that went unanswered and no other answer can still come.
  bool LateAnswerCame(LineInput& came);
  // Bytes that came at `at` with no request waiting for them: when they are
  // a late answer to one unanswered frame, the line learns how much longer
  // its path took and the traffic log shows it. That frame, or nothing.
  // `wire`: the bytes as they came over the line, for the traffic log.
  std::optional<std::string> LearnFromLateAnswer(std::string_view bytes, ExchangeClock::Duration at,
                                                 std::string_view wire);
  // The answer to the frame just sent was whole at `wholeAt`: the line
  // learns its delay (not after an unanswered request, whose late answer it
  // may have been).
  void LearnInTime(ExchangeClock::Duration wholeAt, size_t answerBytes);
  // The frame just sent got no usable answer: on a line that learns its
  // latency, one may still come.
  void AwaitedInVain();
  // After a read without a usable answer: until `answerDeadline` no answer to
  // it can be ruled out, so what arrives until then is dropped, and bytes
  // still coming then until the line falls quiet (bounded in time for a line
  // that never does). A stop request ends the wait.
  // Whether the late answer came, on a line that learns its latency: then no
  // other answer to the read can come, and the wait ended with it.
  bool LetLateAnswerPass(ExchangeClock::Duration answerDeadline);
  // Marks the read just sent as unanswered: its answer may still come.
  void DoubtTheReadJustSent();
  // A read that followed an unanswered one has taken an answer, but the
  // other one (the late answer to the first request, or this request's own)
  // may still be on its way and must not be taken for the next request's:
  // the next request waits until it can no longer come, as after an
  // unanswered read.
  bool TwoAnswersMayStillCome() const;
  void CheckParameterAnswer(int rawOffset);
  // A read's wait before its answer is judged (`delayMs` plus the line's
  // allowance), then the collection; in fast mode the wait ends with the answer.
  // Through a gateway the allowance ends with the answer too (after `delayMs`,
  // the pace): the transaction's number tells its answer from a late one.
  void AwaitReadAnswer(int delayMs);
  // A write's: `delayMs` plus the line's allowance, then the collection; a
  // gateway's answer ends the allowance as a read's does.
  void AwaitWriteAnswer(int delayMs);
  // Takes the answer's bytes as they come for `waitMs`, or until `enoughMs`
  // have passed once `whole` says it is in; then, unless it ended at once
  // (`enoughMs` 0), what the collection's polls find; notes when the answer
  // was whole, for the line to learn from.
  void WatchForAnswer(int waitMs, std::optional<int> enoughMs, const std::function<bool()>& whole);
  // Whether ResponseText (after the line's echo) is a whole answer to the
  // write just sent / to the frame just sent, whatever it was.
  bool WriteAnswerComplete() const;
  bool AnswerToSentIsWhole() const;
  // The collection's 300 polls, appended to ResponseText.
  void PollPendingInput();
  // Whether ResponseText (after the line's echo) is a whole answer to the
  // read just sent: its address, function 3 with as many bytes as its count
  // says, or a refusal, and a correct CRC.
  bool ReadAnswerComplete() const;
  // After a read's answer: `delayMs` (none when 0), in fast mode the
  // inter-frame gap, which the probe's answer needs as much as a parameter's.
  void PauseAfterRead(int delayMs);
  // `request`: the first six bytes of the write that was sent.
  void CheckWriteAnswer(const std::string& request);

  TComLink& port_;
  ExchangeState& exchange_;
  ParamData& params_;
  ExchangeClock& clock_;
  TComStopEvent* stopEvent_ = nullptr;
  ExchangeClock::Duration sentAt_{};  // when the last frame was written
  // Set after a read without a usable answer: until then its answer may come.
  std::optional<ExchangeClock::Duration> lateAnswerDeadline_;
  std::string doubtedFrame_;         // the read whose answer may still come
  bool doubtedAfterDoubt_ = false;   // ... which itself went out after another
  bool followsDoubtedRead_ = false;  // the frame sent last went out after it
  bool repeatsDoubtedRead_ = false;  // ... and was that very frame again
  // On a line that learns its latency: frames still waiting for their answer,
  // when the search's last collection's answer was whole, when its last
  // bytes came, and the adapter that answered late.
  std::unique_ptr<LateAnswers> lateAnswers_;
  std::optional<ExchangeClock::Duration> wholeAt_;
  ExchangeClock::Duration lastArrival_{};
  std::optional<int> lateAnswerer_;
  TrafficLog* traffic_ = nullptr;
  QString sendMeaning_;  // what the next frame sent is, for the traffic log
  std::string sent_;     // the frame sent last, as an RTU frame
  // On a Modbus TCP gateway's line: the framing, whether an ADU of the frame
  // sent last came (its answer or the gateway's refusal), and the bytes over
  // the line of what ResponseText holds.
  std::unique_ptr<MbapFraming> mbap_;
  bool mbapAnswered_ = false;
  std::string answerWire_;
  // The last requests sent on a gateway's line, for their late refusals.
  struct MbapSent {
    uint16_t transaction;
    size_t bytes;  // the RTU frame's
    ExchangeClock::Duration at;
  };
  static constexpr size_t kMbapSentKept = 16;
  std::deque<MbapSent> mbapSent_;
  bool lineEchoes_ = false;
  bool fastReads_ = false;
};
