#pragma once
// ScriptedLink: the far end of the line for the request tests, in virtual
// time. Each write is one frame; the responder's answer bursts arrive after
// the frame's closing silence (5 ms) and their delays. Waits move the
// VirtualClock forward instead of sleeping, so the tests see the requests'
// own delays exactly, whatever the machine is busy with.

#include "modbus/clock.h"
#include "serial/link.h"
#include "tests/modbus/bytes_text.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

struct Burst {
  int delayMs = 0;  // after the frame, or after the previous burst
  std::string bytes;
};
using Responder = std::function<std::vector<Burst>(const std::string& frame)>;

class ScriptedLink final : public TComLink {
 public:
  explicit ScriptedLink(VirtualClock& clock, Responder responder = {})
      : clock_(clock), responder_(std::move(responder)) {}

  void SetResponder(Responder responder) { responder_ = std::move(responder); }
  const std::vector<std::string>& Frames() const { return frames_; }  // every frame received so far
  void Write(const std::string& bytes);                               // there at once

  int WriteBytes(const void* buffer, int count) override;
  int PendingInputCount() override;
  std::string ReadBytes(int count) override;
  // A wait with no limit when nothing can arrive any more throws std::logic_error.
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override;
  bool Connected() const override { return true; }
  // RTU unless set: the frames written and the bursts are then MBAP ADUs.
  void SetFraming(TLineFraming framing) { framing_ = framing; }
  TLineFraming Framing() const override { return framing_; }

 private:
  using Duration = ExchangeClock::Duration;
  void Arrive(Duration at, const std::string& bytes);
  int Arrived() const;

  VirtualClock& clock_;
  Responder responder_;
  std::vector<std::string> frames_;
  std::multimap<Duration, char> arrivals_;
  TLineFraming framing_ = TLineFraming::Rtu;
};
