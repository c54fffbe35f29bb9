// The port component on pseudo-terminal pairs: the test plays the far end of
// the line through the master side.

#include "serial/comport.h"
#include "serial/platform_unix.h"
#include "tests/support/pty_pair.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Long enough that a wait ending near it counts as a hang.
constexpr auto kHang = 3s;

template <class F>
Clock::duration TimeOf(F&& f) {
  const auto start = Clock::now();
  f();
  return Clock::now() - start;
}

// The message of the EComPort `f` raises, or "no failure".
std::string FailureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EComPort& error) {
    return error.what();
  }
  return "no failure";
}

// The line settings the slave side (the port) has, as the master sees them.
termios2 LineOf(const PtyPair& pty) {
  termios2 tio{};
  EXPECT_EQ(ioctl(pty.Master(), TCGETS2, &tio), 0);
  return tio;
}

struct Applied {
  int buffer, line, timeouts;
  bool operator==(const Applied&) const = default;
};
Applied AppliedOf(const TCustomComPort& port) {
  return {port.AppliedCount(asBuffer), port.AppliedCount(asLine), port.AppliedCount(asTimeouts)};
}
void PrintTo(const Applied& a, std::ostream* os) {
  *os << "{buffer " << a.buffer << ", line " << a.line << ", timeouts " << a.timeouts << "}";
}

class OpenPty : public ::testing::Test {
 protected:
  void SetUp() override {
    port.SetPort(pty.SlavePath());
    port.OpenPort();
  }
  PtyPair pty;
  TComPort port;
};

// Every byte value passes unchanged both ways: no echo, no CR/LF mapping, no
// XON/XOFF eaten, no parity marks.
TEST_F(OpenPty, BytesPassUnchangedBothWays) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(port.WriteBytes(all.data(), int(all.size())), 256);
  EXPECT_EQ(pty.Read(2000, all.size()), all);

  pty.Write(all);
  std::string received;
  while (received.size() < all.size()) {
    TComEvents events{evRxChar};
    port.WaitForEvent(events, nullptr, 2000);
    ASSERT_EQ(events, TComEvents{evRxChar});
    received += port.ReadBytes(port.PendingInputCount());
  }
  EXPECT_EQ(received, all);
  EXPECT_EQ(pty.Read(100), "");  // nothing echoed back
}

TEST_F(OpenPty, PendingInputAndPartialReads) {
  pty.Write("0123456789");
  TComEvents events{evRxChar};
  port.WaitForEvent(events, nullptr, 2000);
  ASSERT_EQ(events, TComEvents{evRxChar});
  EXPECT_EQ(port.PendingInputCount(), 10);
  EXPECT_EQ(port.ReadBytes(0), "");
  EXPECT_EQ(port.ReadBytes(-3), "");
  EXPECT_EQ(port.PendingInputCount(), 10);  // ReadBytes(0) took nothing
  EXPECT_EQ(port.ReadBytes(4), "0123");
  EXPECT_EQ(port.PendingInputCount(), 6);
  // Asking for more than is there ends on the read timeouts with what came.
  std::string rest;
  EXPECT_LT(TimeOf([&] { rest = port.ReadBytes(100); }), kHang);
  EXPECT_EQ(rest, "456789");
  EXPECT_EQ(port.PendingInputCount(), 0);
}

// Nobody reads the far end: the write-total limit ends the write with the
// count that went out, and that is no failure.
TEST_F(OpenPty, WriteEndsOnItsTimeoutWithFewerBytes) {
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(200);
  const std::string flood(4 << 20, 'w');
  int written = 0;
  const auto took = TimeOf([&] { written = port.WriteBytes(flood.data(), int(flood.size())); });
  EXPECT_GT(written, 0);
  EXPECT_LT(written, int(flood.size()));
  EXPECT_GE(took, 200ms);
  EXPECT_LT(took, kHang);
}

