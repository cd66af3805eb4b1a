// The simulated monitor: its report frames as the host reads them, and how P, R, T and the
// breakpoint drive a report cycle.
#include <gtest/gtest.h>

#include "monitor.h"

namespace qmxsim {
namespace {

Bytes command(char letter, std::uint8_t trailer) {
    return {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xAA, static_cast<std::uint8_t>(letter), trailer};
}

Bytes feed(MonitorChip& chip, const Bytes& bytes, double now) {
    Bytes out;
    for (std::uint8_t b : bytes) {
        const Bytes sent = chip.receive(b, now);
        out.insert(out.end(), sent.begin(), sent.end());
    }
    return out;
}

TEST(SimMonitor, ReportFramesCarryTheirLengthTypeAndSum) {
    Cpu8051 cpu;
    cpu.run();
    const std::size_t lengths[4] = {145, 271, 1041, 529};
    for (int type = 0; type < 4; ++type) {
        const Bytes f = reportFrame(cpu, type, 0x1000);
        ASSERT_EQ(f.size(), lengths[type] + 2) << type;
        EXPECT_EQ(f[0], 0xA5);
        EXPECT_EQ(f[1], 0x5A);
        EXPECT_EQ(f[2], 0xAA);
        EXPECT_EQ(static_cast<std::size_t>(f[3] * 256 + f[4]), lengths[type]);
        EXPECT_EQ(f[5], type);
        EXPECT_EQ(sum8(f.data() + 2, f.size() - 3), f.back());
    }
    const Bytes sfr = reportFrame(cpu, 0, 0);
    EXPECT_EQ(sfr[2 + 6], 0x80);
    EXPECT_EQ(sfr[2 + 8], cpu.sfr[0xE0]);          // ACC in the header
    EXPECT_EQ(sfr[2 + 16 + (0x81 - 0x80)], 0x07);  // SP in the run
    const Bytes window = reportFrame(cpu, 3, 0x1000);
    EXPECT_EQ(window[2 + 5], 0x10);
    EXPECT_EQ(window[2 + 16], cpu.xdata[0x1000]);
}

TEST(SimMonitor, ACycleFollowsTheHostsAnswersAndPausesAtTheBreakpoint) {
    MonitorConfig config;
    config.reportPeriodMs = 100;
    config.breakpointAfter = 1;
    MonitorChip chip(config);
    EXPECT_TRUE(chip.tick(0).empty());  // the program runs first
    Bytes f = chip.tick(0.2);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f[5], 0);
    // R sends the same frame; a command with a wrong trailer is ignored.
    EXPECT_EQ(feed(chip, command('R', 0xFC), 0.21), f);
    EXPECT_TRUE(feed(chip, command('P', 0xFC), 0.22).empty());
    for (int type = 1; type < 4; ++type) {
        f = feed(chip, command('P', 0xFA), 0.3);
        ASSERT_FALSE(f.empty());
        EXPECT_EQ(f[5], type);
    }
    // Nobody answers: the frame goes again after a second.
    EXPECT_TRUE(chip.tick(0.5).empty());
    EXPECT_EQ(chip.tick(1.4), f);
    EXPECT_TRUE(feed(chip, command('P', 0xFA), 1.5).empty());
    EXPECT_EQ(chip.phase(), MonitorChip::Phase::paused);
    EXPECT_TRUE(chip.tick(5.0).empty());
    feed(chip, command('T', 0xFE), 5.0);
    EXPECT_EQ(chip.phase(), MonitorChip::Phase::running);
    f = chip.tick(5.2);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f[2 + 8], 2);  // ACC counts the cycles
}

}  // namespace
}  // namespace qmxsim
