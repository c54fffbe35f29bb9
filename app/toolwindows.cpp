#include "app/toolwindows.h"

#include "app/tl8form.h"
#include "windows/paswkoefform.h"

ToolWindows::ToolWindows() {
  Tl8Form_ = std::make_unique<TTl8Form>();
  Tl8Form = Tl8Form_.get();
  Tl8Form_->Show();
  PaswKoefForm_ = std::make_unique<TPaswKoefForm>(Tl8Form_.get());
  PaswKoefForm = PaswKoefForm_.get();
}

ToolWindows::~ToolWindows() {
  PaswKoefForm = nullptr;
  PaswKoefForm_.reset();
  Tl8Form = nullptr;
  Tl8Form_.reset();
}