TEST_F(OpenPty, ReadTimeouts) {
  // Silence: the total limit (20 ms per byte + 50 ms) ends the read empty.
  std::string got;
  const auto silent = TimeOf([&] { got = port.ReadBytes(5); });
  EXPECT_EQ(got, "");
  EXPECT_GE(silent, 150ms);
  EXPECT_LT(silent, kHang);

  // A gap longer than the read interval ends the read, long before the total:
  // the rest comes only once the read has ended.
  port.Timeouts().SetReadTotalConstant(10000);
  pty.Write("ab");
  const auto gapped = TimeOf([&] { got = port.ReadBytes(4); });
  EXPECT_EQ(got, "ab");
  EXPECT_LT(gapped, kHang);
  pty.Write("cd");
  EXPECT_EQ(port.ReadBytes(2), "cd");

  // Without an interval limit the same gap is bridged.
  port.Timeouts().SetReadInterval(0);
  std::thread again([&] {
    pty.Write("ab");
    std::this_thread::sleep_for(200ms);
    pty.Write("cd");
  });
  got = port.ReadBytes(4);
  again.join();
  EXPECT_EQ(got, "abcd");
}

TEST_F(OpenPty, WaitForEventEndsOnTimeoutStopOrData) {
  TComStopEvent stop;
  TComEvents events{evRxChar};
  const auto timedOut = TimeOf([&] { port.WaitForEvent(events, &stop, 100); });
  EXPECT_TRUE(events.empty());
  EXPECT_GE(timedOut, 100ms);
  EXPECT_LT(timedOut, kHang);

  stop.Signal();  // already signalled: back at once, and it stays signalled
  events = {evRxChar};
  EXPECT_LT(TimeOf([&] { port.WaitForEvent(events, &stop, 10000); }), kHang);
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(stop.IsSignalled());
  stop.Reset();
  EXPECT_FALSE(stop.IsSignalled());

  std::thread signaller([&] {
    std::this_thread::sleep_for(50ms);
    stop.Signal();
  });
  events = {evRxChar};
  const auto stopped = TimeOf([&] { port.WaitForEvent(events, &stop, 10000); });
  signaller.join();
  EXPECT_TRUE(events.empty());
  EXPECT_LT(stopped, kHang);
  stop.Reset();

  std::thread sender([&] {
    std::this_thread::sleep_for(50ms);
    pty.Write("x");
  });
  events = {evRxChar, evTxEmpty, evRing};
  const auto woken = TimeOf([&] { port.WaitForEvent(events, &stop, 10000); });
  sender.join();
  EXPECT_EQ(events, TComEvents{evRxChar});
  EXPECT_LT(woken, kHang);

  // Data waiting but not asked for does not end the wait.
  events = {evTxEmpty};
  port.WaitForEvent(events, nullptr, 50);
  EXPECT_TRUE(events.empty());
}

// A busy device: its holder's UUCP lock file names a live process.
std::string Refusal() {
  return "Unable to open com port (win error code: " + std::to_string(EBUSY) + ")";
}

// What a second opener in another process (root included) is told.
std::string OpenInChild(const std::string& device) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    TComPort other;
    other.SetPort(device);
    const std::string result = FailureOf([&] { other.OpenPort(); });
    other.ClosePort();  // _exit runs no destructor
    [[maybe_unused]] ssize_t n = write(fds[1], result.data(), result.size());
    _exit(0);
  }
  close(fds[1]);
  std::string result;
  char chunk[256];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) result.append(chunk, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return result;
}

TEST_F(OpenPty, SecondOpenerIsRefusedUntilClosed) {
  EXPECT_EQ(OpenInChild(pty.SlavePath()), Refusal());
  TComPort sameProcess;
  sameProcess.SetPort(pty.SlavePath());
  EXPECT_EQ(FailureOf([&] { sameProcess.OpenPort(); }), Refusal());
  EXPECT_FALSE(sameProcess.Connected());

  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(OpenInChild(pty.SlavePath()), "no failure");
}

