// Pure parts of the handshake: identification, clock from the timing counts, the offline-board
// marker and the connection hints.
#include <gtest/gtest.h>

#include <array>

#include "link/handshake.h"

namespace qmx {
namespace {

TEST(Identify, FirstByteAloneOrWithTheSecondForF0ToF3) {
    EXPECT_EQ(identifyModel(0x1A, 0x77), "M-063");
    EXPECT_EQ(identifyModel(0x56, 0x00), "M-081");
    EXPECT_EQ(identifyModel(0xF0, 0x02), "M-057");
    EXPECT_EQ(identifyModel(0xF1, 0x10), "M-055");
    EXPECT_EQ(identifyModel(0xF2, 0x00), "M-002");
    EXPECT_EQ(identifyModel(0xF2, 0x35), "M-039");
    EXPECT_EQ(identifyModel(0xF3, 0x01), "M-014");
    EXPECT_EQ(identifyModel(0xF3, 0x3C), "M-053");
    EXPECT_EQ(identifyModel(0xF2, 0x16), "");
    EXPECT_EQ(identifyModel(0xFF, 0x00), "");
}

std::array<std::uint8_t, 32> countsOf(std::initializer_list<int> counts) {
    std::array<std::uint8_t, 32> rx{};
    int i = 4;
    for (int c : counts) {
        rx[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(c >> 8);
        rx[static_cast<std::size_t>(i + 1)] = static_cast<std::uint8_t>(c & 0xFF);
        i += 2;
    }
    return rx;
}

TEST(Clock, AverageOfEightCountsRoundsHalvesToEven) {
    // Sum 12: average 1.5 → 2; sum 20: 2.5 → 2; both give (2 + 6) × 2061.
    EXPECT_FLOAT_EQ(clockFromStatusAnswer(countsOf({1, 1, 1, 1, 2, 2, 2, 2}).data()), 16488.f);
    EXPECT_FLOAT_EQ(clockFromStatusAnswer(countsOf({2, 2, 2, 2, 3, 3, 3, 3}).data()), 16488.f);
    // Sum 28: 3.5 → 4.
    EXPECT_FLOAT_EQ(clockFromStatusAnswer(countsOf({3, 3, 3, 3, 4, 4, 4, 4}).data()), 20610.f);
    // Big counts span both bytes.
    auto big = countsOf({5360, 5360, 5360, 5360, 5360, 5360, 5360, 5360});
    EXPECT_FLOAT_EQ(clockFromStatusAnswer(big.data()), (5360.f + 6.f) * 2061.f);
}

TEST(OfflineBoard, MarkerNeedsBytes3And6EqualTo20And7To21) {
    std::array<std::uint8_t, 32> rx{};
    rx[3] = 0x20;
    rx[6] = 0x20;
    rx[7] = 0x21;
    EXPECT_TRUE(isOfflineBoardAnswer(rx.data()));
    rx[3] = 0x21;
    EXPECT_FALSE(isOfflineBoardAnswer(rx.data()));
    rx[3] = 0x20;
    rx[7] = 0x20;
    EXPECT_FALSE(isOfflineBoardAnswer(rx.data()));
}

TEST(Hints, TwoWordings) {
    auto plain = connectionHintLines(false);
    ASSERT_EQ(plain.size(), 15u);
    EXPECT_EQ(plain.front(), "Connection is failure. You can try:");
    EXPECT_EQ(plain[7], "Chinese:连接失败，请尝试以下操作：");
    EXPECT_EQ(plain.back(), " 仍在连接中, 请给 MCU 上电...");
    auto demo = connectionHintLines(true);
    ASSERT_EQ(demo.size(), 8u);
    EXPECT_EQ(demo.front(), "连接失败，请尝试以下操作：");
    EXPECT_EQ(demo[3], " 3.因 PLCC、PQFP 转换座引线过长而引起时钟振荡不对，请调整参数。");
}

TEST(FailureLine, CarriesTheWallClock) {
    std::string l = timedFailureLine();
    ASSERT_EQ(l.rfind("Handshake is failed. / 握手失败 (End: ", 0), 0u);
    EXPECT_EQ(l.back(), ')');
    EXPECT_EQ(wallClockText().size(), 8u);
}

}  // namespace
}  // namespace qmx
