#pragma once
// The process's own standard streams as tl8ctl's Console, through the
// platform's console output: Unicode to a Windows console, whatever its code
// page; UTF-8 to a terminal, a file or a pipe.

#include "cli/report.h"

class StandardConsole final : public Console {
 public:
  void Out(const QString& text) override;
  void Err(const QString& text) override;
  bool ErrIsTerminal() const override;
  bool ErrErasesWithEscapes() const override;
  QString OutFailure() const override { return outFailure_; }

 private:
  QString outFailure_;  // the first failure; later writes are still tried
};
