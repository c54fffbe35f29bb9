// tl8ctl against a Modbus slave that shares nothing with the tool or its
// simulator: pymodbus holding the adapter's register map
// (independent_slave.py). The same read must come out of it.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <csignal>
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

// The slave, started with a pipe from its stdout; stopped at the end.
class Slave {
 public:
  Slave() {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      const std::string script = SourceDir() + "/independent_slave.py";
      execl("/usr/bin/python3", "python3", script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    stream_ = fdopen(out[0], "r");
    std::array<char, 256> line{};
    if (stream_ && std::fgets(line.data(), line.size(), stream_)) port_ = line.data();
    if (!port_.empty() && port_.back() == '\n') port_.pop_back();
  }
  ~Slave() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (stream_) std::fclose(stream_);
  }
  const std::string& Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  FILE* stream_ = nullptr;
  std::string port_;
};

bool PymodbusInstalled() {
  return std::system("/usr/bin/python3 -c 'import pymodbus.server, serial_asyncio' 2>/dev/null") ==
         0;
}

TEST(Tl8ctlIndependentSlave, ReadsTheRegisterMapThatPymodbusHolds) {
  if (!PymodbusInstalled())
    GTEST_SKIP()
        << "python3-pymodbus and python3-serial-asyncio are not installed: no independent check";
  const Slave slave;
  ASSERT_FALSE(slave.Port().empty()) << "the slave did not start";

  const std::string command =
      BinDir() + "/tl8ctl --port " + slave.Port() + " --address 17 --json read 2>&1";
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
