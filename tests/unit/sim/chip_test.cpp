// The chip's answers to each command, checked at the byte level.
#include <gtest/gtest.h>

#include <cmath>

#include "chip.h"
#include "models.h"

using namespace qmxsim;

namespace {

ChipConfig configFor(const std::string& model, const std::string& firmware = "") {
    ChipConfig c;
    const ChipModel* m = findModel(model);
    EXPECT_NE(m, nullptr) << model;
    c.model = *m;
    c.firmware = typicalFirmware(m->family);
    if (!firmware.empty()) c.firmware = *parseFirmware(firmware, c.firmware.letter);
    c.options = erasedOptions(m->family);
    return c;
}

std::vector<ChipAction> feed(Chip& chip, const Bytes& bytes, double rate = 1200) {
    std::vector<ChipAction> all;
    for (auto b : bytes) {
        auto a = chip.receive(b, rate);
        all.insert(all.end(), a.begin(), a.end());
    }
    return all;
}

std::vector<ChipAction> answersOf(const std::vector<ChipAction>& actions) {
    std::vector<ChipAction> out;
    for (const auto& a : actions) {
        if (a.kind != ChipAction::Kind::note) out.push_back(a);
    }
    return out;
}

// Powers the chip on and syncs it at 1200 baud; returns the status frame.
Bytes sync(Chip& chip) {
    chip.powerOn();
    auto a = answersOf(feed(chip, {0x7F}));
    EXPECT_EQ(a.size(), 1u);
    return a.empty() ? Bytes{} : a[0].bytes;
}

// Strips the 46 B9 header and checks length, sum and end byte of an answer.
Bytes body(const Bytes& answer, bool header) {
    Bytes f = answer;
    if (header) {
        EXPECT_GE(f.size(), 2u);
        EXPECT_EQ(f[0], 0x46);
        EXPECT_EQ(f[1], 0xB9);
        f.erase(f.begin(), f.begin() + 2);
    }
    EXPECT_GE(f.size(), 5u);
    EXPECT_EQ(f[0], 0x68);
    const std::size_t L = static_cast<std::size_t>(f[1]) * 256 + f[2];
    EXPECT_EQ(L, f.size());
    EXPECT_EQ(f[L - 1], 0x16);
    EXPECT_EQ(sum8(f.data(), L - 2), f[L - 2]);
    return f;
}

double measuredClock(const Bytes& status) {
    long total = 0;
    for (int i = 0; i < 8; ++i)
        total += status[4 + 2 * i] * 256 + status[5 + 2 * i];
    return (std::nearbyint(total / 8.0) + 6) * 2061;
}

}  // namespace

TEST(SimChip, CatalogueRowsAndIdentification) {
    EXPECT_EQ(allModels().size(), 85u);
    const ChipModel* m = findModel("M-070");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->family, 2);
    EXPECT_EQ(m->id1, 0xF0);
    EXPECT_EQ(m->id2, 0x04);
    EXPECT_EQ(m->lastAddress(), 0x37FFu);
    EXPECT_FALSE(m->hasDataFlash());
    EXPECT_EQ(findModel("M-052")->lastAddress(), 0x2FFFu);
    EXPECT_EQ(findModel("M-052")->dataStart, 0x2800u);
    EXPECT_EQ(findModel("M-053")->id2, 0x3C);
    EXPECT_EQ(findModel("M-013")->id2, 0x15);
    EXPECT_EQ(findModel("M-067")->id1, 0x12);
    EXPECT_EQ(findModel("M-064")->id1, 0xFF);
    EXPECT_EQ(findModel("M-080")->id1, 0x56);
    EXPECT_EQ(findModel("M-999"), nullptr);
}

TEST(SimChip, FirmwareText) {
    auto fw = parseFirmware("3.6C", 'A');
    ASSERT_TRUE(fw);
    EXPECT_EQ(fw->version, 0x36);
    EXPECT_EQ(fw->letter, 'C');
    EXPECT_EQ(parseFirmware("2.4", 'B')->letter, 'B');
    EXPECT_EQ(parseFirmware("2.4d", 'B')->letter, 'D');
    EXPECT_FALSE(parseFirmware("36C", 'A'));
    EXPECT_FALSE(parseFirmware("3.6C1", 'A'));
    EXPECT_FALSE(parseFirmware("3.G", 'A'));
    EXPECT_FALSE(parseFirmware("3.61", 'A'));
}

