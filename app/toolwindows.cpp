#include "app/toolwindows.h"

#include "app/tl8form.h"
#include "modbus/boxes.h"
#include "serial/veskcomsetupfrm.h"
#include "windows/paswkoefform.h"

ToolWindows::ToolWindows() {
  Tl8Form_ = std::make_unique<TTl8Form>();
  Tl8Form = Tl8Form_.get();
  Tl8Form_->Show();
  // Never shown: the main window builds a fresh one for each use. Building it
  // reads the system's port list, whose failure is reported like any other.
  RunHandler([this] { VeskComSetupFrm_ = std::make_unique<TVeskComSetupFrm>(); });
  VeskComSetupFrm = VeskComSetupFrm_.get();
  PaswKoefForm_ = std::make_unique<TPaswKoefForm>(Tl8Form_.get());
  PaswKoefForm = PaswKoefForm_.get();
}

ToolWindows::~ToolWindows() {
  PaswKoefForm = nullptr;
  PaswKoefForm_.reset();
  VeskComSetupFrm = nullptr;
  VeskComSetupFrm_.reset();
  Tl8Form = nullptr;
  Tl8Form_.reset();
}
