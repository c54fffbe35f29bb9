#include "cli/every_port.h"

#include "cli/report.h"
#include "modbus/requests.h"
#include "modbus/session.h"
#include "modbus/traffic.h"
#include "os/stop_event.h"

#include <QStringList>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// The ports that are one bus, in the list's order: the names of one device
// together, any other name alone.
std::vector<std::vector<size_t>> Buses(const std::vector<ComPortInfo>& ports,
                                       const std::vector<size_t>& indexes) {
  std::vector<std::vector<size_t>> buses;
  std::map<std::string, size_t> busOfDevice;
  for (size_t index : indexes) {
    const std::string& device = ports[index].device;
    const auto known = busOfDevice.find(device);
    if (device.empty() || known == busOfDevice.end()) {
      if (!device.empty()) busOfDevice[device] = buses.size();
      buses.push_back({index});
    } else {
      buses[known->second].push_back(index);
    }
  }
  return buses;
}

class EveryPort {
 public:
  EveryPort(const std::vector<ComPortInfo>& ports, const EveryPortRun& run, const PortWork& work)
      : ports_(ports), run_(run), work_(work), states_(ports.size()) {}

  std::vector<PortEnd> Run(const std::function<void(size_t)>& tell) {
    std::vector<size_t> open;
    for (size_t index = 0; index < ports_.size(); ++index) {
      if (const QString note = SkipNote(ports_[index]); !note.isEmpty())
        Finish(index, PortEnd::Skipped, note);
      else
        open.push_back(index);
    }
    std::vector<std::thread> threads;
    for (const std::vector<size_t>& bus : Buses(ports_, open)) {
      try {
        threads.emplace_back([this, bus] { RunBus(bus); });
      } catch (const std::system_error&) {
        RunBus(bus);  // no thread to spare: this one's turn comes here, in turn
      }
    }
    TellInOrder(tell);
    for (std::thread& thread : threads) thread.join();
    std::vector<PortEnd> ends;
    for (const PortState& state : states_) ends.push_back(state.end);
    return ends;
  }

 private:
  struct PortState {
    bool done = false;
    PortEnd end = PortEnd::Done;
    QString note;  // told after the port's own words
    QString step;  // what it is doing now
  };

  QString Name(size_t index) const { return QString::fromStdString(ports_[index].name); }

  static QString SkipNote(const ComPortInfo& port) {
    const QString name = QString::fromStdString(port.name);
    // Frames there would go to the machine's console, whatever answered.
    if (port.console) return "tl8ctl: " + name + " is the system console, skipped";
    if (port.busy) return "tl8ctl: " + name + " is busy, skipped";
    return {};
  }

  void RunBus(const std::vector<size_t>& bus) {
    for (size_t index : bus) RunPort(index);
  }

  void RunPort(size_t index) {
    // A stop request keeps a port closed, as it keeps the next frame off the line.
    if (run_.stop && run_.stop->IsSignalled()) return Finish(index, PortEnd::Stopped, {});
    std::unique_ptr<PortLine> line;
    try {
      line = run_.access.openLine(Name(index));
    } catch (const std::exception& failure) {
      return Finish(index, PortEnd::NotOpened,
                    "tl8ctl: " + Name(index) + " skipped: " + failure.what());
    }
    QString note;
    const PortEnd end = RunOpened(index, *line, note);
    line.reset();  // closed before it is told done
    Finish(index, end, note);
  }

  PortEnd RunOpened(size_t index, PortLine& line, QString& note) {
    Session session(line.Link(), line.Clock());
    session.SetStopEvent(run_.stop);
    if (run_.trace)
      session.Traffic().SetListener([this, index](const TrafficEntry& entry) {
        Trace(Name(index) + ' ' + TrafficLine(entry));
      });
    try {
      work_(index, session, [this, index](const QString& step) { Show(index, step); });
      return PortEnd::Done;
    } catch (const EStopRequested&) {
      return PortEnd::Stopped;
    } catch (const std::exception& failure) {  // the line itself, most likely
      note = "tl8ctl: " + Name(index) + " failed: " + failure.what();
      return PortEnd::LineFailed;
    }
  }

  void Finish(size_t index, PortEnd end, const QString& note) {
    const std::lock_guard lock(mutex_);
    states_[index] = {true, end, note, {}};
    Changed();
  }

  void Show(size_t index, const QString& step) {
    const std::lock_guard lock(mutex_);
    states_[index].step = step;
    Changed();
  }

  void Trace(const QString& line) {
    const std::lock_guard lock(mutex_);
    traces_ << line;
    Changed();
  }

  // With the mutex held.
  void Changed() {
    changed_ = true;
    wake_.notify_one();
  }

  // Tells each port once it and all before it are done; meanwhile the trace
  // and the progress of the first port still running.
  void TellInOrder(const std::function<void(size_t)>& tell) {
    for (size_t told = 0; told < ports_.size();) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return changed_; });
      changed_ = false;
      const QStringList traces = std::exchange(traces_, {});
      size_t ready = told;
      while (ready < ports_.size() && states_[ready].done) ++ready;
      const QString progress = ready < ports_.size() ? ProgressText(ready) : QString();
      lock.unlock();
      // Done ports are no thread's any more: their states are read without the mutex.
      for (const QString& line : traces) run_.report.Trace(line);
      for (; told < ready; ++told) {
        tell(told);
        if (!states_[told].note.isEmpty()) run_.report.Error(states_[told].note);
      }
      if (!progress.isEmpty()) run_.report.Progress(progress);
    }
    run_.report.EndProgress();
  }

  // With the mutex held: the first port still running, and how many are done.
  QString ProgressText(size_t running) const {
    size_t done = 0;
    for (const PortState& state : states_) done += state.done ? 1 : 0;
    const QString& step = states_[running].step;
    return QStringLiteral("%1%2 (%3 of %4 ports done)")
        .arg(Name(running), step.isEmpty() ? QString() : ": " + step)
        .arg(done)
        .arg(ports_.size());
  }

  const std::vector<ComPortInfo>& ports_;
  const EveryPortRun& run_;
  const PortWork& work_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool changed_ = false;
  std::vector<PortState> states_;
  QStringList traces_;
};

}  // namespace

std::vector<PortEnd> RunOnEveryPort(const std::vector<ComPortInfo>& ports, const EveryPortRun& run,
                                    const PortWork& work, const std::function<void(size_t)>& tell) {
  EveryPort every(ports, run, work);
  return every.Run(tell);
}
