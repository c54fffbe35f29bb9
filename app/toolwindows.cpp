#include "app/toolwindows.h"

#include "app/tl8form.h"
#include "modbus/boxes.h"
#include "serial/veskcomsetupfrm.h"
#include "windows/koefforpotreb.h"
#include "windows/netaddrf.h"
#include "windows/paswkoefform.h"
#include "windows/tehform.h"

#include <QAction>
#include <QMenu>

namespace {

// Creates a window and publishes it under its process-wide name.
template <typename Window, typename... Args>
void Create(std::unique_ptr<Window>& owner, Window*& name, Args&&... args) {
  owner = std::make_unique<Window>(std::forward<Args>(args)...);
  name = owner.get();
}

template <typename Window>
void Destroy(std::unique_ptr<Window>& owner, Window*& name) {
  name = nullptr;
  owner.reset();
}

}  // namespace

ToolWindows::ToolWindows() {
  Create(Tl8Form_, Tl8Form);
  Tl8Form_->Show();
  // Never shown: the main window builds a fresh one for each use. Building it
  // reads the system's port list, whose failure is reported like any other.
  RunHandler([this] { Create(VeskComSetupFrm_, VeskComSetupFrm); });
  Create(KoefForPotreb_, KoefForPotreb);
  Create(PaswKoefForm_, PaswKoefForm, Tl8Form_.get());
  Create(TehForm_, TehForm);
  Create(NetAddrF_, NetAddrF);
  NetAddrF_->WorkMenu = Tl8Form_->N3->menuAction();
}

ToolWindows::~ToolWindows() {
  Destroy(NetAddrF_, NetAddrF);
  Destroy(TehForm_, TehForm);
  Destroy(PaswKoefForm_, PaswKoefForm);
  Destroy(KoefForPotreb_, KoefForPotreb);
  Destroy(VeskComSetupFrm_, VeskComSetupFrm);
  Destroy(Tl8Form_, Tl8Form);
}
