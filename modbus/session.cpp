#include "modbus/session.h"

Session::Session(TComLink& link, ExchangeClock& clock)
    : line_(link), requests_(link, exchange_, params_, clock) {
  requests_.SetTrafficLog(&traffic_);
}

void Session::AskPassword(PasswordRequest request) {
  passwordMode_ = request;
  TakeBackGrants();
  if (passwordPrompt_) passwordPrompt_();
}

void Session::TakeBackGrants() {
  unlockGranted_ = false;
  writeGranted_ = false;
}

bool Session::JudgePassword(const QString& typed) {
  if (!PasswordPasses(passwordMode_, typed)) return false;
  (passwordMode_ == PasswordRequest::Unlock ? unlockGranted_ : writeGranted_) = true;
  return true;
}

void Session::SetPasswordPrompt(const void* owner, std::function<void()> prompt) {
  passwordPromptOwner_ = owner;
  passwordPrompt_ = std::move(prompt);
}

void Session::TakeBackPasswordPrompt(const void* owner) {
  if (owner == passwordPromptOwner_) SetPasswordPrompt(nullptr, nullptr);
}

const AdapterReading* Session::LastReading(uint8_t address) const {
  const auto found = readings_.find(address);
  return found == readings_.end() ? nullptr : &found->second;
}

void Session::KeepReading(uint8_t address, const AdapterReading& reading) {
  readings_[address] = reading;
  latest_ = reading;
}

void Session::MoveReading(uint8_t from, uint8_t to) {
  const auto found = readings_.find(from);
  if (from == to || found == readings_.end()) return;
  AdapterReading moved = found->second;
  moved.answeringAddress = to;
  readings_.erase(found);
  KeepReading(to, moved);
}
