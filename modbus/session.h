#pragma once
// One service session with the adapter: what the windows (or the command
// line) share while they talk to it. It talks through the line it is given;
// the front end owns the port (or the simulated line) and the stop event.
// Nothing of it is process-wide.

#include "modbus/clock.h"
#include "modbus/exchange_gate.h"
#include "modbus/exchange_state.h"
#include "modbus/params.h"
#include "modbus/password.h"
#include "modbus/requests.h"
#include "modbus/service.h"
#include "modbus/traffic.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

class ChangeHistory;
class TComLink;
class TComStopEvent;

class Session {
 public:
  // Requests go through `link`, their delays on `clock`, which must be the
  // one the link waits on (a simulated line's virtual clock).
  explicit Session(TComLink& link, ExchangeClock& clock = TheSystemClock());
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The line the requests talk through.
  const TComLink& Line() const { return line_; }

  // The adapter every request goes to (DeviceAddress): 0 until the tool is
  // told one; the search, the address write and the image writes move it.
  uint8_t DeviceAddress() const { return exchange_.DeviceAddress; }
  void TalkTo(uint8_t address) { exchange_.DeviceAddress = address; }

  // One exchange at a time (see exchange_gate.h).
  ExchangeGate& Gate() { return gate_; }
  // What went over the line, for the line monitor and tl8ctl --trace.
  TrafficLog& Traffic() { return traffic_; }
  const TrafficLog& Traffic() const { return traffic_; }

  // The event that ends the port waits early and, once signalled, keeps every
  // further frame off the line; the front end owns it. Null: none.
  void SetStopEvent(TComStopEvent* stopEvent) {
    stopEvent_ = stopEvent;
    requests_.SetStopEvent(stopEvent);
  }
  // That event, for the sessions a front end runs beside this one (one a
  // port, tl8ctl's --all-ports), so that one stop request ends them all.
  TComStopEvent* StopEvent() const { return stopEvent_; }
  bool StopRequested() const { return requests_.StopRequested(); }

  // --- The password gate ----------------------------------------------------
  // A caller asks (AskPassword); the registered prompt, the password dialog,
  // lets the user type and has the word judged (JudgePassword); the caller
  // then reads the grant its request asked for.

  PasswordRequest PasswordMode() const { return passwordMode_; }
  void SetPasswordMode(PasswordRequest request) { passwordMode_ = request; }
  bool UnlockGranted() const { return unlockGranted_; }
  bool WriteGranted() const { return writeGranted_; }

  // Sets PasswordMode, takes back both grants and lets the prompt ask;
  // without a prompt, nothing is granted.
  void AskPassword(PasswordRequest request);
  // The prompt shows afresh: no grant carries over from an earlier one.
  void TakeBackGrants();
  // Grants what PasswordMode asks for when `typed` is its word; whether it was.
  bool JudgePassword(const QString& typed);
  // The prompt `owner` offers, in place of any other; taking it back only
  // takes back `owner`'s own.
  void SetPasswordPrompt(const void* owner, std::function<void()> prompt);
  void TakeBackPasswordPrompt(const void* owner);

  // --- The change records ---------------------------------------------------------
  // Where the writes that change an adapter are recorded (modbus/history.h);
  // the front end owns it. Null: they are not recorded.
  void RecordChangesIn(ChangeHistory* history) { history_ = history; }
  ChangeHistory* History() const { return history_; }
  // The name of the port the session talks through, as the records give it.
  void SetPortName(std::function<QString()> portName) { portName_ = std::move(portName); }
  QString PortName() const { return portName_ ? portName_() : QString(); }

  // What this session last knew completely of the adapter at `address`: its
  // last complete read (ReadAdapter keeps it), or the image a complete write
  // gave it since. Null when it has none.
  const AdapterReading* LastReading(uint8_t address) const;
  // The adapter known last, whatever its address.
  std::optional<AdapterReading> LatestReading() const { return latest_; }
  void KeepReading(uint8_t address, const AdapterReading& reading);
  // The adapter at `from` answers at `to` now: what is known of it goes along.
  void MoveReading(uint8_t from, uint8_t to);

  // --- The exchange core's own state ---------------------------------------------
  // For the service operations (modbus/service.h) and the tests; the front
  // ends run the operations instead.
  ExchangeState& Exchange() { return exchange_; }
  const ExchangeState& Exchange() const { return exchange_; }
  ParamData& Params() { return params_; }
  const ParamData& Params() const { return params_; }
  ModbusRequests& Requests() { return requests_; }

 private:
  TComLink& line_;
  ExchangeState exchange_;
  ParamData params_;
  ExchangeGate gate_;
  TrafficLog traffic_;
  ModbusRequests requests_;
  TComStopEvent* stopEvent_ = nullptr;
  PasswordRequest passwordMode_ = PasswordRequest::Write;
  bool unlockGranted_ = false;
  bool writeGranted_ = false;
  const void* passwordPromptOwner_ = nullptr;
  std::function<void()> passwordPrompt_;
  ChangeHistory* history_ = nullptr;
  std::function<QString()> portName_;
  std::map<uint8_t, AdapterReading> readings_;
  std::optional<AdapterReading> latest_;
};
