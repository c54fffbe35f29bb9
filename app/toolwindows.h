#pragma once
// Every window of the tool, created once in a fixed order (the main window
// first, shown at once, so its start-up question comes before anything else)
// and destroyed in the reverse order when the tool ends. Each is also
// reachable by its process-wide object name.

#include <memory>

class TTl8Form;
class TVeskComSetupFrm;
class TKoefForPotreb;
class TPaswKoefForm;
class TTehForm;
class TNetAddrF;

class ToolWindows {
 public:
  ToolWindows();
  ~ToolWindows();

 private:
  std::unique_ptr<TTl8Form> Tl8Form_;
  std::unique_ptr<TVeskComSetupFrm> VeskComSetupFrm_;
  std::unique_ptr<TKoefForPotreb> KoefForPotreb_;
  std::unique_ptr<TPaswKoefForm> PaswKoefForm_;
  std::unique_ptr<TTehForm> TehForm_;
  std::unique_ptr<TNetAddrF> NetAddrF_;
};
