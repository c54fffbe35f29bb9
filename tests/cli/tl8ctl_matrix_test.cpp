// The fault matrix through tl8ctl: the rows of the windows' fault matrix as a
// user of the command line meets them, each fault against each command on
// the simulator program. A cell is stderr's last line and the exit code;
// after a write, what a read of the adapter's memory then says. Mid-write
// and mid-read cannot be told apart on a pseudo-terminal (the tool writes
// its next request right after reading the last answer), so the line goes
// once, while the tool waits for an answer; the windows' matrix places both.

#include "serial/comport.h"
#include "tests/cli/ctl_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <iostream>
#include <sstream>
#include <thread>

namespace tl8test {
namespace {

using namespace std::chrono_literals;
struct CtlCommand {
  const char* name;
  std::vector<std::string> args;  // "{file}" and "{bounds}" stand for the files below
  std::string filter;             // the parameter in the middle, as for the windows
  int lossAt;                     // the request after which the simulator goes away
  bool writes;
};

const std::vector<CtlCommand>& CtlCommands() {
  static const std::vector<CtlCommand> commands = {
      // Addresses 2 and 3 stand for the rest of the search: nobody answers there.
      {"scan", {"scan", "--to", "3"}, "", 1, false},
      {"read", {"read"}, ",fn=3,reg=265", 6, false},
      {"write", {"write", "{file}", "--code-word", "Pelmar"}, ",fn=16,reg=265", 6, true},
      // The read on request (17 frames), the address register, parameters 1..5.
      {"write-bounds",
       {"write-bounds", "{bounds}", "--code-word", "Rumel"},
       ",fn=16,reg=265",
       23,
       true},
      {"set-address", {"set-address", "1"}, "", 1, false},
      // The command itself, after the read at the address that comes first.
      {"passthrough", {"passthrough"}, ",reg=373", 1, false},
  };
  return commands;
}

struct CtlFault {
  const char* name;
  const char* rule;  // null: a line fault
  bool lineGone;
  bool busyPort;
  std::vector<std::string> expected;  // a cell per command, in the order of CtlCommands
};

// The register of a request, for reads and writes.
int RegisterOf(const SimJournalEntry& frame) {
  return frame.bytes.size() >= 4 ? frame.bytes[2] << 8 | frame.bytes[3] : -1;
}

// The last line of stderr (the port's name as "PORT"), or "ok"; the exit code.
std::string Verdict(const Ran& ran, const std::string& port) {
  std::vector<std::string> lines = Lines(ran.err);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string last = lines.empty() ? std::string("ok") : lines.back();
  if (const size_t at = last.find(port); at != std::string::npos)
    last.replace(at, port.size(), "PORT");
  return last + " (" + std::to_string(ran.code) + ")";
}

std::string RunCtlCell(const CtlFault& fault, const CtlCommand& command, const std::string& file,
                       const std::string& bounds) {
  std::vector<std::string> simArgs = {"--link", "{dir}/line"};
  if (fault.rule) simArgs.insert(simArgs.end(), {"--fault", fault.rule + command.filter});
  SimProcess sim(simArgs);
  std::vector<std::string> args = {"--port", sim.path("line")};
  for (const std::string& arg : command.args)
    args.push_back(arg == "{file}" ? file : arg == "{bounds}" ? bounds : arg);
  TComPort holder;  // another program that has the port
  if (fault.busyPort) {
    holder.SetPort(sim.path("line"));
    holder.OpenPort();
  }
  Ctl ctl(sim.dir(), args);
  if (fault.lineGone) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (Requests(sim) < command.lossAt && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    sim.stop();
  }
  const int code = ctl.Wait();
  if (fault.rule && code == 1 && command.filter.find("reg=265") != std::string::npos) {
    // Parameter 5 failed twice: nothing went out after its retry.
    std::vector<int> registers;
    for (const SimJournalEntry& e : sim.journal())
      if (e.direction == "RX") registers.push_back(RegisterOf(e));
    EXPECT_GE(registers.size(), 2u);
    if (registers.size() >= 2) {
      EXPECT_EQ(std::vector<int>(registers.end() - 2, registers.end()),
                std::vector<int>({265, 265}))
          << fault.name << " x " << command.name;
    }
  }
  std::string cell = Verdict({code, ctl.Out(), ctl.Err()}, sim.path("line"));
  if (command.writes && !fault.busyPort) {
    sim.stop();  // its memory is in its state file
    SimProcess next({"--link", "{dir}/line", "--state", sim.statePath()});
    cell += "; next read: " + Verdict(RunCtl(next, {"read"}), next.path("line"));
  }
  return cell;
}

TEST(Tl8ctl, FaultMatrix) {
  // The files the writes take: the adapter's own values, one of them changed,
  // so that a write cut short leaves a mixed image.
  std::string coefficients, bounds;
  SimProcess source({"--link", "{dir}/line"});
  const std::string saved = source.path("adapter.dat");
  ASSERT_EQ(RunCtl(source, {"save", saved}).code, 0);
  std::vector<std::string> lines = Lines(FileBytes(saved));
  lines[5] = "17.0000\r";  // the third coefficient
  for (const std::string& line : lines)
    if (!line.empty()) coefficients += line + "\n";
  const std::string file = source.path("changed.dat");
  WriteFile(QString::fromStdString(file), QByteArray::fromStdString(coefficients));
  const std::string boundsFile = source.path("tmp.dat");
  WriteFile(QString::fromStdString(boundsFile),
            "1111.00\r\n630.00\r\n85.00\r\n-40.00\r\n200.00\r\n1.50\r\n4.00\r\n4.00\r\n");

  // As in the windows: a parameter spoilt twice ends a read with "Сбой!" and a
  // write with "Нет ответа", and the next read then finds the checksum
  // broken; the late answers of a write land in the next collections and
  // count as acknowledgements of requests that did take effect.
  const std::string nobody = "Нет ответа от адаптера (1)";
  const std::string noAdapter = "Нет ответа от ТЛ-8 с адресом  001 (1)";
  const std::string failed = "Сбой! (1)";
  const std::string stopped = "Нет ответа (1); next read: Ошибка ЦИК массива (1)";
  const std::string wrote = "ok (0); next read: ok (0)";
  const auto answerFault = [&](const char* name, const char* rule, const std::string& write,
                               const std::string& found) {
    return CtlFault{name,
                    rule,
                    false,
                    false,
                    {found == "ok" ? "ok (0)" : nobody, failed, write, write,
                     found == "ok" ? "ok (0)" : noAdapter, noAdapter}};
  };
  const auto port = [](const char* what, int code) {
    return std::string(what) + " function failed (win error code: " + std::to_string(code) +
           ") (1)";
  };
  const std::string lost = port("ClearCommError", EIO);
  const std::string closed = port("ClearCommError", EBADF);  // after a wait swallowed the EIO
  const std::string lostWrite = lost + "; next read: Ошибка ЦИК массива (1)";
  const std::string busy =
      "Неудача при открытии порта: Вероятно, выполняется другая программа, открывшая порт PORT. "
      "Закройте программу, захватившую порт, или укажите другой порт. (Unable to open com port "
      "(win error code: " +
      std::to_string(EBUSY) + ")) (1)";
  const std::vector<CtlFault> faults = {
      answerFault("silent", "silent", stopped, ""),
      answerFault("late", "late:200", wrote, ""),
      answerFault("noise", "noise", stopped, ""),
      answerFault("bad CRC", "badcrc", stopped, ""),
      answerFault("truncated", "truncate", stopped, ""),
      // A CRC-correct answer from the address is enough for the search.
      answerFault("short", "short", stopped, "ok"),
      answerFault("exception", "exception:4", stopped, "ok"),
      answerFault("oversize", "oversize", stopped, ""),
      // Two copies of the pass-through command are what an echoing line and
      // one adapter give: counted done, and the adapter did switch.
      [&] {
        CtlFault twin = answerFault("second adapter answering", "twin", stopped, "");
        twin.expected.back() = "ok (0)";
        return twin;
      }(),
      {"line gone", nullptr, true, false, {closed, lost, lostWrite, lostWrite, closed, closed}},
      {"port busy at start", nullptr, false, true, {busy, busy, busy, busy, busy, busy}},
  };
  std::ostringstream table;
  table << "| fault |";
  for (const CtlCommand& command : CtlCommands()) table << " tl8ctl " << command.name << " |";
  table << "\n|---|";
  for (size_t i = 0; i < CtlCommands().size(); ++i) table << "---|";
  table << '\n';
  for (const CtlFault& fault : faults) {
    // The commands of a row run side by side, each on its own simulator.
    std::vector<std::future<std::string>> cells;
    for (const CtlCommand& command : CtlCommands())
      cells.push_back(std::async(std::launch::async, RunCtlCell, fault, command, file, boundsFile));
    table << "| " << fault.name << " |";
    for (size_t c = 0; c < cells.size(); ++c) {
      const std::string cell = cells[c].get();
      EXPECT_EQ(cell, fault.expected[c]) << fault.name << " x " << CtlCommands()[c].name;
      table << ' ' << cell << " |";
    }
    table << '\n';
  }
  std::cout << table.str();
}

}  // namespace
}  // namespace tl8test
