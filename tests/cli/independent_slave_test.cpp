// tl8ctl against a Modbus slave that shares nothing with the tool or its
// simulator: pymodbus holding the adapter's register map
// (independent_slave.py). The same read must come out of it.

#include "tests/support/script_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string SourceDir() {
  const char* dir = std::getenv("TL8_CLI_TEST_DIR");
  return dir ? dir : "tests/cli";
}

std::string BinDir() {
  const char* dir = std::getenv("TL8_BIN_DIR");
  return dir && *dir ? dir : ".";
}

TEST(Tl8ctlIndependentSlave, ReadsTheRegisterMapThatPymodbusHolds) {
  const tl8test::ScriptProcess slave({"/usr/bin/python3", SourceDir() + "/independent_slave.py"});
  if (slave.FirstLine().rfind("missing: ", 0) == 0)
    GTEST_SKIP() << "python3-pymodbus and python3-serial-asyncio are not installed ("
                 << slave.FirstLine() << "): no independent check";
  ASSERT_FALSE(slave.FirstLine().empty()) << "the slave did not start";

  const std::string command =
      BinDir() + "/tl8ctl --port " + slave.FirstLine() + " --address 17 --json read --fast 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  std::array<char, 512> chunk{};
  while (std::fgets(chunk.data(), chunk.size(), pipe)) out += chunk.data();
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;

  const QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
  EXPECT_EQ(result.value("address").toInt(), 17) << out;
  EXPECT_EQ(result.value("serial").toInt(), 4321) << out;
  EXPECT_EQ(result.value("date").toString(), "08/12/2024(14:05:06)") << out;
  EXPECT_EQ(result.value("values").toArray(),
            QJsonArray({1000, 600, 16.5, 4.25, 90, -50, 16, 4, 250, 2.5, 15.75, 3.5}))
      << out;
}

}  // namespace
