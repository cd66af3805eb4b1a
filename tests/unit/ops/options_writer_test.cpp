// The option forms of each family: frames on the wire, the tests that skip the write, the
// 81 answer that asks for one more attempt, and the reports.
#include <gtest/gtest.h>

#include "catalogue/model_catalogue.h"
#include "core/isp_core.h"
#include "fake_chip.h"
#include "ops/options_writer.h"
#include "support/recording_ui.h"

namespace qmx {
namespace {

using test::FakeChip;
using test::RecordingUi;

struct Rig {
    RecordingUi ui;
    IspCore core{&ui};
    FakeChip chip{core};
    explicit Rig(const char* model, std::string version, std::string suffix) {
        core.model = findModel(model);
        EXPECT_NE(core.model, nullptr);
        resetOptionPage(core.options, core.model->family);
        core.facts.firmware_version = std::move(version);
        core.facts.firmware_suffix = std::move(suffix);
        core.facts.clock_hz = 11059200;
    }
    std::size_t optionCommands() const {
        std::size_t n = 0;
        for (const auto& c : chip.commands)
            n += c.size() > 3 && c[3] == 0x8D;
        return n;
    }
};

std::uint8_t frameSum(const std::vector<std::uint8_t>& body) {
    std::uint8_t s = 0;
    for (auto b : body)
        s = static_cast<std::uint8_t>(s + b);
    return s;
}

TEST(OptionFrames, FamilyZeroM067SixClock) {
    Rig r("M-067", "", "A");
    r.core.options.row0 = 0;  // 6T
    EXPECT_EQ(family0_option_byte(r.core), 0x28);
    ASSERT_TRUE(write_options(r.core, r.chip).ok());
    ASSERT_EQ(r.chip.commands.size(), 1u);
    const auto& body = r.chip.commands[0];
    EXPECT_EQ(body, (std::vector<std::uint8_t>{0x6A, 0x00, 0x07, 0x8D, 0x28}));
    EXPECT_EQ(frameSum(body), 0x26);  // 46 B9 6A 00 07 8D 28 26 16
    EXPECT_TRUE(r.ui.saw("Lock Chip, set 6 Clock OK/双倍速成功 (End: "));
}

TEST(OptionFrames, FamilyZeroUnansweredReportsTwoLines) {
    Rig r("M-064", "", "A");
    r.chip.optionCodes = {0, 0, 0};
    EXPECT_FALSE(write_options(r.core, r.chip).ok());
    EXPECT_EQ(r.optionCommands(), 3u);
    ASSERT_GE(r.ui.lines.size(), 2u);
    EXPECT_EQ(r.ui.lines[r.ui.lines.size() - 2], "Config option are error!");
    EXPECT_EQ(r.ui.lines.back(), "设置选项失败。");
    EXPECT_EQ(family0_option_byte(Rig("M-079", "3.6", "C").core), 255);
}

TEST(OptionFrames, FamilyTwoSkipsWhenTheChipHoldsTheOptions) {
    EXPECT_TRUE(family2OptionsUnchanged(0xDD, 0xFF));   // bit 1 clear, 0xDD|0x22 = 0xFF
    EXPECT_FALSE(family2OptionsUnchanged(0xFF, 0xFF));  // bit 1 set: always written
    EXPECT_FALSE(family2OptionsUnchanged(0xDD, 0xFE));

    Rig skip("M-079", "3.6", "C");
    skip.core.facts.option_byte = 0xDD;
    ASSERT_TRUE(write_options(skip.core, skip.chip).ok());
    EXPECT_EQ(skip.optionCommands(), 0u);
    EXPECT_EQ(skip.chip.rawWrites.size(), 1u);  // the run command instead
}

TEST(OptionFrames, FamilyTwoSendsReloadAndConfirms) {
    Rig r("M-079", "3.6", "C");
    r.core.facts.option_byte = 0xFF;
    r.core.facts.newBaud_H = 0xFF;
    r.core.facts.newBaud_L = 0xFA;
    r.core.facts.altBaud_H = 0xFF;
    r.core.facts.altBaud_L = 0xF4;
    r.core.options.row0 = 0;  // 6T: the alternate reload
    r.chip.statusBody.assign(15, 0);
    r.chip.statusBody[10] = 0xFC;  // answer byte 13 = the option byte sent (FE & ~2)
    ASSERT_TRUE(write_options(r.core, r.chip).ok());
    ASSERT_EQ(r.optionCommands(), 1u);
    EXPECT_EQ(r.chip.commands[0],
              (std::vector<std::uint8_t>{0x6A, 0x00, 0x09, 0x8D, 0xFC, 0xFF, 0xF4}));
    EXPECT_TRUE(r.ui.saw("Config option OK. / 设置选项成功。"));
}

TEST(OptionFrames, FamilyTwoWithoutStatusAnswerFailsAfterThreeRounds) {
    Rig r("M-079", "3.6", "C");
    r.core.facts.option_byte = 0xFF;
    r.chip.statusAnswers = false;
    EXPECT_FALSE(write_options(r.core, r.chip).ok());
    EXPECT_EQ(r.optionCommands(), 3u);
    EXPECT_EQ(r.ui.lines.back(), "Config option are error! / 设置选项失败。");
}

TEST(OptionFrames, FamilyThreeClockField) {
    EXPECT_EQ(family34ClockField(0xFF, 11059200),
              (std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(family34ClockField(0xFD, 11059200),
              (std::array<std::uint8_t, 4>{0x00, 0xA8, 0xC0, 0x00}));
    const std::array<std::uint8_t, 5> cur{0xFF, 1, 2, 3, 4}, same{0xFF, 1, 2, 3, 4};
    const std::array<std::uint8_t, 5> internal{0xFD, 1, 2, 3, 4};
    EXPECT_TRUE(family34OptionsUnchanged(cur, same));
    EXPECT_FALSE(family34OptionsUnchanged(internal, internal));
}

TEST(OptionFrames, FamilyThreeRetriesAfter81AndConfirms) {
    Rig r("M-010", "3.6", "D");
    r.core.facts.ext_option_bytes = {0xFD, 0xFF, 0xFF, 0xFF, 0xFF};
    r.chip.optionCodes = {0x81, 0x81, 0x81, 0x80};
    ASSERT_TRUE(write_options(r.core, r.chip).ok());
    EXPECT_EQ(r.optionCommands(), 4u);
    const auto& body = r.chip.commands.back();
    ASSERT_EQ(body.size(), 13u);
    EXPECT_EQ(body[4], 0xFD);  // default: internal RC
    EXPECT_EQ(std::vector<std::uint8_t>(body.begin() + 9, body.end()),
              (std::vector<std::uint8_t>{0x00, 0xA8, 0xC0, 0x00}));
}

TEST(OptionFrames, FamilyFourOldFirmwareReportsErrorButGoesOn) {
    Rig r("M-014", "3.1", "E");
    r.core.facts.ext_option_bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(write_options(r.core, r.chip).ok());
    EXPECT_TRUE(r.ui.saw("Config option are error! / 设置选项失败。"));
}

TEST(OptionFrames, FamilyThreeOtherCodesFailTheRounds) {
    Rig r("M-010", "3.6", "D");
    r.core.facts.ext_option_bytes = {0xFD, 0xFF, 0xFF, 0xFF, 0xFF};
    r.chip.optionCodes = {0x90, 0x90, 0x90, 0x90};
    EXPECT_FALSE(write_options(r.core, r.chip).ok());
    EXPECT_EQ(r.optionCommands(), 4u);  // two rounds of two attempts
    EXPECT_EQ(r.ui.lines.back(), "Config option are error! / 设置选项失败。");
}

TEST(OptionFrames, FamilyThreeChipBusyForeverEndsTheStep) {
    // A chip that answers 81 without end: the busy answers stop being free after fifty, the
    // remaining attempts of both rounds run out, and the step fails with its report.
    Rig r("M-010", "3.6", "D");
    r.core.facts.ext_option_bytes = {0xFD, 0xFF, 0xFF, 0xFF, 0xFF};
    r.chip.optionCodes = std::deque<std::uint8_t>(1000, 0x81);
    EXPECT_FALSE(write_options(r.core, r.chip).ok());
    EXPECT_EQ(r.optionCommands(), 50u + 4u);
    EXPECT_TRUE(
        r.ui.saw("The MCU answered busy (81) 50 times to the option command. / MCU "
                 "连续 50 次回答忙 (81)，选项未写入。"));
    EXPECT_EQ(r.ui.lines.back(), "Config option are error! / 设置选项失败。");
    EXPECT_FALSE(r.chip.frameReady());
}

}  // namespace
}  // namespace qmx