TEST(SimChip, StatusFrameOfAFamilyTwoChip) {
    Chip chip(configFor("M-070", "3.6C"));
    const Bytes s = body(sync(chip), false);
    ASSERT_EQ(s.size(), 28u);  // with feature flags
    EXPECT_NEAR(measuredClock(s), 11059200, 11059200 * 0.001);
    EXPECT_EQ(s[20], 0x36);
    EXPECT_EQ(s[21], 'C');
    EXPECT_EQ(s[22], 0xFF);  // erased options
    EXPECT_EQ(s[23], 0xF0);
    EXPECT_EQ(s[24], 0x04);
    EXPECT_EQ(s[25] & 0x80, 0x80);  // later answers carry 46 B9
    EXPECT_EQ(s[25] & 0x03, 0);     // 1 KB boot loader above 3800
    EXPECT_NE(s[3], s[6]);          // never the download board's marker
    EXPECT_EQ(chip.power(), Power::bootloader);
    EXPECT_DOUBLE_EQ(chip.uartRate(), 1200);
    EXPECT_TRUE(chip.headerOnAnswers());
}

TEST(SimChip, StatusFrameLengthsFollowTheFirmware) {
    {
        Chip chip(configFor("M-067", "2.1A"));  // no flags below 2.6
        const Bytes s = body(sync(chip), false);
        EXPECT_EQ(s.size(), 27u);
        EXPECT_EQ(s[23], 0x12);
        EXPECT_FALSE(chip.headerOnAnswers());
    }
    {
        auto c = configFor("M-014");
        c.options = {0xFD, 0xF8, 0xFE, 0x97, 0xB2};
        Chip chip(c);
        const Bytes s = body(sync(chip), false);
        ASSERT_EQ(s.size(), 33u);  // five option bytes at 26..30
        EXPECT_EQ(s[21], 'E');
        EXPECT_EQ(Bytes(s.begin() + 26, s.begin() + 31), (Bytes{0xFD, 0xF8, 0xFE, 0x97, 0xB2}));
        EXPECT_EQ(s[23], 0xF3);
        EXPECT_EQ(s[24], 0x01);
    }
    {
        auto c = configFor("M-070");
        c.shortStatus = true;
        Chip chip(c);
        const Bytes s = body(sync(chip), false);
        EXPECT_EQ(s.size(), 24u);
        EXPECT_FALSE(chip.headerOnAnswers());
    }
    {
        auto c = configFor("M-070", "2.6C");
        c.flags = 0x01;  // no header, 1536-byte boot loader
        Chip chip(c);
        const Bytes s = body(sync(chip), false);
        EXPECT_EQ(s[25], 0x01);
        EXPECT_FALSE(chip.headerOnAnswers());
    }
}

TEST(SimChip, ClockIsMeasurableAtOtherClocksAndInSixClockMode) {
    for (double hz : {4000000.0, 12000000.0, 24000000.0, 33177600.0}) {
        auto c = configFor("M-070");
        c.clockHz = hz;
        Chip chip(c);
        EXPECT_NEAR(measuredClock(body(sync(chip), false)), hz, hz * 0.002) << hz;
    }
    auto c = configFor("M-070");
    c.options[0] = 0xFE;  // bit 0 clear: 6-clock mode, the timer counts twice as fast
    Chip chip(c);
    EXPECT_NEAR(measuredClock(body(sync(chip), false)), 2 * 11059200, 2 * 11059200 * 0.002);
}

TEST(SimChip, NothingHappensWhileOffOrBeforeSync) {
    Chip chip(configFor("M-070"));
    EXPECT_TRUE(feed(chip, {0x7F, 0x7F}).empty());  // off
    chip.powerOn();
    EXPECT_TRUE(feed(chip, buildCommand(0x50, {})).empty());  // listening: only sync counts
    EXPECT_EQ(chip.power(), Power::listening);
    EXPECT_EQ(answersOf(feed(chip, {0x7F})).size(), 1u);
    // Further sync bytes are noise to the boot loader.
    EXPECT_TRUE(answersOf(feed(chip, {0x7F, 0x7F, 0x7F})).empty());
}

TEST(SimChip, StatusRequestAnswer) {
    auto c = configFor("M-070", "3.6C");
    c.options[0] = 0xD5;
    Chip chip(c);
    sync(chip);
    auto a = answersOf(feed(chip, buildCommand(0x50, {})));
    ASSERT_EQ(a.size(), 1u);
    const Bytes s = body(a[0].bytes, true);
    EXPECT_EQ(s[11], 0x36);
    EXPECT_EQ(s[12], 'C');
    EXPECT_EQ(s[13], 0xD5);

    auto c4 = configFor("M-040");
    c4.options = {1, 2, 3, 4, 5};
    Chip chip4(c4);
    sync(chip4);
    a = answersOf(feed(chip4, buildCommand(0x50, {})));
    ASSERT_EQ(a.size(), 1u);
    const Bytes s4 = body(a[0].bytes, true);
    EXPECT_EQ(Bytes(s4.begin() + 13, s4.begin() + 18), (Bytes{1, 2, 3, 4, 5}));
}

