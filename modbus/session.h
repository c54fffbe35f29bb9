#pragma once
// One service session with the adapter: everything the windows (or the
// command line) share while they talk to it. The application makes one and
// hands it to every window; nothing of it is process-wide.

#include "modbus/exchange_gate.h"
#include "modbus/exchange_state.h"
#include "modbus/params.h"
#include "modbus/requests.h"
#include "modbus/traffic.h"
#include "serial/comport.h"

#include <functional>
#include <memory>

class Session {
 public:
  // Requests go through the session's own port on the system clock, or
  // through `link` on `clock` (a simulated adapter on virtual time).
  Session();
  Session(TComLink& link, ExchangeClock& clock);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  TComPort ComPort;  // the one port every request goes through
  ExchangeState Exchange;
  ParamData Params;
  ExchangeGate Gate;   // one exchange at a time
  TrafficLog Traffic;  // what went over the line, for the line monitor
  ModbusRequests Requests;

  // The password gate's request and result flags. PasswordMode 1 asks for
  // the unlock word, anything else for the write word.
  int PasswordMode = 0;
  int UnlockGranted = 0;
  int WriteGranted = 0;

  // Sets PasswordMode and lets the registered prompt (the password dialog)
  // ask; without one, nothing is granted.
  void AskPassword(int mode);
  // The prompt `owner` offers, in place of any other; taking it back only
  // takes back `owner`'s own.
  void SetPasswordPrompt(const void* owner, std::function<void()> prompt);
  void TakeBackPasswordPrompt(const void* owner);

  // The event that ends port waits early and keeps further frames off the
  // line; null until the first RenewStopEvent.
  TComStopEvent* StopEvent() const { return stopEvent_.get(); }
  // Puts a fresh, unsignalled stop event in place of the old one, hands it to
  // the requests and registers it with the console's stop requests, which
  // signal it at once and then run `onConsoleStop` on the user-interface
  // thread. The registration ends with the session.
  void RenewStopEvent(std::function<void()> onConsoleStop);

 private:
  std::unique_ptr<TComStopEvent> stopEvent_;
  const void* passwordPromptOwner_ = nullptr;
  std::function<void()> passwordPrompt_;
};
