#pragma once
// A line to the adapters through a Modbus TCP to RTU gateway: the gateway
// speaks Modbus TCP on the network and Modbus RTU on the RS-485 line. Its
// name is modbus-tcp://HOST[:PORT][?allow=MS] (port 502 unless given; see
// net/netline.h for the rest of the name). The connection is a raw network
// line's (net/netline.h): bounded buffers, stop events, the learnt latency
// allowance. What differs is what travels on it: each request in an MBAP
// header without its CRC, which the line tells the requests
// (TLineFraming::Mbap) so that they frame it (modbus/mbap.h).

#include "net/netline.h"
#include "serial/link.h"

#include <memory>
#include <string>

// The table's entry for modbus-tcp:// names: a malformed one does not open
// (EComPort(ceOpenFailed, comdev::kNetBadName, what is wrong)).
std::unique_ptr<TLineBackend> OpenModbusTcpLine(const std::string& name, const TComStopEvent* stop);

class TModbusTcpLine final : public TLineBackend {
 public:
  // Connects as a raw network line does. Throws EComPort(ceOpenFailed, the
  // system's code).
  TModbusTcpLine(const TNetPortName& name, const TComStopEvent* stop);

  TLineFraming Framing() const override { return TLineFraming::Mbap; }

  // The rest is the raw network line's.
  void SetBuffers(int inputSize, int outputSize) override {
    line_.SetBuffers(inputSize, outputSize);
  }
  void SetLine(const comdev::LineSettings& line, const TComStopEvent* stop) override {
    line_.SetLine(line, stop);
  }
  void SetTimeouts(const comdev::TimeoutSettings& timeouts) override {
    line_.SetTimeouts(timeouts);
  }
  void SetStopEvent(const TComStopEvent* stop) override { line_.SetStopEvent(stop); }
  void Close() override { line_.Close(); }
  int WriteBytes(const void* buffer, int count) override { return line_.WriteBytes(buffer, count); }
  int PendingInputCount() override { return line_.PendingInputCount(); }
  std::string ReadBytes(int count) override { return line_.ReadBytes(count); }
  void WaitForEvent(TComEvents& events, TComStopEvent* stopEvent, int timeoutMs) override {
    line_.WaitForEvent(events, stopEvent, timeoutMs);
  }
  bool Connected() const override { return line_.Connected(); }
  int LatencyAllowanceMs() const override { return line_.LatencyAllowanceMs(); }
  bool LearnsLatency() const override { return line_.LearnsLatency(); }
  void LearnLatency(int delayMs, bool late) override { line_.LearnLatency(delayMs, late); }
  int LateAnswerAllowanceMs() const override { return line_.LateAnswerAllowanceMs(); }

 private:
  TNetLine line_;
};
