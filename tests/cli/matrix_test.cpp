// The fault matrix through tl8ctl: the rows of the windows' fault matrix as a
// user of the command line meets them, each fault against each command, the
// whole run in the test's process on the simulated line in virtual time. A
// cell is stderr's last line and the exit code; after a write, what a read of
// the adapter's memory then says. The line goes once, while the tool waits
// for an answer (the windows' matrix also has it go in the middle of a
// write).

#include "tests/cli/ctl_on_sim.h"
#include "tests/support/adapter_requests.h"
#include "tests/support/test_data.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <sstream>

namespace tl8test {
namespace {

struct CtlCommand {
  const char* name;
  std::vector<std::string> args;  // "{file}" and "{bounds}" stand for the files below
  std::string filter;             // the parameter in the middle, as for the windows
  int lossAt;                     // the request at which the line goes
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

// The files the writes take.
struct WriteFiles {
  std::string coefficients;
  std::string bounds;
};

// The last line of stderr (the port's name, COM1 by default, as "PORT"), or
// "ok"; the exit code.
std::string Verdict(const Ran& ran) {
  const std::string port = "COM1";
  std::vector<std::string> lines = Lines(ran.err);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string last = lines.empty() ? std::string("ok") : lines.back();
  if (const size_t at = last.find(port); at != std::string::npos)
    last.replace(at, port.size(), "PORT");
  return last + " (" + std::to_string(ran.code) + ")";
}

std::string RunCell(const CtlFault& fault, const CtlCommand& command, const WriteFiles& files) {
  SimLinkSetup setup;
  if (fault.rule) setup.faults = {fault.rule + command.filter};
  CtlOnSim ctl(setup);
  if (fault.busyPort) ctl.HoldPortElsewhere();
  if (fault.lineGone) ctl.sim.link().VanishAt(command.lossAt, SimLink::LineLoss::InRead);
  std::vector<std::string> args;
  for (const std::string& arg : command.args)
    args.push_back(arg == "{file}" ? files.coefficients : arg == "{bounds}" ? files.bounds : arg);
  const Ran ran = ctl.Run(args);
  if (ctl.sim.link().Connected()) ctl.sim.Settle(500);  // what is still on the line arrives
  if (fault.rule && ran.code == 1 && command.filter.find("reg=265") != std::string::npos) {
    // Parameter 5 failed twice: nothing went out after its retry.
    std::vector<int> registers;
    for (const Request& request : RequestsOf(ctl.sim.Received())) registers.push_back(request.reg);
    EXPECT_GE(registers.size(), 2u);
    if (registers.size() >= 2) {
      EXPECT_EQ(std::vector<int>(registers.end() - 2, registers.end()),
                std::vector<int>({265, 265}))
          << fault.name << " x " << command.name;
    }
  }
  if (fault.busyPort) {
    EXPECT_TRUE(ctl.sim.Received().empty()) << "frames on a port that never opened";
  }
  std::string cell = Verdict(ran);
  if (command.writes && !fault.busyPort) {
    // The adapter's memory on a sound line, as after the converter is
    // plugged in again.
    SimLinkSetup sound;
    sound.adapters = {ctl.sim.link().memory(1)};
    ctl.sim.Restart(sound);
    cell += "; next read: " + Verdict(ctl.Run({"read"}));
  }
  return cell;
}

TEST(Tl8ctlFaultMatrix, EveryFaultAgainstEveryCommand) {
  // The files the writes take: the adapter's own values, one of them changed,
  // so that a write cut short leaves a mixed image.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string saved = dir.filePath("adapter.dat").toStdString();
  ASSERT_EQ(CtlOnSim().Run({"save", saved}).code, 0);
  std::vector<std::string> lines = Lines(FileBytes(saved));
  lines[5] = "17.0000\r";  // the third coefficient
  std::string coefficients;
  for (const std::string& line : lines)
    if (!line.empty()) coefficients += line + "\n";
  const WriteFiles files = {dir.filePath("changed.dat").toStdString(),
                            dir.filePath("tmp.dat").toStdString()};
  WriteFile(QString::fromStdString(files.coefficients), QByteArray::fromStdString(coefficients));
  WriteFile(QString::fromStdString(files.bounds),
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
  const std::string lostWait =
      "WaitForEvent method failed (win error code: " + std::to_string(EIO) + ") (1)";
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
      {"line gone",
       nullptr,
       true,
       false,
       {lostWait, lost, lostWrite, lostWrite, lostWait, lostWait}},
      {"port busy at start", nullptr, false, true, {busy, busy, busy, busy, busy, busy}},
  };
  std::ostringstream table;
  table << "| fault |";
  for (const CtlCommand& command : CtlCommands()) table << " tl8ctl " << command.name << " |";
  table << "\n|---|";
  for (size_t i = 0; i < CtlCommands().size(); ++i) table << "---|";
  table << '\n';
  for (const CtlFault& fault : faults) {
    table << "| " << fault.name << " |";
    for (size_t c = 0; c < CtlCommands().size(); ++c) {
      const std::string cell = RunCell(fault, CtlCommands()[c], files);
      EXPECT_EQ(cell, fault.expected[c]) << fault.name << " x " << CtlCommands()[c].name;
      table << ' ' << cell << " |";
    }
    table << '\n';
  }
  std::cout << table.str();
}

}  // namespace
}  // namespace tl8test
