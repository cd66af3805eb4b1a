// Reload values to baud rates, the tolerance between two UARTs and the garbling of mismatches.
#include <gtest/gtest.h>

#include "uart.h"

using namespace qmxsim;

TEST(SimUart, GeneratorOfTheOlderFamilies) {
    // 11.0592 MHz, count 3 (reload FFFD): exactly 115200.
    EXPECT_DOUBLE_EQ(reloadRate(1, 11059200, 0xFF, 0xFD), 115200);
    // 12 MHz, count 10: 37500 (-2.3 % from 38400).
    EXPECT_DOUBLE_EQ(reloadRate(2, 12000000, 0xFF, 0xF6), 37500);
    // A full 16-bit count.
    EXPECT_NEAR(reloadRate(0, 11059200, 0x00, 0x00), 11059200 / 32.0 / 65536, 1e-9);
    // Reload FFFF: a count of one.
    EXPECT_EQ(reloadRate(0, 11059200, 0xFF, 0xFF), 11059200 / 32.0);
}

TEST(SimUart, GeneratorsOfFamiliesThreeAndFour) {
    const double f = 22118400;
    EXPECT_DOUBLE_EQ(reloadRate(3, f, 0xC0, 256 - 12), f / 16 / 12);     // E
    EXPECT_DOUBLE_EQ(reloadRate(3, f, 0x40, 256 - 6), f / 32 / 6);       // D
    EXPECT_DOUBLE_EQ(reloadRate(4, f, 0x80, 256 - 1), f / 32 / 6);       // C
    EXPECT_DOUBLE_EQ(reloadRate(4, f, 0x00, 256 - 2), f / 32 / 12 / 2);  // B
    EXPECT_DOUBLE_EQ(reloadRate(4, f, 0x00, 0x00), f / 32 / 12 / 256);
    EXPECT_EQ(reloadRate(3, f, 0x12, 0xF0), 0);  // no such generator
    EXPECT_EQ(reloadRate(3, 0, 0xC0, 0xF0), 0);
}

TEST(SimUart, RatesWithinAFewPerCentMatch) {
    EXPECT_TRUE(ratesMatch(115200, 115200));
    EXPECT_TRUE(ratesMatch(38400, 37500));       // -2.3 %
    EXPECT_TRUE(ratesMatch(9600, 9600 * 1.04));  // the host's upper bound
    EXPECT_FALSE(ratesMatch(115200, 125000));    // +8.5 %
    EXPECT_FALSE(ratesMatch(57600, 53571));      // -7.0 %
    EXPECT_FALSE(ratesMatch(1200, 2400));
    EXPECT_FALSE(ratesMatch(0, 0));
}

TEST(SimUart, GarbledBytesDifferAndRepeat) {
    for (int b = 0; b < 256; ++b) {
        const auto v = static_cast<std::uint8_t>(b);
        EXPECT_NE(garbled(v, 115200, 1200), v);
        EXPECT_EQ(garbled(v, 115200, 1200), garbled(v, 115200, 1200));
    }
}

TEST(SimUart, ByteTimeIsTenBits) {
    EXPECT_DOUBLE_EQ(byteTime(1200), 10.0 / 1200);
    EXPECT_DOUBLE_EQ(byteTime(0), 0);
}
