// What the line monitor costs an exchange: the 16-parameter read against the
// adapter simulator on a pseudo-terminal, in real time, with the session's
// traffic log off, with it recording and the monitor window closed, and with
// the window open and showing every line (on the offscreen platform unless a
// display is set). Prints the wall time of each read beside the fixed delays
// of its requests, and how far over them it went; the goal with the window
// open is within 3%.

#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/sim_process.h"
#include "windows/linemonitor.h"

#include <QApplication>
#include <QPlainTextEdit>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kReadDelaysMs = 100 + 20;  // each parameter read's fixed delays

// The wall time of one read of the 16 parameters, in ms; -1 when one failed.
double Read16(Session& session) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= kParamCount; ++i) {
    session.Exchange().ParamIndex = i;
    session.Requests().ReadParameter(0);
    if (session.Exchange().ResponseStatus != kStatusAccepted) return -1;
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

struct Setting {
  const char* name;
  std::function<void()> enter;
  std::function<void()> leave;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  tl8test::SimProcess sim;
  TComPort port;
  Session session{port};
  port.SetEvents({});
  port.SetPort(sim.port());
  port.OpenPort();
  session.TalkTo(1);
  TLineMonitor monitor(session);

  const Setting settings[] = {
      {"no log", [&] { session.Requests().SetTrafficLog(nullptr); },
       [&] { session.Requests().SetTrafficLog(&session.Traffic()); }},
      {"closed", [] {}, [] {}},
      {"open", [&] { monitor.Open(); }, [&] { monitor.hide(); }},
  };
  constexpr int kRounds = 5;
  std::map<std::string, std::vector<double>> walls;
  std::printf("simulator on %s; %d rounds, settings interleaved\n", sim.port().c_str(), kRounds);
  for (int round = 0; round < kRounds; ++round) {
    for (const Setting& setting : settings) {
      setting.enter();
      walls[setting.name].push_back(Read16(session));
      setting.leave();
    }
  }

  const double delays = kParamCount * kReadDelaysMs;
  std::printf("%-8s %9s %10s %10s %10s\n", "monitor", "delays ms", "best ms", "median ms",
              "median vs delays");
  for (const Setting& setting : settings) {
    std::vector<double> w = walls[setting.name];
    std::sort(w.begin(), w.end());
    if (w.front() < 0) {
      std::printf("%-8s a read failed\n", setting.name);
      continue;
    }
    const double median = w[w.size() / 2];
    std::printf("%-8s %9.1f %10.1f %10.1f %+9.2f%%\n", setting.name, delays, w.front(), median,
                100 * (median / delays - 1));
  }
  monitor.ShowNewLines();
  std::printf("lines recorded: %llu, shown by the monitor: %d\n",
              static_cast<unsigned long long>(session.Traffic().End()),
              monitor.Lines->document()->blockCount());
  return 0;
}
