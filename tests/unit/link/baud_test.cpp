// The baud search: candidate choice per family, reload bytes, the test and switch payloads,
// the watchdog-pin byte and the alternate reload.
#include <gtest/gtest.h>

#include "core/isp_core.h"
#include "link/baud.h"

namespace qmx {
namespace {

struct Pick {
    int count = -1;
    int maxNo = 100;
    long baud = -7;
    float err = -7;
    int extra = -7;
};

Pick pick(long hz, int family, long limit, int maxNo = 100) {
    Pick p;
    p.maxNo = maxNo;
    p.count = calculate_baud(hz, p.maxNo, p.baud, p.err, p.extra, family, limit);
    return p;
}

TEST(CalculateBaud, ExactCrystalReaches115200WithReloadFFFD) {
    Pick p = pick(11059200, 1, 115200);
    EXPECT_EQ(p.count, 3);
    EXPECT_EQ(p.baud, 115200);
    EXPECT_EQ(p.maxNo, 11);
    EXPECT_NEAR(p.err, 0.0, 1e-4);
    EXPECT_EQ(p.extra, -7);  // untouched outside families 3 and 4
    std::uint8_t h = 0, l = 0;
    reloadBytes(p.count, 1, p.extra, h, l);
    EXPECT_EQ(h, 0xFF);
    EXPECT_EQ(l, 0xFD);
}

TEST(CalculateBaud, TwelveMegahertzFallsTo38400) {
    // 115200: +8.5 %, 57600: -7.0 %, both outside the window; 38400: -2.3 %.
    EXPECT_NEAR(baudFigures(BaudGenerator::A, 12e6, 115200).errorPercent, 8.5, 0.05);
    EXPECT_NEAR(baudFigures(BaudGenerator::A, 12e6, 57600).errorPercent, -7.0, 0.05);
    Pick p = pick(12000000, 1, 115200);
    EXPECT_EQ(p.baud, 38400);
    EXPECT_EQ(p.count, 10);
    EXPECT_EQ(p.maxNo, 9);
    EXPECT_NEAR(p.err, -2.34, 0.01);
}

TEST(CalculateBaud, UserLimitCapsTheRate) {
    Pick p = pick(11059200, 2, 9600);
    EXPECT_EQ(p.baud, 9600);
    EXPECT_EQ(p.count, 36);
    EXPECT_EQ(p.maxNo, 3);
}

TEST(CalculateBaud, ErrorWindowIsAsymmetric) {
    // Clocks 96 × 115200 × (1 + e): count 3 at 115200 with error e.
    auto clock = [](double e) { return static_cast<long>(115200.0 * 96.0 * (1.0 + e) + 0.5); };
    EXPECT_EQ(pick(clock(+0.035), 0, 115200).baud, 115200);  // +3.5 % < 4 %
    EXPECT_NE(pick(clock(-0.035), 0, 115200).baud, 115200);  // -3.5 % < -3.2 %
    EXPECT_EQ(pick(clock(-0.031), 0, 115200).baud, 115200);  // -3.1 % passes in family 0
    EXPECT_NE(pick(clock(-0.031), 3, 115200).baud, 115200);  // but not in family 3 (-3.0 %)
}

TEST(CalculateBaud, NothingToChooseLeavesTheOutputsAlone) {
    Pick zero = pick(11059200, 1, 115200, 0);
    EXPECT_EQ(zero.count, -1);
    EXPECT_EQ(zero.baud, -7);
    Pick slow = pick(1000, 1, 115200);
    EXPECT_EQ(slow.count, -1);
    EXPECT_EQ(slow.baud, -7);
    EXPECT_EQ(slow.maxNo, 11);  // only the lowering to 11
    EXPECT_EQ(pick(0, 1, 115200).count, -1);
}

TEST(CalculateBaud, FamiliesThreeAndFourPreferGeneratorE) {
    Pick p = pick(11059200, 3, 115200);
    EXPECT_EQ(p.baud, 115200);
    EXPECT_EQ(p.count, 6);
    EXPECT_EQ(p.extra, 192);
    std::uint8_t h = 0, l = 0;
    reloadBytes(p.count, 3, p.extra, h, l);
    EXPECT_EQ(h, 0xC0);
    EXPECT_EQ(l, 0xFA);
    // D would also be exact at 57600 (count 6), E still wins (count 12).
    Pick q = pick(11059200, 4, 57600);
    EXPECT_EQ(q.count, 12);
    EXPECT_EQ(q.extra, 192);
}

TEST(CalculateBaud, FamiliesThreeAndFourNeverTakeACountAbove255) {
    // At 1200 baud E needs 576 and D 288; C gives 48 exactly.
    Pick p = pick(11059200, 3, 1200);
    EXPECT_EQ(p.baud, 1200);
    EXPECT_EQ(p.extra, 128);
    EXPECT_EQ(p.count, 48);
    EXPECT_LT(p.count, 256);
    // 33 MHz: E at 115200 is 18 with -0.54 %.
    Pick fast = pick(33000000, 4, 115200);
    EXPECT_EQ(fast.baud, 115200);
    EXPECT_EQ(fast.count, 18);
}

TEST(BaudPayloads, TestAndSwitchDiffer) {
    auto t = testBaudPayload(115200, 0xFF, 0xFD, 11059200, 1);
    EXPECT_EQ(t, (std::array<std::uint8_t, 6>{0xFF, 0xFD, 0x00, 0x06, 40, 0x82}));
    auto s = setBaudPayload(115200, 0xFF, 0xFD, 11059200);
    EXPECT_EQ(s, (std::array<std::uint8_t, 5>{0xFF, 0xFD, 0x00, 0x06, 23}));
    // X caps: 254 for the test, 255 for the switch.
    EXPECT_EQ(testBaudPayload(1200, 0xFF, 0x00, 11059200, 1)[3], 254);
    EXPECT_EQ(setBaudPayload(1200, 0xFF, 0x00, 11059200)[3], 255);
    // Y doubles above 68 MHz.
    EXPECT_EQ(testBaudPayload(115200, 0xC0, 0xEE, 70e6, 3)[4], 80);
    EXPECT_EQ(setBaudPayload(115200, 0xC0, 0xEE, 70e6)[4], 46);
    EXPECT_EQ(setBaudPayload(2400, 0xFF, 0x00, 11059200)[4], 35);
}

TEST(BaudPayloads, ClockRangeCodes) {
    EXPECT_EQ(clockRangeCode(1, 4.4e6), 0x83);
    EXPECT_EQ(clockRangeCode(1, 14.4e6), 0x82);
    EXPECT_EQ(clockRangeCode(1, 29.4e6), 0x81);
    EXPECT_EQ(clockRangeCode(1, 30e6), 0x80);
    EXPECT_EQ(clockRangeCode(2, 5e6), 0x83);
    EXPECT_EQ(clockRangeCode(2, 10e6), 0x82);
    EXPECT_EQ(clockRangeCode(2, 19e6), 0x81);
    EXPECT_EQ(clockRangeCode(2, 20e6), 0x80);
    EXPECT_EQ(clockRangeCode(3, 1e6), 0x87);
    EXPECT_EQ(clockRangeCode(4, 6e6), 0x84);
    EXPECT_EQ(clockRangeCode(4, 12e6), 0x83);
    EXPECT_EQ(clockRangeCode(3, 24e6), 0x81);
    EXPECT_EQ(clockRangeCode(3, 25e6), 0x80);
    EXPECT_EQ(clockRangeCode(0, 1e6), 0x80);
}

TEST(WatchdogPin, FourCharacterPinNamesOnly) {
    EXPECT_EQ(watchdogPinByte("P1.0"), 0x01);
    EXPECT_EQ(watchdogPinByte("P3.7"), 0x73);
    EXPECT_EQ(watchdogPinByte("P1."), 0xFF);
    EXPECT_EQ(watchdogPinByte("P1.10"), 0xFF);
    EXPECT_EQ(watchdogPinByte(""), 0xFF);
}

TEST(AlternateReload, SingleSpeedDerivesTheDoubleSpeedPair) {
    IspCore core;
    core.facts.newBaud_H = 0xFF;
    core.facts.newBaud_L = 0xFD;
    core.facts.double_speed = false;
    derive_alternate_reload(core.facts);
    EXPECT_EQ(core.facts.newBaud_H, 0xFF);
    EXPECT_EQ(core.facts.newBaud_L, 0xFD);
    EXPECT_EQ(core.facts.altBaud_H, 0xFF);
    EXPECT_EQ(core.facts.altBaud_L, 0xFA);
}

TEST(AlternateReload, DoubleSpeedHalvesTheCountToEven) {
    IspCore core;
    core.facts.double_speed = true;
    core.facts.newBaud_H = 0xFF;
    core.facts.newBaud_L = 0xFB;  // count 5 → 2.5 → 2
    derive_alternate_reload(core.facts);
    EXPECT_EQ(core.facts.altBaud_L, 0xFB);
    EXPECT_EQ(core.facts.newBaud_H, 0xFF);
    EXPECT_EQ(core.facts.newBaud_L, 0xFE);
}

}  // namespace
}  // namespace qmx
