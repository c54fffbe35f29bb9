#include "tests/cli/ctl_on_sim.h"

#include "cli/report.h"
#include "cli/run.h"
#include "modbus/session.h"
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
  const int code = RunTl8ctl(list, console, session, [this](const QString& port) {
    if (portHeld_) throw EComPort(ceOpenFailed, EBUSY);  // as the port's open reports it
    openedPort_ = port;
  });
  stop_ = nullptr;
  return {code, console.out, console.err};
}

void CtlOnSim::Interrupt() {
  if (stop_) stop_->Signal();
}

}  // namespace tl8test
