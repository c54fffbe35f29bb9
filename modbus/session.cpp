#include "modbus/session.h"

#include "serial/platform.h"

Session::Session() : Requests(ComPort, Exchange, Params) { Requests.SetTrafficLog(&Traffic); }

Session::Session(TComLink& link, ExchangeClock& clock) : Requests(link, Exchange, Params, clock) {
  Requests.SetTrafficLog(&Traffic);
}

Session::~Session() {
  // The stop event goes next; a later stop request must not reach it.
  UnregisterConsoleHandler(stopEvent_.get());
  Requests.SetStopEvent(nullptr);
}

void Session::AskPassword(int mode) {
  PasswordMode = mode;
  UnlockGranted = 0;
  WriteGranted = 0;
  if (passwordPrompt_) passwordPrompt_();
}

void Session::SetPasswordPrompt(const void* owner, std::function<void()> prompt) {
  passwordPromptOwner_ = owner;
  passwordPrompt_ = std::move(prompt);
}

void Session::TakeBackPasswordPrompt(const void* owner) {
  if (owner == passwordPromptOwner_) SetPasswordPrompt(nullptr, nullptr);
}

void Session::RenewStopEvent(std::function<void()> onConsoleStop) {
  // The new event is registered before the old one goes, so a stop request
  // never reaches a freed event.
  auto fresh = std::make_unique<TComStopEvent>();
  RegisterConsoleHandler(fresh.get(), std::move(onConsoleStop));
  Requests.SetStopEvent(fresh.get());
  std::swap(stopEvent_, fresh);
}
