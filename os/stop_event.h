#pragma once
// The event that ends a port's (or a network line's) wait early: Ctrl-C in
// the terminal, a termination request, a window closed.

#include <cstdint>

// A manual-reset event that can end a WaitForEvent early. Not signalled when
// created. Signal is async-signal-safe and may be called from any thread.
class TComStopEvent {
 public:
  TComStopEvent();
  ~TComStopEvent();
  TComStopEvent(const TComStopEvent&) = delete;
  TComStopEvent& operator=(const TComStopEvent&) = delete;

  void Signal() noexcept;
  void Reset();
  bool IsSignalled() const;
  std::intptr_t Handle() const { return handle_; }  // what the platform waits on

 private:
  std::intptr_t handle_;
};
