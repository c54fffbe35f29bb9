#pragma once
// Every window of the tool, created once in a fixed order (the main window
// first, shown at once) and destroyed together when the tool ends. Each is
// also reachable by its process-wide object name.

#include <memory>

class TTl8Form;
class TPaswKoefForm;
class TVeskComSetupFrm;

class ToolWindows {
 public:
  ToolWindows();
  ~ToolWindows();

 private:
  std::unique_ptr<TTl8Form> Tl8Form_;
  std::unique_ptr<TVeskComSetupFrm> VeskComSetupFrm_;
  std::unique_ptr<TPaswKoefForm> PaswKoefForm_;
};
