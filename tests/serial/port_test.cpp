// The port component on pseudo-terminal pairs: the test plays the far end of
// the line through the master side.

#include "serial/comport.h"
#include "serial/ports_unix.h"
#include "tests/support/pty_pair.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

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

// What `f` returns when run in a child process; "threw ..." when it threw,
// "hung" when it has not answered after a minute, "crashed" when it ended
// without answering.
std::string InChild(const std::function<std::string()>& f) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::string result;
    try {  // the child must not go on with the test program's other tests
      result = f();
    } catch (const std::exception& error) {
      result = std::string("threw ") + error.what();
    }
    [[maybe_unused]] ssize_t n = write(fds[1], result.data(), result.size());
    _exit(0);
  }
  close(fds[1]);
  std::string result;
  const auto deadline = Clock::now() + 60s;
  bool answered = false;
  for (pollfd pfd{fds[0], POLLIN, 0}; !answered && Clock::now() < deadline;) {
    if (poll(&pfd, 1, 100) <= 0) continue;
    char chunk[256];
    const ssize_t n = read(fds[0], chunk, sizeof chunk);
    if (n > 0) result.append(chunk, size_t(n));
    answered = n <= 0;
  }
  close(fds[0]);
  if (!answered) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!answered) return "hung";
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "crashed";
}

// What a second opener in another process (root included) is told.
std::string OpenInChild(const std::string& device) {
  return InChild([&] {
    TComPort other;
    other.SetPort(device);
    const std::string result = FailureOf([&] { other.OpenPort(); });
    other.ClosePort();  // _exit runs no destructor
    return result;
  });
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
// waiting or reporting nothing forever; the failure closes the device, and
// the next operation tells of the loss, not of a closed handle.
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
  for (const auto& row : rows) {
    // Named, not a structured binding: clang 14 lets no lambda take one.
    const auto& act = row.first;
    const std::string& text = row.second;
    SCOPED_TRACE(text);
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    pty.CloseMaster();
    EXPECT_FALSE(port.Connected());
    std::string failure;
    EXPECT_LT(TimeOf([&] { failure = FailureOf([&] { act(port); }); }), kHang);
    EXPECT_EQ(failure, text + " (win error code: 5)");
    EXPECT_EQ(FailureOf([&] { act(port); }), text + " (win error code: 5): the line is lost");
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
            "WaitForEvent method failed (win error code: 5): the line is lost");
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

  // Takes the lock of ttyUSB0 in a child process, so that neither a hang nor
  // a crash can take the test with it: the result, or how the child ended.
  std::string TakeInChild(const std::vector<std::string>& names = {"ttyUSB0"}) const {
    return InChild([&] {
      std::string taken;
      const int result = comdev::TakeLockFile(dir, names, taken);
      comdev::ReleaseLockFile(taken);
      return std::to_string(result);
    });
  }

  bool OnlyTheLockFileIsLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      if (entry.path() != file) return false;
    return true;
  }

  std::string dir, file;
};