TEST(SerialPort, ClosedPortOperationsFailAsOnAnInvalidDevice) {
  TComPort port;
  port.SetPort("/nonexistent/ttyNONE");
  EXPECT_EQ(FailureOf([&] { port.OpenPort(); }), "Unable to open com port (win error code: 2)");
  EXPECT_FALSE(port.Connected());
  port.ClosePort();  // nothing to do

  TComEvents events{evRxChar};
  const std::pair<std::function<void()>, std::string> rows[] = {
      {[&] { port.WriteBytes("x", 1); }, "WriteFile function failed (win error code: 9)"},
      {[&] { port.ReadBytes(1); }, "ReadFile function failed (win error code: 9)"},
      {[&] { port.PendingInputCount(); }, "ClearCommError function failed (win error code: 9)"},
      {[&] { port.WaitForEvent(events, nullptr, 10); },
       "WaitForEvent method failed (win error code: 9)"},
  };
  for (const auto& [operation, message] : rows) EXPECT_EQ(FailureOf(operation), message);
  EXPECT_EQ(port.ReadBytes(0), "");  // touches no device
}

// The far end goes away (a USB converter pulled out): the port reads as
// closed at once, and every operation fails with its own message instead of
// waiting or reporting nothing forever; the failure closes the device, so
// the next operation meets a closed port.
TEST(SerialPort, VanishedPeerFailsTheOperationAndClosesThePort) {
  const std::pair<std::function<void(TCustomComPort&)>, std::string> rows[] = {
      {[](auto& p) {
         TComEvents e{evRxChar};
         p.WaitForEvent(e, nullptr, 10000);
       },
       "WaitForEvent method failed"},
      {[](auto& p) { p.ReadBytes(10); }, "ReadFile function failed"},
      {[](auto& p) { p.WriteBytes("abc", 3); }, "WriteFile function failed"},
      {[](auto& p) { p.PendingInputCount(); }, "ClearCommError function failed"},
  };
  for (const auto& [operation, text] : rows) {
    SCOPED_TRACE(text);
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    pty.CloseMaster();
    EXPECT_FALSE(port.Connected());
    std::string failure;
    EXPECT_LT(TimeOf([&] { failure = FailureOf([&] { operation(port); }); }), kHang);
    EXPECT_EQ(failure, text + " (win error code: 5)");
    EXPECT_EQ(FailureOf([&] { operation(port); }), text + " (win error code: 9)");
    EXPECT_FALSE(port.Connected());
  }
}

