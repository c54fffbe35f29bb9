#pragma once
// The timing of a 9600 bit/s line, the only speed the adapter talks at.

#include <chrono>

namespace sim {

// One character: start bit, 8 data bits, stop bit.
constexpr auto kCharacterTime = std::chrono::nanoseconds(10'000'000'000LL / 9600);
// A request ends on this much silence after its last byte.
constexpr auto kFrameGap = kCharacterTime * 7 / 2;

}  // namespace sim
