// Saving the port settings into the per-user settings store, a typed text
// file under $XDG_CONFIG_HOME (each test gets its own).

#include "os/platform_unix.h"
#include "serial/comport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kKeyPath = "\\Software\\Kavrion\\ZELK\\Comport Settings";

// value name -> value as written ("\"text\"" or "dword:xxxxxxxx")
using Values = std::map<std::string, std::string>;

Values ValuesIn(const fs::path& file, const std::string& section) {
  std::ifstream in(file);
  EXPECT_TRUE(in) << file;
  Values values;
  std::string current;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with('[')) {
      current = line.substr(1, line.size() - 2);
    } else if (current == section && line.starts_with('"')) {
      const auto nameEnd = line.find("\"=");
      EXPECT_TRUE(values.emplace(line.substr(1, nameEnd - 1), line.substr(nameEnd + 2)).second)
          << line;
    }
  }
  return values;
}

class SaveSettings : public ::testing::Test {
 protected:
  // A directory of its own under the test's private config home (or, run by
  // hand, under the temporary directory), never the user's.
  void SetUp() override {
    const char* home = std::getenv("XDG_CONFIG_HOME");
    if (home) savedHome = home;
    const fs::path base =
        home && *home ? fs::path(home) : fs::temp_directory_path() / "tl8-settings-test";
    configDir = base / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(configDir);
    fs::create_directories(configDir);
    setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);
    file = configDir / "Kavrion" / "ZELK.conf";
  }
  void TearDown() override {
    if (savedHome) {
      setenv("XDG_CONFIG_HOME", savedHome->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }

  std::optional<std::string> savedHome;
  fs::path configDir;
  fs::path file;
};

// The tool's port after its settings dialog: DTR and RTS enabled, all groups.
TEST_F(SaveSettings, AllGroupsWriteTheTwentyEightValuesWithTheirTypes) {
  TComPort port;
  port.FlowControl().SetControlDTR(dtrEnable);
  port.FlowControl().SetControlRTS(rtsEnable);
  port.SetStoredGroups({sgLine, sgFlow, sgBuffer, sgTimeouts, sgParity, sgOther});
  port.SaveSettings(kKeyPath);

  Values expected{
      {"Port", "\"COM1\""},
      {"BaudRate", "\"9600\""},
      {"StopBits", "\"1\""},
      {"DataBits", "\"8\""},
      {"Parity", "\"None\""},
      {"FlowControl", "\"Custom\""},
      {"EventChar", "\"#0\""},
      {"DiscardNull", "\"No\""},
      {"Parity.Check", "\"No\""},
      {"Parity.Replace", "\"No\""},
      {"Parity.ReplaceChar", "\"#0\""},
      {"Buffer.OutputSize", "dword:00000400"},
      {"Buffer.InputSize", "dword:00000400"},
      {"Timeouts.ReadInterval", "dword:00000014"},
      {"Timeouts.ReadTotalConstant", "dword:00000032"},
      {"Timeouts.ReadTotalMultiplier", "dword:00000014"},
      {"Timeouts.WriteTotalConstant", "dword:000003e8"},
      {"Timeouts.WriteTotalMultiplier", "dword:00000064"},
      {"FlowControl.ControlRTS", "\"Enable\""},
      {"FlowControl.ControlDTR", "\"Enable\""},
      {"FlowControl.DSRSensitivity", "\"No\""},
      {"FlowControl.OutCTSFlow", "\"No\""},
      {"FlowControl.OutDSRFlow", "\"No\""},
      {"FlowControl.TxContinueOnXoff", "\"No\""},
      {"FlowControl.XonXoffIn", "\"No\""},
      {"FlowControl.XonXoffOut", "\"No\""},
      {"FlowControl.XoffChar", "\"#19\""},
      {"FlowControl.XonChar", "\"#17\""},
  };
  ASSERT_EQ(expected.size(), 28u);
  EXPECT_EQ(ValuesIn(file, "Comport Settings\\ComPort"), expected);

  // brCustom adds the rate as an integer; the file is read back and rewritten.
  port.SetCustomBaudRate(-2);
  port.SetBaudRate(brCustom);
  port.SaveSettings("hkey_current_user\\Software\\Kavrion\\ZELK\\Comport Settings\\");
  expected["BaudRate"] = "\"Custom\"";
  expected["CustomBaudRate"] = "dword:fffffffe";
  EXPECT_EQ(ValuesIn(file, "Comport Settings\\ComPort"), expected);
}

TEST_F(SaveSettings, OnlyTheStoredGroupsUnderTheComponentsName) {
  TComPort first;
  first.SaveSettings(kKeyPath);  // the line group only
  TComPort second("Second");
  second.SetPort("/dev/ser\"ial\\1");  // quotes and backslashes survive rewrites
  second.SetStoredGroups({sgBuffer});
  second.SaveSettings(kKeyPath);
  second.SetStoredGroups({sgLine});
  second.SaveSettings(kKeyPath);

  EXPECT_EQ(ValuesIn(file, "Comport Settings\\ComPort"), (Values{{"Port", "\"COM1\""},
                                                                 {"BaudRate", "\"9600\""},
                                                                 {"StopBits", "\"1\""},
                                                                 {"DataBits", "\"8\""},
                                                                 {"Parity", "\"None\""},
                                                                 {"FlowControl", "\"None\""}}));
  const Values secondValues = ValuesIn(file, "Comport Settings\\Second");
  EXPECT_EQ(secondValues.size(), 8u);
  EXPECT_EQ(secondValues.at("Port"), "\"/dev/ser\\\"ial\\\\1\"");
  EXPECT_EQ(secondValues.at("Buffer.InputSize"), "dword:00000400");
}

// The failure keeps its historical text and says why after it.
TEST_F(SaveSettings, FailuresSayFailedToStoreSettingsAndWhy) {
  TComPort port;
  auto failure = [&](const std::string& keyPath) -> std::pair<std::string, int> {
    try {
      port.SaveSettings(keyPath);
    } catch (const EComPort& error) {
      EXPECT_EQ(error.Code(), ceStoreFailed);
      return {error.what(), error.WinCode()};
    }
    return {"no failure", 0};
  };
  const auto failed = [](const std::string& why) {
    return std::pair<std::string, int>{"Failed to store settings" + why, -1};
  };

  EXPECT_EQ(failure("Software"), failed(""));  // no "\": no key to write under
  EXPECT_FALSE(fs::exists(configDir / "Software.conf"));

  fs::create_directories(file);  // the settings file cannot be written (root included)
  EXPECT_EQ(failure(kKeyPath), failed(": Not a regular file"));

  const fs::path plainFile = configDir / "not-a-directory";
  std::ofstream(plainFile) << "x";
  setenv("XDG_CONFIG_HOME", plainFile.c_str(), 1);
  EXPECT_EQ(failure(kKeyPath), failed(": Not a directory"));
}

// A settings file that cannot be read is replaced by the values saved now,
// and that is a success: the settings are stored.
TEST_F(SaveSettings, AFileThatCannotBeReadIsRewrittenWithoutAFailure) {
  const std::string unreadable[] = {
      "garbage line\n",
      "[Comport Settings\\ComPort]\n\"Port\"=dword:zz\n",
      "[Comport Settings\\ComPort]\n\"Port\"=\"unterminated\n",
  };
  for (const std::string& content : unreadable) {
    SCOPED_TRACE(content);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    TComPort port;
    port.SetPort("COM5");
    EXPECT_NO_THROW(port.SaveSettings(kKeyPath));
    const Values values = ValuesIn(file, "Comport Settings\\ComPort");
    EXPECT_EQ(values.size(), 6u);
    EXPECT_EQ(values.count("Port") ? values.at("Port") : "", "\"COM5\"");
  }
}

// The tool may run as root with a config directory another user can write:
// a link under the settings file's name, to a file or to nowhere, is refused
// as a failure, and neither the link nor what it points to changes.
TEST_F(SaveSettings, ALinkAsTheSettingsFileIsNeverWrittenThrough) {
  const fs::path elsewhere = configDir / "elsewhere.conf";
  std::ofstream(elsewhere) << "someone's data\n";
  fs::create_directories(file.parent_path());
  for (const fs::path& to : {elsewhere, configDir / "nowhere.conf"}) {
    SCOPED_TRACE(to.string());
    fs::remove(file);
    fs::create_symlink(to, file);
    TComPort port;
    EXPECT_THROW(port.SaveSettings(kKeyPath), EComPort);
    EXPECT_EQ(fs::read_symlink(file), to);
  }
  std::ifstream in(elsewhere);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "someone's data\n");
  EXPECT_FALSE(fs::exists(configDir / "nowhere.conf"));
}

