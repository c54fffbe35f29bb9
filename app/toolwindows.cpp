#include "app/toolwindows.h"

#include "app/tl8form.h"
#include "portdialog/veskcomsetupfrm.h"
#include "ui/boxes.h"
#include "windows/changelogform.h"
#include "windows/koefforpotreb.h"
#include "windows/linemonitor.h"
#include "windows/netaddrf.h"
#include "windows/paswkoefform.h"
#include "windows/tehform.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

ToolWindows::ToolWindows(Session& session, TComPort& port, const QString& startPort) {
  Tl8Form_ = std::make_unique<TTl8Form>(session, port, startPort);
  Tl8Form_->Show();
  // Never shown: the main window builds a fresh one for each use. Building it
  // reads the system's port list, whose failure is reported like any other.
  RunHandler([this] { VeskComSetupFrm_ = std::make_unique<TVeskComSetupFrm>(); });
  KoefForPotreb_ = std::make_unique<TKoefForPotreb>(session);
  PaswKoefForm_ = std::make_unique<TPaswKoefForm>(session, Tl8Form_.get());
  TehForm_ = std::make_unique<TTehForm>(session);
  NetAddrF_ = std::make_unique<TNetAddrF>(session);
  LineMonitor_ = std::make_unique<TLineMonitor>(session);
  ChangeLogForm_ = std::make_unique<TChangeLogForm>(session);

  Tl8Form_->SetServiceWindows({NetAddrF_.get(), KoefForPotreb_.get(), TehForm_.get(),
                               LineMonitor_.get(), ChangeLogForm_.get()});
  QObject::connect(NetAddrF_.get(), &TNetAddrF::WorkMenuVisible, Tl8Form_->N3->menuAction(),
                   &QAction::setVisible);
  // The bounds window may be used once the calibration window has read the adapter.
  QObject::connect(TehForm_.get(), &TTehForm::AdapterRead, KoefForPotreb_.get(),
                   [bounds = KoefForPotreb_.get()] { bounds->setEnabled(true); });
}

int ToolWindows::Run() const { return Tl8Form_->Ended() ? 0 : QApplication::exec(); }

ToolWindows::~ToolWindows() {
  ChangeLogForm_.reset();
  LineMonitor_.reset();
  NetAddrF_.reset();
  TehForm_.reset();
  PaswKoefForm_.reset();
  KoefForPotreb_.reset();
  VeskComSetupFrm_.reset();
  Tl8Form_.reset();
}
