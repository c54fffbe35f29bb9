#include "net/latency.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMostGuessedMs = 1000;
// The gains of the smoothed estimate and of its deviation (RFC 6298).
constexpr double kEstimateGain = 1.0 / 8;
constexpr double kDeviationGain = 1.0 / 4;
constexpr double kDeviations = 4;

}  // namespace

int AllowanceForRoundTrip(int roundTripMs) {
  const int allowance = roundTripMs + (roundTripMs + 1) / 2 + TLatencyEstimate::kLeastMs;
  return std::min(allowance, kMostGuessedMs);
}

void TLatencyEstimate::Sample(int delayMs) {
  if (!measured_) return Late(delayMs);  // the first measurement: nothing to smooth yet
  const double sample = std::max(delayMs, 0);
  deviation_ += kDeviationGain * (std::abs(smoothed_ - sample) - deviation_);
  smoothed_ += kEstimateGain * (sample - smoothed_);
}

void TLatencyEstimate::Late(int delayMs) {
  const double sample = std::max(delayMs, 0);
  smoothed_ = sample;
  deviation_ = std::max(deviation_, sample / 2);
  measured_ = true;
}

int TLatencyEstimate::AllowanceMs() const {
  const double allowance = smoothed_ + kDeviations * deviation_ + kLeastMs;
  return static_cast<int>(std::clamp(std::ceil(allowance), double{kLeastMs}, double{kMostMs}));
}

void TLatencyAllowance::Guess(int roundTripMs) {
  if (learns_) ms_ = std::max(ms_, roundTripMs);
}

void TLatencyAllowance::Learn(int delayMs, bool late) {
  if (!learns_) return;
  if (late) {
    estimate_.Late(delayMs);
  } else {
    estimate_.Sample(delayMs);
  }
}

int TLatencyAllowance::AllowanceMs() const {
  if (!learns_) return ms_;
  return estimate_.Measured() ? estimate_.AllowanceMs() : AllowanceForRoundTrip(ms_);
}

int TLatencyAllowance::LateAnswerMs() const {
  const int allowance = AllowanceMs();
  return learns_ && !estimate_.Measured() ? std::max(allowance, kUnmeasuredMs) : allowance;
}