// A setting changed after the line was lost is only stored: it reaches the
// device at the next opening.
TEST(SerialPort, SettingsOfALostLineWaitForTheNextOpening) {
  PtyPair pty;
  TComPort port;
  port.SetPort(pty.SlavePath());
  port.OpenPort();
  pty.CloseMaster();
  port.SetBaudRate(br19200);
  EXPECT_EQ(port.AppliedCount(asLine), 1);
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

// Unplugged and plugged in again: the name (here a link, as /dev/COM1 would
// be) leads to a new device, and opening the port again reaches it, with no
// explicit close in between.
TEST(SerialPort, OpeningAgainAfterALostLineReachesTheNewDevice) {
  const std::string link = ::testing::TempDir() + "tl8-replug-" + std::to_string(getpid());
  auto first = std::make_unique<PtyPair>();
  unlink(link.c_str());
  ASSERT_EQ(symlink(first->SlavePath().c_str(), link.c_str()), 0);
  TComPort port;
  port.SetPort(link);
  port.OpenPort();
  first.reset();  // the converter is pulled out

  PtyPair second;
  unlink(link.c_str());
  ASSERT_EQ(symlink(second.SlavePath().c_str(), link.c_str()), 0);
  EXPECT_FALSE(port.Connected());
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  port.WriteBytes("ok", 2);
  EXPECT_EQ(second.Read(2000, 2), "ok");
  unlink(link.c_str());
}

// A failed wait leaves the caller's events as they were, so a caller that
// goes on with them meets the failure at its next step.
TEST(SerialPort, FailedWaitKeepsTheEventSet) {
  PtyPair pty;
  TComPort port;
  port.SetPort(pty.SlavePath());
  port.OpenPort();
  pty.CloseMaster();
  const TComEvents before{evRxChar, evCTS};
  TComEvents events = before;
  EXPECT_EQ(FailureOf([&] { port.WaitForEvent(events, nullptr, 100); }),
            "WaitForEvent method failed (win error code: 5)");
  EXPECT_EQ(events, before);
  EXPECT_EQ(FailureOf([&] { port.WaitForEvent(events, nullptr, 100); }),
            "WaitForEvent method failed (win error code: 9)");
  EXPECT_EQ(events, before);
}

// The line settings as the device holds them after the port pushed them.
TEST_F(OpenPty, LineSettingsReachTheDevice) {
  const termios2 opened = LineOf(pty);
  EXPECT_EQ(opened.c_cflag & CBAUD, tcflag_t(B9600));
  EXPECT_EQ(opened.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(opened.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
  EXPECT_EQ(opened.c_lflag, 0u);
  EXPECT_EQ(opened.c_oflag, 0u);
  EXPECT_EQ(opened.c_iflag, 0u);
  EXPECT_EQ(opened.c_cc[VMIN], 0);
  EXPECT_EQ(opened.c_cc[VTIME], 0);

  struct Row {
    const char* what;
    std::function<void(TCustomComPort&)> change;
    tcflag_t cflagMask, cflag;
    speed_t speed;
    tcflag_t iflag;
  };
  // A pseudo-terminal forces CS8 and clears PARENB whatever it is given, so
  // data bits and parity-on cannot be seen here; the other frame bits can.
  const tcflag_t frame = PARODD | CMSPAR | CSTOPB;
  const Row rows[] = {
      {"14400 (no POSIX code)", [](auto& p) { p.SetBaudRate(br14400); }, CBAUD, BOTHER, 14400, 0},
      {"256000", [](auto& p) { p.SetBaudRate(br256000); }, CBAUD, BOTHER, 256000, 0},
      {"115200", [](auto& p) { p.SetBaudRate(br115200); }, CBAUD, B115200, 115200, 0},
      {"custom 31250",
       [](auto& p) {
         p.SetCustomBaudRate(31250);
         p.SetBaudRate(brCustom);
       },
       CBAUD, BOTHER, 31250, 0},
      {"7 odd 2",
       [](auto& p) {
         p.SetDataBits(dbSeven);
         p.Parity().SetBits(prOdd);
         p.SetStopBits(sbTwoStopBits);
       },
       frame, PARODD | CSTOPB, 31250, 0},
      {"mark", [](auto& p) { p.Parity().SetBits(prMark); }, frame, PARODD | CMSPAR | CSTOPB, 31250,
       0},
      {"space", [](auto& p) { p.Parity().SetBits(prSpace); }, frame, CMSPAR | CSTOPB, 31250, 0},
      {"even, checked",
       [](auto& p) {
         p.Parity().SetBits(prEven);
         p.Parity().SetCheck(true);
       },
       frame, CSTOPB, 31250, INPCK},
      // 5 data bits with 2 stop bits would be refused on the way: a bracket
      // lets both change before the line goes out.
      {"5 bits 1.5 stop",
       [](auto& p) {
         p.BeginSettingsUpdate();
         p.Parity().SetCheck(false);
         p.SetDataBits(dbFive);
         p.SetStopBits(sbOne5StopBits);
         p.EndSettingsUpdate();
       },
       frame, CSTOPB, 31250, 0},
      {"hardware flow", [](auto& p) { p.FlowControl().SetFlowControl(fcHardware); }, CRTSCTS,
       CRTSCTS, 31250, 0},
      {"software flow", [](auto& p) { p.FlowControl().SetFlowControl(fcSoftware); }, CRTSCTS, 0,
       31250, IXON | IXOFF},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    row.change(port);
    const termios2 tio = LineOf(pty);
    EXPECT_EQ(tio.c_cflag & row.cflagMask, row.cflag);
    EXPECT_EQ(tio.c_ospeed, row.speed);
    EXPECT_EQ(tio.c_iflag, row.iflag);
  }
  port.FlowControl().SetXonChar('A');
  port.FlowControl().SetXoffChar('B');
  EXPECT_EQ(LineOf(pty).c_cc[VSTART], 'A');
  EXPECT_EQ(LineOf(pty).c_cc[VSTOP], 'B');
}

// A pseudo-terminal takes any rate and frame, so these refusals are the
// component's own, made where a real UART driver or the platform refuses.
TEST_F(OpenPty, RefusedLineSettings) {
  EXPECT_EQ(FailureOf([&] { port.SetStopBits(sbOne5StopBits); }),
            "SetCommState function failed (win error code: 22)");
  EXPECT_EQ(port.StopBits(), sbOne5StopBits);  // the value is kept, the device was not changed
  EXPECT_EQ(LineOf(pty).c_cflag & CSTOPB, 0u);
  EXPECT_TRUE(port.Connected());
  port.SetStopBits(sbOneStopBit);

  // A rate of 0 would hang the line up; the opening fails and frees the device.
  port.ClosePort();
  port.SetCustomBaudRate(0);
  port.SetBaudRate(brCustom);
  EXPECT_EQ(FailureOf([&] { port.OpenPort(); }),
            "SetCommState function failed (win error code: 22)");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(OpenInChild(pty.SlavePath()), "no failure");
}

TEST_F(OpenPty, SettingsGoOutOnlyOnChangeAndOnlyTheirGroup) {
  EXPECT_EQ(AppliedOf(port), (Applied{1, 1, 1}));

  // Move the device behind the port's back: an unchanged setting must not touch it.
  termios2 tio = LineOf(pty);
  tio.c_cflag = (tio.c_cflag & ~CBAUD) | B300;
  ASSERT_EQ(ioctl(pty.Master(), TCSETS2, &tio), 0);
  port.SetBaudRate(br9600);
  port.Parity().SetBits(prNone);
  port.FlowControl().SetXonChar(17);
  port.Timeouts().SetReadInterval(20);
  port.Buffer().SetInputSize(1024);
  EXPECT_EQ(AppliedOf(port), (Applied{1, 1, 1}));
  EXPECT_EQ(LineOf(pty).c_cflag & CBAUD, tcflag_t(B300));

  port.SetBaudRate(br19200);
  EXPECT_EQ(AppliedOf(port), (Applied{1, 2, 1}));
  EXPECT_EQ(LineOf(pty).c_ospeed, 19200u);
  port.Timeouts().SetWriteTotalConstant(500);
  EXPECT_EQ(AppliedOf(port), (Applied{1, 2, 2}));
  port.Buffer().SetOutputSize(4096);
  EXPECT_EQ(AppliedOf(port), (Applied{2, 2, 2}));
  port.FlowControl().SetFlowControl(fcCustom);  // rewrites nothing but pushes the line
  EXPECT_EQ(AppliedOf(port), (Applied{2, 3, 2}));
  port.SetEvents({});
  port.SetStoredGroups({sgLine, sgFlow});
  EXPECT_EQ(AppliedOf(port), (Applied{2, 3, 2}));

  // Held inside (nested) brackets, all pushed once when the last one ends.
  port.BeginSettingsUpdate();
  port.BeginSettingsUpdate();
  port.SetBaudRate(br57600);
  port.Parity().SetBits(prOdd);
  port.Timeouts().SetReadInterval(30);
  port.EndSettingsUpdate();
  EXPECT_EQ(port.UpdateDepth(), 1);
  EXPECT_EQ(AppliedOf(port), (Applied{2, 3, 2}));
  EXPECT_EQ(LineOf(pty).c_ospeed, 19200u);
  port.EndSettingsUpdate();
  EXPECT_EQ(AppliedOf(port), (Applied{3, 4, 3}));
  EXPECT_EQ(LineOf(pty).c_ospeed, 57600u);
  EXPECT_EQ(LineOf(pty).c_cflag & PARODD, tcflag_t(PARODD));

  port.EndSettingsUpdate();  // without a Begin: nothing
  EXPECT_EQ(port.UpdateDepth(), 0);
  EXPECT_EQ(AppliedOf(port), (Applied{3, 4, 3}));

  // A closed port only stores; the next opening pushes everything.
  port.ClosePort();
  port.SetBaudRate(br1200);
  EXPECT_EQ(AppliedOf(port), (Applied{3, 4, 3}));
  port.OpenPort();
  EXPECT_EQ(AppliedOf(port), (Applied{4, 5, 4}));
  EXPECT_EQ(LineOf(pty).c_ospeed, 1200u);
}

TEST_F(OpenPty, PortChangeReopensAtOnceAndInsideABracketSettlesAtItsEnd) {
  PtyPair second;
  port.SetPort(second.SlavePath());  // outside a bracket: reopened with all settings
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(AppliedOf(port), (Applied{2, 2, 2}));
  EXPECT_EQ(OpenInChild(pty.SlavePath()), "no failure");  // the old device is free

  PtyPair third;
  termios2 tio = LineOf(third);
  tio.c_cflag = (tio.c_cflag & ~CBAUD) | B300;
  ASSERT_EQ(ioctl(third.Master(), TCSETS2, &tio), 0);
  port.BeginSettingsUpdate();
  port.SetPort(third.SlavePath());
  port.SetBaudRate(br38400);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(OpenInChild(second.SlavePath()), "no failure");
  EXPECT_EQ(OpenInChild(third.SlavePath()), Refusal());
  EXPECT_EQ(AppliedOf(port), (Applied{2, 2, 2}));
  EXPECT_EQ(LineOf(third).c_cflag & CBAUD, tcflag_t(B300));
  port.EndSettingsUpdate();
  EXPECT_EQ(AppliedOf(port), (Applied{3, 3, 3}));
  EXPECT_EQ(LineOf(third).c_ospeed, 38400u);
  port.WriteBytes("z", 1);
  EXPECT_EQ(third.Read(2000, 1), "z");

  // A new name that cannot be opened leaves the port closed under that name.
  EXPECT_EQ(FailureOf([&] { port.SetPort("/nonexistent/ttyNONE"); }),
            "Unable to open com port (win error code: 2)");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "/nonexistent/ttyNONE");
}

TEST(SerialPort, DestroyingAnOpenPortFreesTheDevice) {
  PtyPair pty;
  {
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    EXPECT_EQ(OpenInChild(pty.SlavePath()), Refusal());
  }
  EXPECT_EQ(OpenInChild(pty.SlavePath()), "no failure");
}

// --- UUCP lock files -----------------------------------------------------------

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string LockText(long pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10ld\n", pid);
  return text;
}

// A process that lives until the object goes.
class LiveProcess {
 public:
  LiveProcess() : pid_(fork()) {
    if (pid_ == 0) {
      pause();
      _exit(0);
    }
  }
  ~LiveProcess() { End(); }
  void End() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_;
};

class LockDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tl8-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    file = dir + "/LCK..ttyUSB0";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string dir, file;
};

TEST_F(LockDir, ALiveHolderRefusesAStaleOneIsReplaced) {
  LiveProcess other;
  struct Row {
    const char* what;
    std::optional<std::string> before;  // none: no lock file
    int result;
  };
  const Row rows[] = {
      {"no lock", std::nullopt, 0},
      {"a live process", LockText(other.Pid()), EBUSY},
      {"this process", LockText(getpid()), EBUSY},
      {"without padding", std::to_string(other.Pid()) + "\n", EBUSY},
      {"a process that is gone", LockText(99999999), 0},
      {"no process named", "garbage\n", 0},
      {"empty", "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove(file);
    if (row.before) std::ofstream(file, std::ios::binary) << *row.before;
    std::string taken = "stale";
    EXPECT_EQ(comdev::TakeLockFile(dir, "ttyUSB0", taken), row.result);
    if (row.result == 0) {
      EXPECT_EQ(taken, file);
      EXPECT_EQ(FileText(file), LockText(getpid()));  // ten digits and a newline
      EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
                std::filesystem::perms(0644));
      comdev::ReleaseLockFile(taken);
      EXPECT_FALSE(std::filesystem::exists(file));
    } else {
      EXPECT_EQ(taken, "");
      EXPECT_EQ(FileText(file), *row.before);
    }
  }
  EXPECT_EQ(std::filesystem::directory_iterator(dir),
            std::filesystem::directory_iterator());  // no temporary left
}

TEST_F(LockDir, ReleaseLeavesALockThatIsNoLongerOurs) {
  std::string taken;
  ASSERT_EQ(comdev::TakeLockFile(dir, "ttyUSB0", taken), 0);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << LockText(1);
  comdev::ReleaseLockFile(taken);
  EXPECT_EQ(FileText(file), LockText(1));
}

// Where no lock file can be made, the port still opens: flock and TIOCEXCL guard it.
TEST_F(LockDir, ADirectoryThatTakesNoFileLeavesNoLock) {
  const std::string notADirectory = dir + "/plain";
  std::ofstream(notADirectory) << "";
  std::string taken = "stale";
  EXPECT_EQ(comdev::TakeLockFile(notADirectory, "ttyUSB0", taken), 0);
  EXPECT_EQ(taken, "");
}

// Other programs lock the device itself, whatever link the user named.
TEST_F(LockDir, TheLockIsNamedAfterTheDeviceALinkLeadsTo) {
  PtyPair pty;
  const std::string device = std::filesystem::path(pty.SlavePath()).filename();
  const std::string link = dir + "/COM1", chained = dir + "/COM2";
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  ASSERT_EQ(symlink(link.c_str(), chained.c_str()), 0);
  for (const std::string& path : {pty.SlavePath(), link, chained}) {
    std::string name;
    EXPECT_EQ(comdev::LockName(path, name), 0) << path;
    EXPECT_EQ(name, device) << path;
  }
  std::string name;
  EXPECT_EQ(comdev::LockName(dir + "/missing", name), ENOENT);
}

// The port honours the lock file of another serial program that takes no
// flock, takes the device over once that program is gone, and leaves no lock
// file behind when it closes.
TEST(SerialPort, HonoursAndMakesTheSystemsLockFile) {
  const std::string lockDir = comdev::LockDirectory();
  if (lockDir.empty() || access(lockDir.c_str(), W_OK) != 0)
    GTEST_SKIP() << "no writable lock directory";
  PtyPair pty;
  const std::string lockFile =
      lockDir + "/LCK.." + std::filesystem::path(pty.SlavePath()).filename().string();
  LiveProcess other;
  std::ofstream(lockFile) << LockText(other.Pid());

  TComPort port;
  port.SetPort(pty.SlavePath());
  EXPECT_EQ(FailureOf([&] { port.OpenPort(); }), Refusal());
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(FileText(lockFile), LockText(other.Pid()));

  other.End();
  port.OpenPort();
  EXPECT_EQ(FileText(lockFile), LockText(getpid()));
  EXPECT_EQ(OpenInChild(pty.SlavePath()), Refusal());
  port.ClosePort();
  EXPECT_FALSE(std::filesystem::exists(lockFile));
}

}  // namespace