// Run as root with a home folder other users can write, where another user
// put a link as ".config" to a folder of root's (like /etc): the settings
// folder is not made there, and the box says why nothing was stored.
TEST_F(SaveSettings, NoFolderIsMadeThroughAnotherUsersLink) {
  if (geteuid() != 0) GTEST_SKIP() << "handing a link to another user takes root";
  constexpr uid_t kOtherUser = 65534;
  const fs::path etc = configDir / "etc";
  fs::create_directories(etc);
  const struct {
    const char* name;
    uid_t homeOwner;
    const char* why;
  } cases[] = {
      {"a home like /tmp", 0, "A symbolic link of another user in a folder others can write"},
      {"a home of that other user's", kOtherUser,
       "A symbolic link of another user leads to a file or folder of root or of yours"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path home = configDir / ("home-" + std::to_string(c.homeOwner));
    fs::create_directories(home);
    ASSERT_EQ(chmod(home.c_str(), 01777), 0);
    ASSERT_EQ(chown(home.c_str(), c.homeOwner, c.homeOwner), 0);
    fs::create_symlink(etc, home / ".config");
    ASSERT_EQ(lchown((home / ".config").c_str(), kOtherUser, kOtherUser), 0);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    TComPort port;
    try {
      port.SaveSettings(kKeyPath);
      ADD_FAILURE() << "stored through the link";
    } catch (const EComPort& error) {
      EXPECT_EQ(error.what(), "Failed to store settings: " + std::string(c.why));
    }
    EXPECT_TRUE(fs::is_empty(etc));
  }
}

// Runs `body` in a child process whose config directory is a tiny file
// system that the test fills up; returns the child's exit code, or -1 when
// no such file system can be made here (it takes the right to mount).
int WithFullDisk(const fs::path& dir, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=8k") != 0)
      _exit(100);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 100) return -1;
  return WEXITSTATUS(status);
}

