#pragma once
// tl8ctl's whole run (cli/run.h) in the test's process, on the simulated line
// in virtual time: what a run of the program against tl8sim shows (exit code,
// stdout, stderr, the adapters' memory and every frame they received), in
// no wall time and whatever the machine's load.
//
//   tl8test::CtlOnSim ctl(tl8test::SimulatorSetup({"--address", "17"}));
//   const tl8test::Ran ran = ctl.Run({"scan", "--from", "15"});
//   ctl.sim.Received()              // the frames the adapters received
//   ctl.sim.State(17)               // what adapter 17 keeps
//
// Each run is a fresh process's: a new session on the same line, whose
// adapters keep their memory and their faults' counts from run to run.

#include "tests/cli/ctl_output.h"
#include "tests/support/sim_session.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class ChangeHistory;
class TComLink;
class TComStopEvent;
struct PortAccess;

namespace tl8test {

// One tl8ctl run in the test's process: a session on `line` and `clock`,
// which `stop` stops as Ctrl-C does, reaching the ports through `ports`;
// stderr is a terminal with `errOnTerminal`; the writes are recorded in
// `history`, when given. A test with ports of its own runs this; one on a
// single simulated line runs CtlOnSim.
Ran RunInProcess(const QStringList& args, TComLink& line, VirtualClock& clock, TComStopEvent& stop,
                 const PortAccess& ports, bool errOnTerminal = false,
                 ChangeHistory* history = nullptr);

class CtlOnSim {
 public:
  explicit CtlOnSim(SimLinkSetup setup = {});
  ~CtlOnSim();

  // One run with `args`, the program's name left out.
  Ran Run(const std::vector<std::string>& args);

  // From now on the port does not open: another program holds it.
  void HoldPortElsewhere() { portHeld_ = true; }
  // From now on Ctrl-C comes while the port opens (a network line's
  // connection), which then fails as a stopped opening does.
  void StopWhileOpening() { stopWhileOpening_ = true; }
  // Standard error is a terminal for the runs from now on.
  void ErrOnTerminal() { errOnTerminal_ = true; }
  // The runs from now on keep their change records in `folder`, as the
  // program keeps them in the user's data folder (by "tester").
  void KeepRecordsIn(const QString& folder);
  // Ctrl-C: signals the running run's stop event, as the program's console
  // handler does (at a moment of virtual time: sim.clock.At).
  void Interrupt();
  // The port the last run opened; empty when it opened none.
  const QString& OpenedPort() const { return openedPort_; }

  SimSession sim;

 private:
  bool portHeld_ = false;
  bool stopWhileOpening_ = false;
  bool errOnTerminal_ = false;
  TComStopEvent* stop_ = nullptr;  // the running run's
  QString openedPort_;
  std::unique_ptr<ChangeHistory> history_;
};

}  // namespace tl8test
