// Baud-rate calibration and switching: the fastest rate the chip's clock can make within the
// user's limit, the reload for the chip's baud generator, the test exchange at the new rate,
// the switch of both sides, and the watchdog-pin command sent before the search.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/connection_facts.h"
#include "link/link_context.h"

namespace qmx {

// The candidate rates, index 0..11.
inline constexpr std::array<long, 12> kBaudCandidates{1200,  2400,  4800,  9600,  11520, 12800,
                                                      14400, 19200, 28800, 38400, 57600, 115200};

// One generator's figures for one candidate rate.
struct BaudFigures {
    float count = 0;
    float achieved = 0;
    float errorPercent = 100;
};

// Generators: A (families 0..2), and B, C, D, E (families 3 and 4) with their extra bytes
// 0, 128, 64, 192.
enum class BaudGenerator { A, B, C, D, E };
BaudFigures baudFigures(BaudGenerator g, double clockHz, long baud);
int generatorExtraByte(BaudGenerator g);

// Picks the fastest candidate at or below index MaxNo (lowered to 11) and at or below
// userLimit whose error lies inside the family's window. Returns the timer count and sets
// MaxNo, baud, errNumb and (families 3, 4) double_baud; returns -1 when none qualifies or the
// inputs are not positive, leaving the outputs alone.
int calculate_baud(long crystal_frequency, int& MaxNo, long& baud, float& errNumb, int& double_baud,
                   int family, long userLimit);

// Reload bytes for a count: 65536 - count split into high and low; families 3 and 4 send the
// generator byte as the high byte and 256 - count as the low byte.
void reloadBytes(int count, int family, int double_baud, std::uint8_t& newBaud_H,
                 std::uint8_t& newBaud_L);

// The clock-range code of the rate test for a clock (Hz, already halved in 6-clock mode).
std::uint8_t clockRangeCode(int family, double clockHz);

// The payload of the rate test (command 8F) and of the switch (command 8E).
std::array<std::uint8_t, 6> testBaudPayload(long baud, std::uint8_t newBaud_H,
                                            std::uint8_t newBaud_L, double clockHz, int family);
std::array<std::uint8_t, 5> setBaudPayload(long baud, std::uint8_t newBaud_H,
                                           std::uint8_t newBaud_L, double clockHz);

// The pin byte of the watchdog-pin command: bit number in the high nibble, port in the low
// nibble for a pin text like "P1.0"; FF for anything not four characters long.
std::uint8_t watchdogPinByte(const std::string& pinText);

// Exchanges with the chip over a link.
// The rate test: command 8F at the current rate, the answer awaited at the new one.
bool test_new_baud(LinkContext& link, const std::string& new_baud, std::uint8_t newBaud_H,
                   std::uint8_t newBaud_L);
// The switch: command 8E at 1200 baud, the answer awaited at the new rate.
bool set_new_baud(LinkContext& link, const std::string& new_baud, std::uint8_t newBaud_H,
                  std::uint8_t newBaud_L);
// The watchdog-pin command 86, when the link's choices ask for it; true when not asked.
bool send_extern_WDT_address(LinkContext& link);
// Current and alternate reload pairs for the two speed modes, from the current pair.
void derive_alternate_reload(ConnectionFacts& facts);

}  // namespace qmx