// Makes the file's time `age` before now.
void Age(const std::string& path, std::chrono::seconds age) {
  timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= age.count();
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST_F(LockDir, ALiveHolderRefusesAStaleOneIsReplaced) {
  LiveProcess other;
  const std::string live = std::to_string(other.Pid());
  struct Row {
    const char* what;
    std::optional<std::string> before;  // none: no lock file
    std::chrono::seconds age;           // how long ago it was written
    int result;
  };
  const Row rows[] = {
      {"no lock", std::nullopt, 0s, 0},
      {"a live process", LockText(other.Pid()), 0s, EBUSY},
      {"this process", LockText(getpid()), 0s, EBUSY},
      {"without padding", live + "\n", 0s, EBUSY},
      {"without a newline", live, 0s, EBUSY},
      {"followed by text, as minicom writes", "      " + live + " minicom root\n", 0s, EBUSY},
      {"after tabs", "\t" + live + "\n", 0s, EBUSY},
      {"after blank lines", "\n\r\n  \n" + live + "\n", 1h, EBUSY},
      {"an old file of a live process", LockText(other.Pid()), 1h, EBUSY},
      {"a process that is gone", LockText(99999999), 0s, 0},
      {"a process that is gone, followed by text", "  99999999 minicom root\n", 0s, 0},
      // Naming no process, it may be one its maker is just writing.
      {"empty, just written", "", 0s, EBUSY},
      {"no process named, just written", "garbage\n", 0s, EBUSY},
      {"blanks, just written", "     ", 0s, EBUSY},
      {"empty, a minute old", "", 60s, 0},
      {"no process named, a minute old", "garbage\n", 60s, 0},
      {"process 0, a minute old", LockText(0), 60s, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove(file);
    if (row.before) {
      std::ofstream(file, std::ios::binary) << *row.before;
      Age(file, row.age);
    }
    std::string taken = "stale";
    EXPECT_EQ(comdev::TakeLockFile(dir, {"ttyUSB0"}, taken), row.result);
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
  EXPECT_TRUE(OnlyTheLockFileIsLeft());  // no temporary
}

// Anyone may put anything under the lock's name in the lock directory: what
// is no regular file is busy and stays, never followed, waited on or read
// whole. Each opener runs in a child: a hang or a crash there is the fault.
TEST_F(LockDir, WhatIsNoRegularFileIsBusyAndStays) {
  LiveProcess other;
  const std::string elsewhere = dir + "/elsewhere";
  std::ofstream(elsewhere) << LockText(99999999);  // stale, were it read through the link
  const std::pair<const char*, std::function<void()>> rows[] = {
      {"a FIFO", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0644), 0); }},
      {"a directory", [&] { ASSERT_TRUE(std::filesystem::create_directory(file)); }},
      {"a link to /dev/zero", [&] { ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0); }},
      {"a link to a stale lock", [&] { ASSERT_EQ(symlink(elsewhere.c_str(), file.c_str()), 0); }},
  };
  for (const auto& [what, make] : rows) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(file);
    make();
    struct stat before {};
    ASSERT_EQ(lstat(file.c_str(), &before), 0);
    EXPECT_EQ(TakeInChild(), std::to_string(EBUSY));
    struct stat after {};
    EXPECT_EQ(lstat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
  }
  EXPECT_EQ(FileText(elsewhere), LockText(99999999));

  // A huge file is judged by its first bytes.
  for (const auto& [holder, result] : {std::pair{other.Pid(), EBUSY}, std::pair{99999999, 0}}) {
    SCOPED_TRACE(holder);
    std::filesystem::remove_all(file);
    std::ofstream(file, std::ios::binary) << LockText(holder);
    std::filesystem::resize_file(file, std::uintmax_t{1} << 40);  // sparse: a terabyte of zeros
    EXPECT_EQ(TakeInChild(), std::to_string(result));
    EXPECT_EQ(std::filesystem::exists(file), result == EBUSY);
  }
}

