// An independent master against the simulator: Debian's mbpoll, a Modbus
// client built on another library, must read and write it like a device.
// mbpoll's references are the wire register plus 1; "-t 4:float" takes the
// low word first, as the adapter stores its floats.

#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>

namespace tl8test {
namespace {

std::string findProgram(const std::string& name) {
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  for (std::string dir; std::getline(path, dir, ':');)
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  return "";
}

struct Polled {
  int status = -1;
  std::map<int, std::string> values;  // mbpoll reference -> value text
  std::string output;
};

// One mbpoll run against the given slave: a read, or a write of the values.
// It waits the longest time-out mbpoll takes, 10 s, for each answer. `port`
// is the pseudo-terminal, or a Modbus TCP server's "-m tcp -p PORT HOST".
Polled mbpoll(const std::string& program, const std::string& port, int slave,
              const std::string& args, const std::string& values = "") {
  const std::string mode = port.starts_with("-m ") ? "" : "-m rtu -b 9600 -P none ";
  const std::string command = program + " " + mode + "-o 10 -1 -a " + std::to_string(slave) + " " +
                              args + " " + port + (values.empty() ? "" : " -- " + values) + " 2>&1";
  Polled polled;
  FILE* pipe = popen(command.c_str(), "r");
  char line[256];
  while (pipe && std::fgets(line, sizeof line, pipe)) polled.output += line;
  polled.status = pipe ? pclose(pipe) : -1;
  const std::regex reference(R"(\[(\d+)\]:\s+(\S+))");
  for (std::sregex_iterator it(polled.output.begin(), polled.output.end(), reference), end;
       it != end; ++it)
    polled.values[std::stoi((*it)[1])] = (*it)[2];
  return polled;
}

TEST(SimMbpoll, ReadsFactoryValuesAndItsWritesReachTheStateFile) {
  const std::string program = findProgram("mbpoll");
  if (program.empty())
    GTEST_SKIP() << "mbpoll is not installed (Debian package mbpoll): no independent check";
  SimProcess sim;

  const Polled floats = mbpoll(program, sim.port(), 1, "-t 4:float -r 258 -c 12");
  ASSERT_EQ(floats.status, 0) << floats.output;
  const std::map<int, std::string> factory = {{258, "1010"}, {260, "630"}, {262, "16"}, {264, "4"},
                                              {266, "185"},  {268, "60"},  {270, "16"}, {272, "4"},
                                              {274, "200"},  {276, "1.5"}, {278, "16"}, {280, "4"}};
  EXPECT_EQ(floats.values, factory) << floats.output;

  const Polled serial = mbpoll(program, sim.port(), 1, "-t 4:hex -r 282 -c 2");
  EXPECT_EQ(serial.values, (std::map<int, std::string>{{282, "0x898A"}, {283, "0x0100"}}))
      << serial.output;  // 101001, least significant byte first

  const Polled written = mbpoll(program, sim.port(), 1, "-t 4:float -r 260", "123.5");
  ASSERT_EQ(written.status, 0) << written.output;
  const auto p2 = sim.state().param(2);
  EXPECT_EQ((std::vector<int>(p2.begin(), p2.end())), (std::vector<int>{0x00, 0x00, 0x42, 0xF7}));

  // A single-register write of the address register: echoed, then the adapter moves.
  const Polled moved = mbpoll(program, sim.port(), 1, "-t 4 -r 376", "9");
  ASSERT_EQ(moved.status, 0) << moved.output;
  EXPECT_EQ(sim.state().address, 9);
  const Polled again = mbpoll(program, sim.port(), 9, "-t 4:float -r 260");
  EXPECT_EQ(again.values, (std::map<int, std::string>{{260, "123.5"}})) << again.output;
}

// tl8sim --modbus-tcp is a gateway mbpoll's Modbus TCP reads and writes
// through; a unit nobody answers gets the gateway's exception 0B.
TEST(SimMbpoll, ReadsAndWritesThroughTheSimulatorsGateway) {
  const std::string program = findProgram("mbpoll");
  if (program.empty())
    GTEST_SKIP() << "mbpoll is not installed (Debian package mbpoll): no independent check";
  SimProcess sim({"--modbus-tcp", "0"});
  ASSERT_TRUE(sim.port().starts_with("modbus-tcp://127.0.0.1:")) << sim.port();
  const std::string server =
      "-m tcp -p " + sim.port().substr(sim.port().rfind(':') + 1) + " 127.0.0.1";

  const Polled floats = mbpoll(program, server, 1, "-t 4:float -r 258 -c 2");
  ASSERT_EQ(floats.status, 0) << floats.output;
  EXPECT_EQ(floats.values, (std::map<int, std::string>{{258, "1010"}, {260, "630"}}))
      << floats.output;

  const Polled written = mbpoll(program, server, 1, "-t 4:float -r 260", "123.5");
  ASSERT_EQ(written.status, 0) << written.output;
  const auto p2 = sim.state().param(2);
  EXPECT_EQ((std::vector<int>(p2.begin(), p2.end())), (std::vector<int>{0x00, 0x00, 0x42, 0xF7}));

  const Polled silent = mbpoll(program, server, 2, "-t 4:float -r 258");
  EXPECT_NE(silent.status, 0);
  EXPECT_NE(silent.output.find("Target device failed to respond"), std::string::npos)
      << silent.output;
}

}  // namespace
}  // namespace tl8test
