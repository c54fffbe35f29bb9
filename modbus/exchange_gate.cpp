#include "modbus/exchange_gate.h"

ExchangeGate::Scope::Scope(ExchangeGate& gate) {
  if (gate.Busy()) return;
  gate_ = &gate;
  gate.SetBusy(true);
}

ExchangeGate::Scope::~Scope() {
  if (gate_) gate_->SetBusy(false);
}

void ExchangeGate::SetBusy(bool busy) {
  busy_ = busy;
  emit BusyChanged(busy);
}