TEST(SimChip, ShortCommandsAndWatchdogPinAreAcknowledged) {
    Chip chip(configFor("M-067"));
    sync(chip);
    for (std::uint8_t code : {0x80, 0x81, 0x82, 0x95}) {
        auto a = answersOf(feed(chip, buildCommand(code, {})));
        ASSERT_EQ(a.size(), 1u);
        EXPECT_EQ(a[0].bytes, (Bytes{0x68, 0x00, 0x06, 0x80, 0xEE, 0x16}));  // no header: 2.1A
    }
    auto a = answersOf(feed(chip, buildCommand(0x86, {0x01})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(chip.watchdogPin(), 0x01);
    // An unknown command draws no answer.
    EXPECT_TRUE(answersOf(feed(chip, buildCommand(0x83, {}))).empty());
}

TEST(SimChip, BaudTestAnswersAtTheNewRateAndGoesBack) {
    Chip chip(configFor("M-070"));
    sync(chip);
    auto a = answersOf(feed(chip, buildCommand(0x8F, {0xFF, 0xFD, 0x00, 6, 40, 0x80})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_DOUBLE_EQ(a[0].sendRate, 115200);
    EXPECT_TRUE(a[0].awaitHostRate);
    EXPECT_DOUBLE_EQ(a[0].restoreRate, 1200);
    EXPECT_EQ(a[0].settleMs, 40);
    body(a[0].bytes, true);

    // Switch: the rate stays.
    chip.setUartRate(a[0].restoreRate);
    a = answersOf(feed(chip, buildCommand(0x8E, {0xFF, 0xFD, 0x00, 6, 23})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_DOUBLE_EQ(a[0].restoreRate, 0);
    EXPECT_DOUBLE_EQ(chip.uartRate(), 115200);

    // A wrong complement byte is not taken.
    EXPECT_TRUE(
        answersOf(feed(chip, buildCommand(0x8E, {0xFF, 0xFD, 0x01, 6, 23}), 115200)).empty());
}

TEST(SimChip, BaudSwitchOfFamilyFourUsesTheGeneratorByte) {
    auto c = configFor("M-014");
    c.clockHz = 22118400;
    Chip chip(c);
    sync(chip);
    // Generator E (C0), count 12: 22118400 / 16 / 12 = 115200.
    auto a = answersOf(feed(chip, buildCommand(0x8E, {0xC0, 256 - 12, 0x3F, 24, 23})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_DOUBLE_EQ(a[0].sendRate, 115200);
}

TEST(SimChip, EraseAndBlockWritesAnswerWithTheDataSum) {
    Chip chip(configFor("M-067"));
    std::fill(chip.flash().begin(), chip.flash().end(), 0x00);
    sync(chip);
    auto a = answersOf(feed(chip, buildCommand(0x84, {255})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].workMs, 255);
    EXPECT_EQ(std::count(chip.flash().begin(), chip.flash().end(), 0xFF),
              static_cast<long>(chip.flash().size()));

    Bytes payload{0x00, 0x00, 0x1F, 0x80, 0x00, 0x80};
    unsigned sum = 0;
    for (int i = 0; i < 128; ++i) {
        payload.push_back(static_cast<std::uint8_t>(i * 3 + 1));
        sum += static_cast<std::uint8_t>(i * 3 + 1);
    }
    for (std::uint8_t cmd : {0x00, 0x30}) {
        a = answersOf(feed(chip, buildCommand(cmd, payload)));
        ASSERT_EQ(a.size(), 1u);
        const Bytes ans = body(a[0].bytes, false);
        ASSERT_EQ(ans.size(), 7u);
        EXPECT_EQ(ans[3], 0x80);
        EXPECT_EQ(ans[4], sum & 0xFF);
    }
    EXPECT_EQ(chip.flash()[0x1F80], 1);
    EXPECT_EQ(chip.flash()[0x1FFF], static_cast<std::uint8_t>(127 * 3 + 1));

    // Bytes beyond the last address are dropped, the sum still covers what was sent.
    Bytes over{0x00, 0x00, 0x1F, 0xFF, 0x00, 0x02, 0xAA, 0xBB};
    a = answersOf(feed(chip, buildCommand(0x00, over)));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(body(a[0].bytes, false)[4], static_cast<std::uint8_t>(0xAA + 0xBB));
    EXPECT_EQ(chip.flash().size(), 0x2000u);

    // A count that disagrees with the frame length is not taken.
    Bytes bad{0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 1, 2};
    EXPECT_TRUE(answersOf(feed(chip, buildCommand(0x00, bad))).empty());
}

TEST(SimChip, WritesWhereTheChipHasNoFlashAreLost) {
    Chip chip(configFor("M-002"));  // program 0..01FF, data 1000..13FF
    sync(chip);
    feed(chip, buildCommand(0x00, {0, 0, 0x01, 0xFF, 0, 2, 0x11, 0x22}));
    feed(chip, buildCommand(0x00, {0, 0, 0x10, 0x00, 0, 1, 0x33}));
    EXPECT_EQ(chip.flash()[0x1FF], 0x11);
    EXPECT_EQ(chip.flash()[0x200], 0xFF);
    EXPECT_EQ(chip.flash()[0x1000], 0x33);
}

TEST(SimChip, EraseKeepsTheDataFlashUnlessTheOptionsSayOtherwise) {
    auto c = configFor("M-066");  // program 0..0FFF, data 1000..37FF
    Chip keep(c);
    std::fill(keep.flash().begin(), keep.flash().end(), 0x00);
    sync(keep);
    feed(keep, buildCommand(0x84, {26}));
    EXPECT_EQ(keep.flash()[0x0FFF], 0xFF);
    EXPECT_EQ(keep.flash()[0x1000], 0x00);

    c.options[0] = 0xF7;  // bit 3 clear: erase the data flash with the program
    Chip wipe(c);
    std::fill(wipe.flash().begin(), wipe.flash().end(), 0x00);
    sync(wipe);
    feed(wipe, buildCommand(0x84, {26}));
    EXPECT_EQ(wipe.flash()[0x1000], 0xFF);
    EXPECT_EQ(wipe.flash()[26 * 512 - 1], 0xFF);
    EXPECT_EQ(wipe.flash()[26 * 512], 0x00);  // beyond the pages asked for
}

TEST(SimChip, FamilyZeroOptionKeepsSixClockOnceSet) {
    Chip chip(configFor("M-067"));
    sync(chip);
    auto a = answersOf(feed(chip, buildCommand(0x8D, {0x28})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(chip.options()[0], 0x28);
    EXPECT_FALSE(chip.doubleSpeed());  // only from the next power-on
    feed(chip, buildCommand(0x8D, {0x20}));
    EXPECT_EQ(chip.options()[0], 0x28);
    chip.powerOff();
    chip.powerOn();
    EXPECT_TRUE(chip.doubleSpeed());
}

TEST(SimChip, FamilyTwoOptionSwitchesTheClockModeAndKeepsTheLineRate) {
    Chip chip(configFor("M-070"));
    sync(chip);
    feed(chip, buildCommand(0x8E, {0xFF, 0xFD, 0x00, 6, 23}));
    ASSERT_DOUBLE_EQ(chip.uartRate(), 115200);
    // 6-clock mode wanted: option bit 0 clear, the alternate reload (count 6) keeps 115200.
    auto a = answersOf(feed(chip, buildCommand(0x8D, {0xFC, 0xFF, 0xFA}), 115200));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_TRUE(chip.doubleSpeed());
    EXPECT_DOUBLE_EQ(chip.uartRate(), 115200);
    EXPECT_DOUBLE_EQ(a[0].sendRate, 115200);
    EXPECT_EQ(chip.options()[0], 0xFC);
    // A family-0 form sent to this chip is not taken.
    EXPECT_TRUE(answersOf(feed(chip, buildCommand(0x8D, {0x40}), 115200)).empty());
}

TEST(SimChip, FamilyThreeOptionsWithClockAndBusyAnswers) {
    auto c = configFor("M-002");
    c.optionBusy = 2;
    Chip chip(c);
    sync(chip);
    const Bytes opt = buildCommand(0x8D, {0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xA8, 0xC0, 0x00});
    for (int i = 0; i < 2; ++i) {
        auto a = answersOf(feed(chip, opt));
        ASSERT_EQ(a.size(), 1u);
        EXPECT_EQ(body(a[0].bytes, true)[3], 0x81);
        EXPECT_EQ(chip.options()[0], 0xFF);  // not written while busy
    }
    auto a = answersOf(feed(chip, opt));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(body(a[0].bytes, true)[3], 0x80);
    EXPECT_EQ(chip.options()[0], 0xFD);
    EXPECT_EQ(chip.clockField(), 11059200u);
}

TEST(SimChip, RunLeavesTheBootLoader) {
    Chip chip(configFor("M-070"));
    sync(chip);
    auto a = answersOf(feed(chip, buildCommand(0x52, {0x02, 0x00})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].kind, ChipAction::Kind::run);
    EXPECT_EQ(chip.power(), Power::running);
    EXPECT_TRUE(feed(chip, buildCommand(0x50, {})).empty());
    EXPECT_TRUE(feed(chip, {0x7F}).empty());  // the user program does not sync
}

TEST(SimChip, RejectedFramesAreNotedNotAnswered) {
    Chip chip(configFor("M-070"));
    sync(chip);
    Bytes bad = buildCommand(0x50, {});
    bad[6] ^= 0xFF;
    const auto actions = feed(chip, bad);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, ChipAction::Kind::note);
    EXPECT_NE(actions[0].note.find("bad sum"), std::string::npos);
}
