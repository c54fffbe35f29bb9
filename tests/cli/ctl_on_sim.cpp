#include "tests/cli/ctl_on_sim.h"

#include "cli/report.h"
#include "cli/run.h"
#include "modbus/history.h"
#include "modbus/session.h"
#include "os/platform.h"
#include "serial/link.h"

#include <QStringList>

#include <cerrno>

namespace tl8test {
namespace {

// Standard output and standard error as strings (UTF-8, as the program writes them).
class StringConsole final : public Console {
 public:
  explicit StringConsole(bool errIsTerminal) : errIsTerminal_(errIsTerminal) {}
  void Out(const QString& text) override { out += text.toStdString(); }
  void Err(const QString& text) override { err += text.toStdString(); }
  bool ErrIsTerminal() const override { return errIsTerminal_; }

  std::string out;
  std::string err;

 private:
  bool errIsTerminal_;
};

}  // namespace

Ran RunInProcess(const QStringList& args, TComLink& line, VirtualClock& clock, TComStopEvent& stop,
                 const PortAccess& ports, bool errOnTerminal, ChangeHistory* history) {
  StringConsole console(errOnTerminal);
  Session session(line, clock);
  session.SetStopEvent(&stop);
  session.RecordChangesIn(history);
  const int code = RunTl8ctl(args, console, session, ports);
  return {code, console.out, console.err};
}

CtlOnSim::CtlOnSim(SimLinkSetup setup) : sim(std::move(setup)) {}

CtlOnSim::~CtlOnSim() = default;

void CtlOnSim::KeepRecordsIn(const QString& folder) {
  history_ = std::make_unique<ChangeHistory>(folder, QStringLiteral("tester"));
}

Ran CtlOnSim::Run(const std::vector<std::string>& args) {
  QStringList list;
  for (const std::string& arg : args) list << QString::fromStdString(arg);
  TComStopEvent stop;
  stop_ = &stop;
  openedPort_.clear();
  const PortAccess ports{[this](const QString& port) {
                           // as the port's open reports it
                           if (portHeld_) throw EComPort(ceOpenFailed, EBUSY);
                           if (stopWhileOpening_) {
                             Interrupt();
                             throw EComPort(ceOpenFailed, comdev::kNetStopped);
                           }
                           openedPort_ = port;
                         },
                         // The commands run here name their port: the system lists none.
                         [] { return std::vector<ComPortInfo>{}; }, nullptr};
  const Ran ran =
      RunInProcess(list, sim.link(), sim.clock, stop, ports, errOnTerminal_, history_.get());
  stop_ = nullptr;
  return ran;
}

void CtlOnSim::Interrupt() {
  if (stop_) stop_->Signal();
}

}  // namespace tl8test
