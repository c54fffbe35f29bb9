// The simulator driven over its pty with raw frames, as the tool will drive it.
// An answer is collected by the length the test expects, whatever pauses a
// busy machine puts into it; where none is expected, the simulator's journal
// shows when it has taken the request in.

#include "tests/support/raw_line.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tl8test {
namespace {

using namespace std::chrono_literals;

Bytes bytes(const std::string& hex) {
  std::istringstream words(hex);
  Bytes result;
  for (std::string word; words >> word;)
    result.push_back(std::uint8_t(std::stoi(word, nullptr, 16)));
  return result;
}

std::string hex(const Bytes& data) {
  std::string text;
  for (std::uint8_t byte : data) {
    char part[4];
    std::snprintf(part, sizeof part, "%02X ", byte);
    text += part;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::string hex(const std::array<std::uint8_t, 4>& data) {
  return hex(Bytes(data.begin(), data.end()));
}

Bytes probe(int address) { return WithCrc(Bytes{std::uint8_t(address), 3, 0, 0, 0, 7}); }

Bytes readParam(int address, int index) {
  const int reg = 255 + 2 * index;
  return WithCrc(Bytes{std::uint8_t(address), 3, std::uint8_t(reg >> 8), std::uint8_t(reg), 0, 2});
}

Bytes writeParam(int address, int index, const std::string& data) {
  const int reg = 255 + 2 * index;
  Bytes frame = {std::uint8_t(address), 16, std::uint8_t(reg >> 8), std::uint8_t(reg), 0, 2, 4};
  for (std::uint8_t byte : bytes(data)) frame.push_back(byte);
  return WithCrc(frame);
}

Bytes writeRegister(int address, int reg, int value) {
  return WithCrc(Bytes{std::uint8_t(address), 6, std::uint8_t(reg >> 8), std::uint8_t(reg),
                       std::uint8_t(value >> 8), std::uint8_t(value)});
}

// The answer to a parameter read: address, 03, byte count 4, the data, CRC.
std::string paramAnswer(int address, const std::string& data) {
  Bytes frame = {std::uint8_t(address), 3, 4};
  for (std::uint8_t byte : bytes(data)) frame.push_back(byte);
  return hex(WithCrc(frame));
}

std::string exceptionAnswer(int address, int function, int code) {
  return hex(
      WithCrc(Bytes{std::uint8_t(address), std::uint8_t(function | 0x80), std::uint8_t(code)}));
}

std::vector<SimJournalEntry> entriesOf(const SimProcess& sim, const std::string& direction) {
  std::vector<SimJournalEntry> found;
  for (const SimJournalEntry& entry : sim.journal())
    if (entry.direction == direction) found.push_back(entry);
  return found;
}

// The number of bytes a hex text such as "01 03 04" stands for.
std::size_t lengthOf(const std::string& hexText) { return (hexText.size() + 1) / 3; }

// Waits until the simulator's journal holds `count` entries in `direction`
// (or the line's limit has passed).
void awaitEntries(const SimProcess& sim, const std::string& direction, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + RawLine::kLimitMs * 1ms;
  while (entriesOf(sim, direction).size() < count && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  ASSERT_GE(entriesOf(sim, direction).size(), count) << "the simulator did not take it in";
}

// The test's end of a simulator's line (its pty, or a link to it).
class SimLine {
 public:
  explicit SimLine(const SimProcess& sim, const std::string& path = "")
      : sim_(sim), line_(path.empty() ? sim.port() : path) {}

  // What comes back for `request`: `length` bytes, the length of the answer
  // the test expects; when it expects none, what has come by the time the
  // journal shows the request taken in as a frame.
  Bytes answer(const Bytes& request, std::size_t length) {
    const std::size_t received = entriesOf(sim_, "RX").size();
    line_.send(request);
    if (length > 0) return line_.receive(length);
    awaitEntries(sim_, "RX", received + 1);
    return line_.pending();
  }
  RawLine& raw() { return line_; }

 private:
  const SimProcess& sim_;
  RawLine line_;
};

TEST(SimLine, ProbeIsAnsweredWithFourteenBytesPacedAtLineSpeed) {
  ASSERT_EQ(hex(probe(1)), "01 03 00 00 00 07 04 08");  // the test's own CRC is right
  SimProcess sim;
  SimLine line(sim);

  const auto start = std::chrono::steady_clock::now();
  const Bytes answer = line.answer(probe(1), 19);
  const auto elapsed = std::chrono::steady_clock::now() - start;

  ASSERT_EQ(answer.size(), 19u) << hex(answer);
  EXPECT_EQ(answer[0], 1);
  EXPECT_EQ(answer[1], 3);
  EXPECT_EQ(answer[2], 14);
  EXPECT_EQ(hex(WithCrc(Bytes(answer.begin(), answer.end() - 2))), hex(answer));
  // 19 bytes at 9600 bit/s alone take 19.8 ms; an instant pty answer would not.
  EXPECT_GE(elapsed, 20ms);

  const auto rx = entriesOf(sim, "RX"), tx = entriesOf(sim, "TX");
  ASSERT_EQ(rx.size(), 1u);
  ASSERT_EQ(tx.size(), 1u);
  EXPECT_EQ(hex(rx[0].bytes), "01 03 00 00 00 07 04 08");
  EXPECT_EQ(hex(tx[0].bytes), hex(answer));
  EXPECT_GE(tx[0].ms - rx[0].ms, 3.0);  // the default turnaround
}

TEST(SimLine, TurnaroundIsConfigurable) {
  SimProcess sim({"--turnaround", "120"});
  SimLine line(sim);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(hex(line.answer(readParam(1, 3), 9)), paramAnswer(1, "00 00 41 80"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 120ms);
}

// --echo: the line hands every frame back before the answer, for an address
// nobody has too, and the journal says so.
TEST(SimLine, EchoingLineHandsEachFrameBackBeforeItsAnswer) {
  SimProcess sim({"--echo"});
  SimLine line(sim);
  EXPECT_EQ(hex(line.answer(readParam(1, 3), 8 + 9)),
            hex(readParam(1, 3)) + " " + paramAnswer(1, "00 00 41 80"));
  EXPECT_EQ(hex(line.answer(readParam(9, 3), 8)), hex(readParam(9, 3)));
  const auto tx = entriesOf(sim, "TX");
  ASSERT_EQ(tx.size(), 3u);
  EXPECT_EQ(tx[0].note, "line echo");
  EXPECT_EQ(hex(tx[0].bytes), hex(readParam(1, 3)));
  EXPECT_EQ(tx[2].note, "line echo");
}

TEST(SimMemory, FactorySetHasInitialValuesAndMatchingChecksum) {
  SimProcess sim;
  const std::time_t now = std::time(nullptr);
  const SimState state = sim.state();
  EXPECT_EQ(state.address, 1);
  const std::vector<std::pair<int, std::string>> expected = {
      {1, "80 00 44 7C"},  {2, "80 00 44 1D"},  {3, "00 00 41 80"},  {4, "00 00 40 80"},
      {5, "00 00 43 39"},  {6, "00 00 42 70"},  {7, "00 00 41 80"},  {8, "00 00 40 80"},
      {9, "00 00 43 48"},  {10, "00 00 3F C0"}, {11, "00 00 41 80"}, {12, "00 00 40 80"},
      {13, "89 8A 01 00"}, {15, "00 01 00 00"}};
  for (const auto& [index, data] : expected)
    EXPECT_EQ(hex(state.param(index)), data) << "p" << index;

  std::tm today{};
  localtime_r(&now, &today);
  const int dateWord = (today.tm_year + 1900 - 1980) << 9 | (today.tm_mon + 1) << 5 | today.tm_mday;
  EXPECT_EQ(state.param(14)[2] | state.param(14)[3] << 8, dateWord);

  EXPECT_EQ(hex(state.param(16)), hex(state.expectedChecksum()));

  // What the file says is what the line says.
  SimLine line(sim);
  EXPECT_EQ(hex(line.answer(readParam(1, 16), 9)), paramAnswer(1, hex(state.param(16))));
}

TEST(SimMemory, ParameterWriteReachesStateFileReadsBackAndSurvivesRestart) {
  SimProcess sim;
  {
    SimLine line(sim);
    // The state file has the write by the time its answer is in.
    EXPECT_EQ(hex(line.answer(writeParam(1, 5, "00 00 42 F0"), 8)),
              hex(WithCrc(bytes("01 10 01 09 00 02"))));
    EXPECT_EQ(hex(sim.state().param(5)), "00 00 42 F0");
    EXPECT_EQ(hex(line.answer(readParam(1, 5), 9)), paramAnswer(1, "00 00 42 F0"));
    // A read of one register inside the parameter block is served too.
    EXPECT_EQ(hex(line.answer(WithCrc(bytes("01 03 01 0A 00 01")), 7)),
              hex(WithCrc(bytes("01 03 02 42 F0"))));
    const Bytes moveTo7 = writeRegister(1, 375, 7);
    EXPECT_EQ(hex(line.answer(moveTo7, 8)), hex(moveTo7));
  }
  ASSERT_EQ(sim.stop(), 0);

  SimProcess again({"--state", sim.statePath()});
  SimLine line(again);
  EXPECT_EQ(hex(line.answer(readParam(7, 5), 9)), paramAnswer(7, "00 00 42 F0"));
}

TEST(SimAddress, BroadcastWriteIsSilentThenAdapterAnswersAtNewAddress) {
  SimProcess sim;
  SimLine line(sim);
  EXPECT_EQ(hex(line.answer(writeRegister(0, 375, 5), 0)), "");
  awaitEntries(sim, "--", 2);  // started, then "adapter 1 now answers at 5"
  EXPECT_EQ(entriesOf(sim, "--").back().note, "adapter 1 now answers at 5");
  EXPECT_EQ(sim.state().address, 5);
  EXPECT_EQ(hex(line.answer(probe(1), 0)), "");
  const Bytes answer = line.answer(probe(5), 19);
  ASSERT_EQ(answer.size(), 19u);
  EXPECT_EQ(answer[0], 5);
}

TEST(SimAddress, UnicastWriteEchoesThenMovesAndRefusesOutOfRange) {
  SimProcess sim({"--address", "3"});
  SimLine line(sim);
  for (int bad : {0, 248}) {
    EXPECT_EQ(hex(line.answer(writeRegister(3, 375, bad), 5)), exceptionAnswer(3, 6, 3)) << bad;
  }
  EXPECT_EQ(sim.state().address, 3);

  const Bytes request = writeRegister(3, 375, 247);
  EXPECT_EQ(hex(line.answer(request, 8)), hex(request));  // the echo is from address 3
  EXPECT_EQ(sim.state().address, 247);
  EXPECT_EQ(hex(line.answer(readParam(3, 1), 0)), "");
  EXPECT_EQ(hex(line.answer(readParam(247, 1), 9)), paramAnswer(247, "80 00 44 7C"));
}

TEST(SimPassThrough, EchoesTheCommandThenEveryByte) {
  SimProcess sim;
  SimLine line(sim);
  EXPECT_EQ(hex(line.answer(bytes("01 06 01 75 00 01 58 2C"), 8)), "01 06 01 75 00 01 58 2C");
  EXPECT_EQ(hex(line.answer(probe(1), 8)), hex(probe(1)));  // no Modbus any more
  EXPECT_EQ(hex(line.answer(bytes("00 FF 41"), 3)), "00 FF 41");
}

TEST(SimProtocol, UnservedRequestsGetStandardExceptionAnswers) {
  struct Case {
    std::string request;  // without CRC
    int function, code;
  };
  const std::vector<Case> cases = {
      {"01 04 01 01 00 02", 4, 1},               // function not served
      {"01 03 00 00 00 08", 3, 2},               // one register past the identity block
      {"01 03 01 1F 00 04", 3, 2},               // runs past parameter 16
      {"01 03 01 01 00 00", 3, 3},               // zero registers
      {"01 06 00 64 00 01", 6, 2},               // no such register
      {"01 06 01 01 00 00", 6, 2},               // parameters take only function 16
      {"01 06 01 75 00 02", 6, 3},               // pass-through takes only 1
      {"01 10 01 01 00 02 03 00 00 00", 16, 3},  // byte count does not match
      {"01 10 01 77 00 01 02 00 05", 16, 2},     // function 16 outside the parameters
  };
  SimProcess sim;
  SimLine line(sim);
  for (const Case& c : cases)
    EXPECT_EQ(hex(line.answer(WithCrc(bytes(c.request)), 5)),
              exceptionAnswer(1, c.function, c.code))
        << c.request;
  EXPECT_EQ(hex(sim.state().param(1)), "80 00 44 7C");
}

TEST(SimProtocol, IgnoresBadCrcOtherAddressAndFramesSplitBySilence) {
  SimProcess sim;
  SimLine line(sim);
  EXPECT_EQ(hex(line.answer(bytes("01 03 00 00 00 07 08 04"), 0)), "");  // CRC bytes swapped
  EXPECT_EQ(hex(line.answer(probe(2), 0)), "");
  // The rest of the frame once its start has ended as a frame of its own.
  const Bytes whole = probe(1);
  EXPECT_EQ(hex(line.answer(Bytes(whole.begin(), whole.begin() + 5), 0)), "");
  EXPECT_EQ(hex(line.answer(Bytes(whole.begin() + 5, whole.end()), 0)), "");
  EXPECT_EQ(line.answer(probe(1), 19).size(), 19u);  // and the line still works

  std::vector<std::string> notes;
  for (const SimJournalEntry& entry : entriesOf(sim, "RX")) notes.push_back(entry.note);
  EXPECT_EQ(notes, (std::vector<std::string>{"ignored: bad CRC", "ignored: other address",
                                             "ignored: bad CRC", "ignored: too short", ""}));
}

TEST(SimFaults, EachKindSpoilsOnlyTheFirstAnswer) {
  const std::string good = paramAnswer(1, "80 00 44 1D");  // parameter 2
  const Bytes goodBytes = bytes(good);
  const auto swapped = [&] {
    Bytes b = goodBytes;
    std::swap(b[7], b[8]);
    return hex(b);
  };
  const auto inverted = [&] {
    Bytes b = goodBytes;
    b[7] ^= 0xFF;
    b[8] ^= 0xFF;
    return hex(b);
  };
  struct Case {
    std::string fault, answer;
  };
  const std::vector<Case> cases = {
      {"silent", ""},
      {"noise:3", "FF 00 55 " + good},
      {"badcrc", inverted()},
      {"badcrc:swap", swapped()},
      {"truncate:5", hex(Bytes(goodBytes.begin(), goodBytes.begin() + 5))},
      {"short:3", hex(WithCrc(bytes("01 03 04")))},
      {"exception:4", exceptionAnswer(1, 3, 4)},
      {"oversize:2", hex(WithCrc(bytes("01 03 06 80 00 44 1D 00 00")))},
      {"twin", good + " " + good},
  };
  for (const Case& c : cases) {
    SimProcess sim({"--fault", c.fault + ",first=1"});
    SimLine line(sim);
    EXPECT_EQ(hex(line.answer(readParam(1, 2), lengthOf(c.answer))), c.answer) << c.fault;
    EXPECT_EQ(hex(line.answer(readParam(1, 2), lengthOf(good))), good) << c.fault;
  }
}

TEST(SimFaults, LateAnswerComesAfterTheGivenTime) {
  SimProcess sim({"--fault", "late:150"});
  SimLine line(sim);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(hex(line.answer(readParam(1, 2), 9)), paramAnswer(1, "80 00 44 1D"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
}

TEST(SimFaults, RegisterAndNthLimitHitOneRequestOfAFlow) {
  SimProcess sim({"--fault", "silent,reg=283,nth=2", "--fault", "exception:6,fn=16,nth=1"});
  SimLine line(sim);
  const std::string stamp = paramAnswer(1, hex(sim.state().param(14)));
  EXPECT_EQ(hex(line.answer(readParam(1, 14), 9)), stamp);
  EXPECT_EQ(hex(line.answer(readParam(1, 1), 9)), paramAnswer(1, "80 00 44 7C"));
  EXPECT_EQ(hex(line.answer(readParam(1, 14), 0)), "");
  EXPECT_EQ(hex(line.answer(readParam(1, 14), 9)), stamp);

  // A refused write leaves the memory as it was; the next one goes through.
  EXPECT_EQ(hex(line.answer(writeParam(1, 1, "00 00 3F 80"), 5)), exceptionAnswer(1, 16, 6));
  EXPECT_EQ(hex(sim.state().param(1)), "80 00 44 7C");
  EXPECT_EQ(hex(line.answer(writeParam(1, 1, "00 00 3F 80"), 8)),
            hex(WithCrc(bytes("01 10 01 01 00 02"))));
  EXPECT_EQ(hex(sim.state().param(1)), "00 00 3F 80");

  const auto events = entriesOf(sim, "--");
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const SimJournalEntry& e) {
    return e.note.find("no answer from adapter 1: fault silent,reg=283,nth=2") != std::string::npos;
  }));
}

TEST(SimAdapters, TwoAdaptersKeepTheirOwnMemoryAndBothTakeBroadcasts) {
  SimProcess sim({"--adapter", "2:{dir}/second.txt"});
  SimLine line(sim);
  EXPECT_EQ(hex(line.answer(writeParam(2, 1, "00 00 3F 80"), 8)),
            hex(WithCrc(bytes("02 10 01 01 00 02"))));
  EXPECT_EQ(hex(line.answer(readParam(1, 1), 9)), paramAnswer(1, "80 00 44 7C"));
  EXPECT_EQ(hex(line.answer(readParam(2, 1), 9)), paramAnswer(2, "00 00 3F 80"));

  EXPECT_EQ(hex(line.answer(writeParam(0, 3, "00 00 40 00"), 0)), "");
  // Both answer with the broadcast's value, so both have stored it.
  for (int address : {1, 2})
    EXPECT_EQ(hex(line.answer(readParam(address, 3), 9)), paramAnswer(address, "00 00 40 00"));
  const SimState first = sim.state(), second = loadSimState(sim.path("second.txt"));
  EXPECT_EQ(second.address, 2);
  EXPECT_EQ(hex(first.param(1)), "80 00 44 7C");
  EXPECT_EQ(hex(second.param(1)), "00 00 3F 80");
  EXPECT_EQ(hex(first.param(3)), "00 00 40 00");
  EXPECT_EQ(hex(second.param(3)), "00 00 40 00");
}

TEST(SimCommandLine, LinkIsMadeReplacesAStaleOneAndIsRemovedOnExit) {
  namespace fs = std::filesystem;
  SimProcess holder;  // lends its fresh directory
  const fs::path link = holder.path("COM1");
  fs::create_symlink("/nonexistent/pts", link);

  SimProcess sim({"--link", link.string()});
  EXPECT_EQ(fs::read_symlink(link), sim.port());
  EXPECT_EQ(SimLine(sim, link.string()).answer(probe(1), 19).size(), 19u);
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

// --unplug: the Nth request takes the line away, as a converter pulled out:
// whoever had the terminal open is hung up for good, and a new terminal
// comes up under the same link.
TEST(SimCommandLine, UnplugHangsUpAtTheNthRequestAndANewTerminalComesUnderTheLink) {
  namespace fs = std::filesystem;
  SimProcess holder;  // lends its fresh directory
  const fs::path link = holder.path("COM1");
  SimProcess sim({"--link", link.string(), "--unplug", "2:200"});
  SimLine before(sim, link.string());
  EXPECT_EQ(before.answer(probe(1), 19).size(), 19u);
  before.raw().send(probe(1));
  const auto unplugged = [&] {
    for (const SimJournalEntry& entry : sim.journal())
      if (entry.note == "unplugged: terminal closed, link removed") return true;
    return false;
  };
  const auto plugged = [&] {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return !error && target != sim.port() && fs::exists(target);
  };
  for (int i = 0; i < 500 && !(unplugged() && plugged()); ++i) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(unplugged());
  ASSERT_TRUE(plugged());
  EXPECT_THROW(before.raw().send(probe(1)), std::runtime_error);  // hung up
  EXPECT_EQ(SimLine(sim, link.string()).answer(probe(1), 19).size(), 19u);
  const auto rx = entriesOf(sim, "RX");
  ASSERT_EQ(rx.size(), 3u);
  EXPECT_EQ(rx[1].note, "not answered: the line goes");
  EXPECT_EQ(entriesOf(sim, "TX").size(), 2u);
}

TEST(SimCommandLine, BadArgumentsAndStateFilesAreRefusedWithAReason) {
  SimProcess holder;
  const std::string regular = holder.path("regular");
  std::ofstream(regular) << "keep me\n";
  const std::string broken = holder.path("broken.txt");
  std::ofstream(broken) << "address 1\np1 80 00 44\n";
  // A user's own link to a real converter: never taken over.
  const std::string live = holder.path("COM1");
  std::filesystem::create_symlink(regular, live);
  struct Case {
    std::vector<std::string> args;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {{"--address", "0"}, "bad address \"0\""},
      {{"--fault", "wobble"}, "unknown kind \"wobble\""},
      {{"--fault", "late:10,nth=2,every=3"}, "only one of nth, every, first"},
      {{"--adapter", "1"}, "two adapters at address 1"},
      {{"--unplug", "0"}, "bad --unplug \"0\""},
      {{"--unplug", "3:soon"}, "bad --unplug \"3:soon\""},
      {{"--link", regular}, "refusing to replace " + regular},
      {{"--link", live}, "refusing to replace " + live + ": a live link to " + regular},
      {{"--state", broken}, "line 2: expected four hex bytes"},
      // A misspelt option is named for what it is, last on the line or not.
      {{"--ehco"}, "unknown option --ehco"},
      {{"--ehco", "--echo"}, "unknown option --ehco"},
      {{"--echo", "--link"}, "missing value after --link"},
  };
  for (const Case& c : cases) {
    try {
      SimProcess sim(c.args);
      ADD_FAILURE() << "started with " << ::testing::PrintToString(c.args);
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(FileBytes(regular), "keep me\n");
  EXPECT_EQ(std::filesystem::read_symlink(live), regular);
}

}  // namespace
}  // namespace tl8test
