#pragma once
// The latency allowance of a line to a device server: what it adds to every
// wait for an answer, given by hand or learnt from the line's own exchanges
// as TCP learns its retransmission timeout. Each answer's delay beyond its
// time on the serial line is a sample of the path's round trip; a smoothed
// estimate and its mean deviation give the allowance, the estimate and four
// times the deviation, within bounds. The connection's own round trip is only
// a first guess: a forwarder near the tool (a tunnel, a VPN gateway) answers
// the connection itself, so only answers from the far end tell.

// The first guess's allowance for a round trip measured while opening (the
// connection, an RFC 2217 server's answer to the settings): half as much again
// covers its variation, and 10 ms the device server's own pause; at most
// 1000 ms, so that one slow answer to the opening costs one slow first wait.
int AllowanceForRoundTrip(int roundTripMs);

class TLatencyEstimate {
 public:
  // The least and the most allowance learnt, in ms: the device server's own
  // pause before it passes on what came from the line, and a path of 2 s
  // each way.
  static constexpr int kLeastMs = 10;
  static constexpr int kMostMs = 5000;

  // An answer that came within its wait took `delayMs` beyond its line time.
  void Sample(int delayMs);
  // An answer that came only after its wait had ended, `delayMs` beyond its
  // line time: the estimate was too low, and it starts again from this one.
  void Late(int delayMs);

  int AllowanceMs() const;
  // Whether any answer has been measured yet.
  bool Measured() const { return measured_; }

 private:
  double smoothed_ = 0;   // ms
  double deviation_ = 0;  // ms
  bool measured_ = false;
};

// What a line allows for the way to the adapter and back: nothing (a local
// port), an allowance given by hand, or one learnt from the answers, from a
// first guess until an answer has been measured.
class TLatencyAllowance {
 public:
  // The most a learnt allowance that has not measured any answer yet may turn
  // out to be, for the wait until a late answer can no longer come: a path of
  // half a second each way.
  static constexpr int kUnmeasuredMs = 1000;

  static TLatencyAllowance None() { return TLatencyAllowance(0, false); }
  static TLatencyAllowance Fixed(int ms) { return TLatencyAllowance(ms, false); }
  static TLatencyAllowance Learnt(int firstRoundTripMs) {
    return TLatencyAllowance(firstRoundTripMs, true);
  }

  // A round trip measured while opening: the first guess, when it is the
  // longest yet (a learnt allowance only).
  void Guess(int roundTripMs);
  bool Learns() const { return learns_; }
  void Learn(int delayMs, bool late);
  int AllowanceMs() const;
  int LateAnswerMs() const;

 private:
  TLatencyAllowance(int ms, bool learns) : ms_(ms), learns_(learns) {}

  int ms_;  // the fixed allowance, or the first guess of the round trip
  bool learns_;
  TLatencyEstimate estimate_;
};
