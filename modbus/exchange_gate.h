#pragma once
// One exchange at a time across the whole tool. Requests share one frame
// buffer and one answer, and the waits between them let handlers run, so a
// handler that starts an exchange first claims the gate and returns at once
// when it is taken; windows follow BusyChanged to disable what would start one.

#include <QObject>

class ExchangeGate : public QObject {
  Q_OBJECT

 public:
  bool Busy() const { return busy_; }

  // Claims the gate for its lifetime when it is free.
  class Scope {
   public:
    explicit Scope(ExchangeGate& gate);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    bool Claimed() const { return gate_ != nullptr; }
    explicit operator bool() const { return Claimed(); }

   private:
    ExchangeGate* gate_ = nullptr;
  };

 signals:
  void BusyChanged(bool busy);

 private:
  void SetBusy(bool busy);

  bool busy_ = false;
};