// A full disk: the write is refused, the old file stays as it was, and the
// failure is reported, never a success.
TEST_F(SaveSettings, AFullDiskKeepsTheOldFileAndFails) {
  const int result = WithFullDisk(configDir, [&] {
    fs::create_directories(file.parent_path());
    TComPort old;
    old.SetPort("COM7");
    old.SaveSettings(kKeyPath);
    const std::string before = [&] {
      std::ifstream in(file);
      return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    std::ofstream(configDir / "filler") << std::string(16 * 1024, 'x');  // takes what is left
    struct statvfs space {};
    if (statvfs(configDir.c_str(), &space) != 0 || space.f_bavail != 0) return 4;
    TComPort port;
    port.SetStoredGroups({sgLine, sgFlow, sgBuffer, sgTimeouts, sgParity, sgOther});
    int code = 0;
    try {
      port.SaveSettings(kKeyPath);
      code = 1;  // a success over a full disk
    } catch (const EComPort& error) {
      if (std::string(error.what()) != "Failed to store settings: No space left on device")
        code = 2;
    }
    std::ifstream in(file);
    if (std::string(std::istreambuf_iterator<char>(in), {}) != before) code = 3;
    return code;
  });
  if (result < 0) GTEST_SKIP() << "no private tmpfs can be mounted here";
  EXPECT_EQ(result, 0)
      << "1: success reported, 2: another message, 3: old file changed, 4: disk not full";
}

TEST(SettingsLocation, KeySegmentsNameTheFileThenTheGroup) {
  const std::tuple<QString, QString, QString> rows[] = {
      {"Software\\Kavrion\\ZELK\\Comport Settings\\ComPort", "/c/Kavrion/ZELK.conf",
       "Comport Settings/ComPort"},
      {"SOFTWARE\\Kavrion\\ZELK\\ComPort", "/c/Kavrion/ZELK.conf", "ComPort"},
      {"Kavrion\\ZELK\\A\\B\\ComPort", "/c/Kavrion/ZELK.conf", "A/B/ComPort"},
      {"Vendor\\ComPort", "/c/Vendor/ComPort.conf", ""},
      {"\\ComPort", "/c/ComPort.conf", ""},
      {"Software\\\\X\\\\Y\\\\Z", "/c/X/Y.conf", "Z"},
  };
  for (const auto& [key, file, group] : rows) {
    const comdev::SettingsLocation location = comdev::SettingsLocationOf("/c", key);
    EXPECT_EQ(location.file, file) << key.toStdString();
    EXPECT_EQ(location.group, group) << key.toStdString();
  }
}

}  // namespace