// Two openers find the same stale lock: the first removes it and makes its
// own, and the second, coming between the first one's judging and removal,
// must neither go on nor remove what the first made.
TEST_F(LockDir, OfTwoOpenersOfAStaleLockOnlyOneGoesOn) {
  std::ofstream(file) << LockText(99999999);
  int second = -1;
  std::string secondTaken = "none";
  bool paused = false;
  comdev::SetStaleLockHook([&] {
    if (std::exchange(paused, true)) return;
    second = comdev::TakeLockFile(dir, {"ttyUSB0"}, secondTaken);
  });
  std::string firstTaken;
  const int first = comdev::TakeLockFile(dir, {"ttyUSB0"}, firstTaken);
  comdev::SetStaleLockHook(nullptr);
  ASSERT_TRUE(paused);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(firstTaken, file);
  EXPECT_EQ(second, EBUSY);
  EXPECT_EQ(secondTaken, "");
  EXPECT_EQ(FileText(file), LockText(getpid()));
  comdev::ReleaseLockFile(firstTaken);
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(LockDir, ReleaseLeavesALockThatIsNoLongerOurs) {
  std::string taken;
  ASSERT_EQ(comdev::TakeLockFile(dir, {"ttyUSB0"}, taken), 0);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << LockText(1);
  comdev::ReleaseLockFile(taken);
  EXPECT_EQ(FileText(file), LockText(1));
}

// Where no lock file can be made, the port still opens: flock and TIOCEXCL guard it.
TEST_F(LockDir, ADirectoryThatTakesNoFileLeavesNoLock) {
  const std::string notADirectory = dir + "/plain";
  std::ofstream(notADirectory) << "";
  std::string taken = "stale";
  EXPECT_EQ(comdev::TakeLockFile(notADirectory, {"ttyUSB0"}, taken), 0);
  EXPECT_EQ(taken, "");
}

// Each program locks the device by the name it knows: the one it was given or
// the device a link leads to, by base name or by the path below /dev. The
// first name is the one this tool takes.
TEST(LockNames, EveryConventionalNameOfThePortTheResolvedDevicesFirst) {
  using Names = std::vector<std::string>;
  const std::tuple<const char*, const char*, Names> rows[] = {
      {"/dev/ttyUSB0", "/dev/ttyUSB0", {"ttyUSB0"}},
      {"/dev/COM1", "/dev/ttyUSB0", {"ttyUSB0", "COM1"}},
      {"/dev/pts/7", "/dev/pts/7", {"pts_7", "7"}},
      {"/dev/COM1", "/dev/pts/7", {"pts_7", "7", "COM1"}},
      {"/dev/serial/by-id/usb-X", "/dev/ttyUSB0", {"ttyUSB0", "usb-X", "serial_by-id_usb-X"}},
      {"/dev//serial/./by-id/usb-X", "/dev/ttyUSB0", {"ttyUSB0", "usb-X", "serial_by-id_usb-X"}},
      {"/tmp/line", "/dev/pts/3", {"pts_3", "3", "line"}},
      {"/tmp/line", "/tmp/device", {"device", "line"}},
  };
  for (const auto& [given, resolved, names] : rows)
    EXPECT_EQ(comdev::LockNamesOf(given, resolved), names) << given << " -> " << resolved;
}

TEST_F(LockDir, LockNamesFollowLinksToTheDevice) {
  PtyPair pty;
  const std::string number = std::filesystem::path(pty.SlavePath()).filename();
  const std::string link = dir + "/COM1", chained = dir + "/COM2";
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  ASSERT_EQ(symlink(link.c_str(), chained.c_str()), 0);
  using Names = std::vector<std::string>;
  const std::pair<std::string, Names> rows[] = {
      {pty.SlavePath(), {"pts_" + number, number}},
      {link, {"pts_" + number, number, "COM1"}},
      {chained, {"pts_" + number, number, "COM2"}},
  };
  for (const auto& [path, expected] : rows) {
    Names names;
    EXPECT_EQ(comdev::LockNames(path, names), 0) << path;
    EXPECT_EQ(names, expected) << path;
  }
  Names names;
  EXPECT_EQ(comdev::LockNames(dir + "/missing", names), ENOENT);
}

// A port reached through a link (/dev/COM1 -> the device) is busy while a live
// process holds any of its names, the one minicom takes (the name given)
// among them; free, it is locked under the device's name only, and a stale
// lock of another name is left to its program.
TEST_F(LockDir, APortIsBusyUnderEveryNameAndLockedUnderTheDevices) {
  PtyPair pty;
  const std::string number = std::filesystem::path(pty.SlavePath()).filename();
  const std::string link = dir + "/COM1", locks = dir + "/locks";
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  ASSERT_TRUE(std::filesystem::create_directory(locks));
  LiveProcess minicom;
  const std::string held = "      " + std::to_string(minicom.Pid()) + " minicom root\n";
  for (const std::string& name : {std::string("COM1"), "pts_" + number, number}) {
    SCOPED_TRACE(name);
    std::ofstream(locks + "/LCK.." + name) << held;
    comdev::DevicePtr device;
    EXPECT_EQ(comdev::OpenLockedDevice(link, locks, device), EBUSY);
    EXPECT_FALSE(device);
    EXPECT_EQ(FileText(locks + "/LCK.." + name), held);
    std::filesystem::remove(locks + "/LCK.." + name);
  }

  std::ofstream(locks + "/LCK..COM1") << LockText(99999999);
  comdev::DevicePtr device;
  ASSERT_EQ(comdev::OpenLockedDevice(link, locks, device), 0);
  EXPECT_EQ(FileText(locks + "/LCK..pts_" + number), LockText(getpid()));
  EXPECT_EQ(FileText(locks + "/LCK..COM1"), LockText(99999999));
  EXPECT_FALSE(std::filesystem::exists(locks + "/LCK.." + number));
  device.reset();
  EXPECT_FALSE(std::filesystem::exists(locks + "/LCK..pts_" + number));
  EXPECT_TRUE(std::filesystem::exists(locks + "/LCK..COM1"));
}

// A name too long for a lock file, given or the device's own, is no busy
// port: the opening fails saying why, and nothing is made in the directory.
TEST_F(LockDir, ALockNameTooLongIsSaidSo) {
  PtyPair pty;
  const std::string link = dir + "/" + std::string(251, 'p'), locks = dir + "/locks";
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  ASSERT_TRUE(std::filesystem::create_directory(locks));
  comdev::DevicePtr device;
  EXPECT_EQ(comdev::OpenLockedDevice(link, locks, device), comdev::kLockNameTooLong);
  EXPECT_FALSE(device);
  std::string taken;
  EXPECT_EQ(comdev::TakeLockFile(locks, {std::string(251, 't')}, taken), comdev::kLockNameTooLong);
  EXPECT_TRUE(std::filesystem::is_empty(locks));

  TComPort port;
  port.SetPort(link);
  try {
    port.OpenPort();
    ADD_FAILURE() << "opened";
  } catch (const EComPort& e) {
    EXPECT_NE(std::string(e.what()).find("lock name too long"), std::string::npos) << e.what();
  }
}

// The port honours the lock file of another serial program that takes no
// flock, takes the device over once that program is gone, and leaves no lock
// file behind when it closes.
TEST(SerialPort, HonoursAndMakesTheSystemsLockFile) {
  const std::string lockDir = comdev::LockDirectory();
  if (lockDir.empty() || access(lockDir.c_str(), W_OK) != 0)
    GTEST_SKIP() << "no writable lock directory";
  PtyPair pty;
  // A pseudo-terminal /dev/pts/N is locked as pts_N, as other programs do.
  const std::string lockFile =
      lockDir + "/LCK..pts_" + std::filesystem::path(pty.SlavePath()).filename().string();
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
