// The connect step's rules run in-process on a core with a recording face: the model check
// and the clock lines.
#include <gtest/gtest.h>

#include "catalogue/model_catalogue.h"
#include "core/isp_core.h"
#include "ops/connect.h"
#include "support/recording_ui.h"
#include "support/sim_process.h"

namespace qmx {
namespace {

class ConnectRules : public ::testing::Test {
  protected:
    void select(const char* name) {
        core.model = findModel(name);
        ASSERT_NE(core.model, nullptr) << name;
    }
    test::RecordingUi ui;
    IspCore core{&ui};
};

TEST_F(ConnectRules, LetterCComparesTheIdentificationBytes) {
    core.facts.firmware_suffix = "C";
    core.facts.chip_id1_text = "F0";
    core.facts.chip_id2_text = "02";
    core.buffer.imageLoaded = true;
    select("M-068");  // F002
    EXPECT_TRUE(check_model(core));
    EXPECT_TRUE(ui.lines.empty());
    EXPECT_TRUE(core.buffer.imageLoaded);
    select("M-070");  // F004
    EXPECT_FALSE(check_model(core));
    EXPECT_TRUE(ui.saw("MCU Type is wrong. / MCU 型号错, 请重选"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "MCU Type is wrong, please select another MCU and open the file again.\r\n"
              "         Chinese:MCU 型号错。请重选 MCU、重新打开文件。");
    EXPECT_FALSE(core.buffer.imageLoaded);  // a Download now asks for a file
    EXPECT_EQ(ui.beeps, std::vector<int>{3});
    EXPECT_EQ(ui.buttonStates, std::vector<int>{3});
}

TEST_F(ConnectRules, LetterCOnAnotherFamilyIsWrong) {
    core.facts.firmware_suffix = "C";
    core.facts.chip_id1_text = "F2";
    core.facts.chip_id2_text = "00";
    select("M-002");  // family 3 with F200: the letter says family 2
    EXPECT_FALSE(chipFitsModel(core));
    core.facts.firmware_suffix = "D";
    EXPECT_TRUE(chipFitsModel(core));
}

TEST_F(ConnectRules, LetterAWantsBlocksOf128) {
    core.facts.firmware_suffix = "A";
    select("M-064");
    EXPECT_TRUE(chipFitsModel(core));
    select("M-066");  // 512-byte blocks
    EXPECT_FALSE(chipFitsModel(core));
}

TEST_F(ConnectRules, LetterBChecksFamilyAndTheIdentifiedModel) {
    core.facts.firmware_suffix = "B";
    select("M-080");
    EXPECT_TRUE(chipFitsModel(core));  // nothing identified: family alone
    core.facts.identified_model = "M-081";
    EXPECT_TRUE(chipFitsModel(core));  // an M-081 serves the M-080 selection
    select("M-066");
    EXPECT_FALSE(chipFitsModel(core));
}

TEST_F(ConnectRules, OtherLettersAreNotChecked) {
    core.facts.firmware_suffix = "";
    select("M-066");
    EXPECT_TRUE(chipFitsModel(core));
}

TEST_F(ConnectRules, AChipThatCannotIdentifyItselfInheritsNothingFromTheLastOne) {
    // One long-running core connects to a chip that identifies itself, then to an old loader
    // whose 24-byte answer carries no identification: nothing of the first chip may stand in.
    select("M-066");
    {
        test::SimProcess first;
        ASSERT_TRUE(first.start(test::chipsimPath(), {"--model", "M-066"})) << first.error();
        core.portPath = first.linkPath();
        connect_chip(core, false);
        ASSERT_TRUE(core.session.connected);
        ASSERT_EQ(core.facts.firmware_suffix, "C");
        stop_command(core);
    }
    ui.lines.clear();
    core.session.stop_requested = false;
    test::SimProcess second;
    ASSERT_TRUE(second.start(test::chipsimPath(), {"--model", "M-066", "--short-status"}))
        << second.error();
    core.portPath = second.linkPath();
    connect_chip(core, false);
    EXPECT_TRUE(core.session.connected);
    EXPECT_FALSE(core.facts.chip_identified);
    EXPECT_EQ(core.facts.firmware_suffix, "");
    EXPECT_EQ(core.facts.chip_id1_text, "");
    EXPECT_EQ(core.facts.chip_id2_text, "");
    EXPECT_EQ(core.facts.identified_model, "");
    EXPECT_TRUE(ui.saw("MCU model not verified by the chip")) << ::testing::PrintToString(ui.lines);
    stop_command(core);
}

TEST_F(ConnectRules, ClockLinesPerLetterAndSpeedMode) {
    core.facts.clock_hz = 24000000;
    core.facts.double_speed = true;
    core.facts.firmware_suffix = "C";
    show_clock(core);
    EXPECT_EQ(ui.lines, (std::vector<std::string>{"Internal clock:24MHz./内部时钟频率:24M.",
                                                  "External clock:12MHz./外部时钟频率:12M."}));
    ui.lines.clear();
    core.facts.clock_hz = 11059200;
    core.facts.firmware_suffix = "B";
    show_clock(core);
    EXPECT_EQ(ui.lines,
              std::vector<std::string>{"Internal clock:11.0592MHz./内部时钟频率:11.0592M."});
    ui.lines.clear();
    core.facts.firmware_suffix = "E";
    show_clock(core);
    EXPECT_EQ(ui.lines, std::vector<std::string>{"Clock:11.0592MHz./时钟频率:11.0592M."});
}

}  // namespace
}  // namespace qmx
