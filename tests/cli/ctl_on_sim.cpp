#include "tests/cli/ctl_on_sim.h"

#include "cli/report.h"
#include "cli/run.h"
#include "modbus/session.h"
#include "serial/link.h"

#include <QStringList>

#include <cerrno>

namespace tl8test {

CtlOnSim::CtlOnSim(SimLinkSetup setup) : sim(std::move(setup)) {}

Ran CtlOnSim::Run(const std::vector<std::string>& args) {
  QStringList list;
  for (const std::string& arg : args) list << QString::fromStdString(arg);
  StringConsole console(errOnTerminal_);
  Session session(sim.link(), sim.clock);
  TComStopEvent stop;
  session.SetStopEvent(&stop);
  stop_ = &stop;
  openedPort_.clear();
  const PortAccess ports{[this](const QString& port) {
                           // as the port's open reports it
                           if (portHeld_) throw EComPort(ceOpenFailed, EBUSY);
                           openedPort_ = port;
                         },
                         // The commands run here name their port: the system lists none.
                         [] { return std::vector<ComPortInfo>{}; }};
  const int code = RunTl8ctl(list, console, session, ports);
  stop_ = nullptr;
  return {code, console.out, console.err};
}

void CtlOnSim::Interrupt() {
  if (stop_) stop_->Signal();
}

}  // namespace tl8test
