#pragma once
// Every window of the tool, created once for the session in a fixed order (the
// main window first, shown at once, so its start-up question comes before
// anything else) and destroyed in the reverse order when the tool ends. The
// windows meet only here: each gets the session (the main window also the
// port the session talks through), and what one window does for another is
// wired up here.

#include "app/tl8form.h"

#include <memory>

class Session;
class TComPort;
class TVeskComSetupFrm;
class TKoefForPotreb;
class TPaswKoefForm;
class TTehForm;
class TNetAddrF;
class TLineMonitor;
class TChangeLogForm;

class ToolWindows {
 public:
  // The start-up opens `port` under `startPort` (see TTl8Form).
  ToolWindows(Session& session, TComPort& port, const QString& startPort = kStartPortName);
  ~ToolWindows();

  // Runs the message loop until the main window closes; returns 0 at once
  // when a stop request closed it during the start-up, before the loop ran.
  int Run() const;

  TTl8Form* Tl8Form() const { return Tl8Form_.get(); }
  TVeskComSetupFrm* VeskComSetupFrm() const { return VeskComSetupFrm_.get(); }
  TKoefForPotreb* KoefForPotreb() const { return KoefForPotreb_.get(); }
  TPaswKoefForm* PaswKoefForm() const { return PaswKoefForm_.get(); }
  TTehForm* TehForm() const { return TehForm_.get(); }
  TNetAddrF* NetAddrF() const { return NetAddrF_.get(); }
  TLineMonitor* LineMonitor() const { return LineMonitor_.get(); }
  TChangeLogForm* ChangeLogForm() const { return ChangeLogForm_.get(); }

 private:
  std::unique_ptr<TTl8Form> Tl8Form_;
  std::unique_ptr<TVeskComSetupFrm> VeskComSetupFrm_;
  std::unique_ptr<TKoefForPotreb> KoefForPotreb_;
  std::unique_ptr<TPaswKoefForm> PaswKoefForm_;
  std::unique_ptr<TTehForm> TehForm_;
  std::unique_ptr<TNetAddrF> NetAddrF_;
  std::unique_ptr<TLineMonitor> LineMonitor_;
  std::unique_ptr<TChangeLogForm> ChangeLogForm_;
};
