#pragma once
// What the window tests expect of the simulated adapter: the frames it
// received, whole or as requests {address, function, first register}, the
// requests of the windows' exchanges, and its factory values as the windows
// show them.
//
//   EXPECT_EQ(tl8test::RequestsOf(sim.Received()), tl8test::FullWrite(1, 5));

#include "tests/support/sim_state.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <ostream>
#include <vector>

namespace tl8test {

using Frame = std::vector<std::uint8_t>;

std::vector<Frame> FramesOf(const std::vector<SimJournalEntry>& received);

struct Request {
  int address;
  int function;
  int reg;  // the first register
  bool operator==(const Request&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Request& request);

std::vector<Request> RequestsOf(const std::vector<SimJournalEntry>& received);

// The probe: the identity block of the adapter at `address`.
Request Probe(int address);
// Reads of parameters 1..16 at `address`, in order.
std::vector<Request> ParameterReads(int address);
// The calibration window's read (and the bounds window's on request): the
// probe, then parameters 1..16.
std::vector<Request> FullRead(int address);
// The address register at `oldAddress`, then parameters 1..16 written at `address`.
std::vector<Request> FullWrite(int oldAddress, int address);

// A new adapter's six bounds as the bounds window shows them, and the tmp.dat
// it keeps of them (lines 7 and 8 repeat parameter 12, the last float read).
extern const QStringList kFactoryBounds;
extern const QByteArray kFactoryTmpDat;

}  // namespace tl8test
