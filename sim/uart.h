// The chip's serial port: the baud rate its timer produces from a reload value, and what two
// UARTs at different rates make of each other's bytes.
#pragma once

#include <cstdint>

namespace qmxsim {

// Rate the chip's baud generator produces for the reload pair it was told.
//   families 0-2: count = 65536 - (high*256 + low); rate = clock / 32 / count, where clock is
//                 the machine clock (doubled in 6-clock mode);
//   families 3-4: high selects the generator (00: clock/32/12, 80: clock/32/6, 40: clock/32,
//                 C0: clock/16) and count = 256 - low.
// Returns 0 when the pair names no rate the chip can make.
double reloadRate(int family, double clockHz, std::uint8_t high, std::uint8_t low);

// Two UARTs understand each other when their rates differ by less than this fraction.
constexpr double kRateTolerance = 0.045;
bool ratesMatch(double a, double b);

// What a receiver at the wrong rate makes of a byte: a different value, the same for the same
// byte and rates, so a mismatched line is reproducible.
std::uint8_t garbled(std::uint8_t b, double senderRate, double receiverRate);

// Seconds one byte (start, eight data, stop) takes on the wire.
inline double byteTime(double rate) {
    return rate > 0 ? 10.0 / rate : 0.0;
}

}  // namespace qmxsim
