// Erase and block programming against a scripted chip: block order per family, frame splitting
// on the wire, retries and the slow-down after repeated failures, the firmware-size limit, the
// erase command and its failures, and Stop.
#include <gtest/gtest.h>

#include "catalogue/model_catalogue.h"
#include "core/isp_core.h"
#include "fake_chip.h"
#include "ops/programmer.h"
#include "support/recording_ui.h"

namespace qmx {
namespace {

using test::FakeChip;
using test::RecordingUi;

struct Rig {
    RecordingUi ui;
    IspCore core{&ui};
    FakeChip chip{core};

    explicit Rig(const char* model, std::string version = "3.6", std::string suffix = "C") {
        core.model = findModel(model);
        EXPECT_NE(core.model, nullptr) << model;
        core.facts.firmware_version = std::move(version);
        core.facts.firmware_suffix = std::move(suffix);
        core.facts.clock_hz = 11059200;
        core.facts.ext_option_bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        core.buffer.bytes.fill(0xFF);
    }
    // Fill [start, end] with a recognisable pattern and make it the view.
    void image(long start, long end) {
        for (long a = start; a <= end; ++a)
            core.buffer.bytes[a] = static_cast<std::uint8_t>(a * 7 + 3);
        core.buffer.viewStart = start;
        core.buffer.viewEnd = end;
        core.buffer.imageLoaded = true;
    }
    bool flashHolds(long start, long end) const {
        for (long a = start; a <= end; ++a)
            if (chip.flash[a] != core.buffer.bytes[a]) return false;
        return true;
    }
};

TEST(ProgramImage, FamilyZeroWritesFive128ByteBlocksLastBlockLast) {
    Rig r("M-064", "", "A");
    r.image(0, 0xFF);
    program_image(r.core, r.chip);
    ASSERT_TRUE(r.core.session.program_ok);
    ASSERT_EQ(r.chip.blocks.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(r.chip.blocks[i].address, long(i * 128));
        EXPECT_EQ(r.chip.blocks[i].count, 128);
    }
    // The main-loop blocks go fast; the separately written last block is paced.
    EXPECT_TRUE(r.chip.blocks[0].fast);
    EXPECT_FALSE(r.chip.blocks[4].fast);
    EXPECT_TRUE(r.flashHolds(0, 639));
    EXPECT_EQ(r.ui.kbyteLabel, ".625K");
}

TEST(ProgramImage, FamilyTwoWritesLastBlockFirstThenTheRest) {
    Rig r("M-079");
    r.image(0, 0xFF);
    program_image(r.core, r.chip);
    ASSERT_TRUE(r.core.session.program_ok);
    // Block 512-639 (one frame) first, then 0-511 as four frames.
    ASSERT_EQ(r.chip.blocks.size(), 5u);
    EXPECT_EQ(r.chip.blocks[0].address, 512);
    EXPECT_EQ(r.chip.blocks[0].count, 128);
    EXPECT_EQ(r.chip.blocks[1].address, 0);
    EXPECT_EQ(r.chip.blocks[4].address, 384);
    EXPECT_TRUE(r.flashHolds(0, 639));
    EXPECT_TRUE(r.ui.saw("Programming.../ 正在下载... ( Begin: "));
}

TEST(ProgramImage, UnalignedStartOverlapsFrames) {
    Rig r("M-079");
    r.image(0x10, 0x3FF);
    program_image(r.core, r.chip);
    ASSERT_TRUE(r.core.session.program_ok);
    ASSERT_EQ(r.chip.blocks.size(), 8u);
    // Last block (512-1023) first, then 0x10-0x1FF as 0x10, 0x80, 0x100, 0x180.
    EXPECT_EQ(r.chip.blocks[0].address, 0x200);
    std::vector<long> firstBlock;
    for (std::size_t i = 4; i < 8; ++i)
        firstBlock.push_back(r.chip.blocks[i].address);
    EXPECT_EQ(firstBlock, (std::vector<long>{0x10, 0x80, 0x100, 0x180}));
    EXPECT_EQ(r.chip.blocks[4].count, 128);
    EXPECT_TRUE(r.flashHolds(0x10, 0x3FF));
    EXPECT_EQ(r.chip.flash[0x0F], 0xFF);  // below the image: untouched
}

TEST(ProgramImage, RetryFlagOnlyOnTheFirstFrameOfARepeatedBlock) {
    Rig r("M-079");
    r.image(0, 0x5FF);
    // Drop the third frame once (block 0's third frame, after the last block's frame).
    r.chip.dropBlock = [](const test::SentBlock&, std::size_t i) { return i == 3; };
    program_image(r.core, r.chip);
    ASSERT_TRUE(r.core.session.program_ok);
    // Last block 0x400-0x5FF: 4 frames (0..3), frame 3 dropped → block retried from its start.
    std::vector<bool> retries;
    for (std::size_t i = 4; i < 8; ++i)
        retries.push_back(r.chip.blocks[i].retry);
    EXPECT_EQ(retries, (std::vector<bool>{true, false, false, false}));
    EXPECT_TRUE(r.flashHolds(0, 0x5FF));
}

TEST(ProgramImage, ThreeFailuresDropFastModeAndSixFail) {
    Rig r("M-064", "", "A");
    r.image(0, 0x3FF);
    // Block at 0x100 fails 4 times in a row, then succeeds.
    int failures = 0;
    r.chip.dropBlock = [&](const test::SentBlock& b, std::size_t) {
        return b.address == 0x100 && failures++ < 4;
    };
    program_image(r.core, r.chip);
    ASSERT_TRUE(r.core.session.program_ok);
    std::vector<bool> fastAt100;
    bool fastAfter = true;
    for (const auto& b : r.chip.blocks) {
        if (b.address == 0x100) fastAt100.push_back(b.fast);
        if (b.address == 0x180) fastAfter = b.fast;
    }
    EXPECT_EQ(fastAt100, (std::vector<bool>{true, true, true, false, false}));
    EXPECT_FALSE(fastAfter);  // slow for the rest of the range

    Rig bad("M-064", "", "A");
    bad.image(0, 0x3FF);
    bad.chip.dropBlock = [](const test::SentBlock& b, std::size_t) { return b.address == 0x100; };
    program_image(bad.core, bad.chip);
    EXPECT_FALSE(bad.core.session.program_ok);
    int attempts = 0;
    for (const auto& b : bad.chip.blocks)
        attempts += b.address == 0x100;
    EXPECT_EQ(attempts, 6);
    EXPECT_TRUE(bad.ui.saw("Program is failure. / 下载失败 (End: "));
    EXPECT_TRUE(bad.ui.saw("Try to use the lower baud. / 请尝试用稍低的波特率下载。"));
    EXPECT_EQ(bad.ui.beeps.back(), 3);
}

TEST(ProgramImage, LastBlockGetsSixAttempts) {
    Rig r("M-079");
    r.image(0, 0x27F);
    // 0-639 is two blocks; the last one (written first) never gets an answer.
    r.chip.dropBlock = [](const test::SentBlock& b, std::size_t) { return b.address == 0x200; };
    program_image(r.core, r.chip);
    EXPECT_FALSE(r.core.session.program_ok);
    EXPECT_EQ(r.chip.blocks.size(), 6u);  // the last block's six attempts, nothing else
}

TEST(ProgramImage, ShortAnswerAcceptsAndAWrongDataSumDoesNot) {
    Rig shortForm("M-079");
    shortForm.image(0, 0x27F);
    shortForm.chip.shortBlockAnswers = true;
    program_image(shortForm.core, shortForm.chip);
    EXPECT_TRUE(shortForm.core.session.program_ok);
    EXPECT_EQ(shortForm.chip.blocks.size(), 5u);

    Rig wrong("M-079");
    wrong.image(0, 0x27F);
    wrong.chip.wrongDataSum = true;
    program_image(wrong.core, wrong.chip);
    EXPECT_FALSE(wrong.core.session.program_ok);
    EXPECT_EQ(wrong.chip.blocks.size(), 6u);  // the last block, six times
}

TEST(ProgramImage, FamilyTwoImageIsCutAtTheFirmwareLimit) {
    Rig r("M-068", "2.5", "C");  // boot area 2048 from the version, data end 0x37FF
    r.image(0, 0x3500);
    program_image(r.core, r.chip);
    ASSERT_TRUE(r.core.session.program_ok);
    EXPECT_TRUE(r.ui.saw("Enable 13K file size for this Version firmware."));
    EXPECT_TRUE(r.ui.saw("Chinese:此版本固件最多可编程 13K, 您的文件已超长，"));
    EXPECT_EQ(r.core.session.downloaded_only_note_cn, "(有一部分数据未下载)。");
    EXPECT_TRUE(r.flashHolds(0, 13311));
    EXPECT_EQ(r.chip.flash[13312], 0xFF);
    for (const auto& b : r.chip.blocks)
        EXPECT_LE(b.address + b.count - 1, 13311);

    // Version 2.6 has a 1 KB loader: no limit.
    Rig ok("M-068", "2.6", "C");
    ok.image(0, 0x3500);
    program_image(ok.core, ok.chip);
    EXPECT_TRUE(ok.core.session.program_ok);
    EXPECT_FALSE(ok.ui.saw("Enable "));
    EXPECT_TRUE(ok.core.session.downloaded_only_note_cn.empty());
}

TEST(ProgramImage, FamilyThreeWritesProgramAreaToItsEnd) {
    Rig r("M-010", "3.6", "D");  // program 0-0xFFF, data 0x1000-0x13FF
    r.image(0, 0x80);
    program_image(r.core, r.chip);
    ASSERT_TRUE(r.core.session.program_ok);
    long highest = 0;
    for (const auto& b : r.chip.blocks)
        highest = std::max(highest, b.address + b.count - 1);
    EXPECT_EQ(highest, 0xFFF);
    EXPECT_TRUE(r.flashHolds(0, 0xFFF));
}

TEST(ProgramImage, LoneBlockOfM074AboveAddressOneIsSentAndConfirmed) {
    Rig r("M-074");
    r.image(0x200, 0x2FF);  // one 512-byte block starting at 0x200
    program_image(r.core, r.chip);
    EXPECT_TRUE(r.core.session.program_ok);
    ASSERT_FALSE(r.chip.blocks.empty());
    EXPECT_TRUE(r.flashHolds(0x200, 0x2FF));
}

TEST(ProgramImage, StopDuringAnAnswerWaitStopsTheRun) {
    Rig r("M-079");
    r.image(0, 0x1FFF);
    r.chip.stopAtBlock = 6;
    program_image(r.core, r.chip);
    EXPECT_FALSE(r.core.session.program_ok);
    EXPECT_TRUE(r.ui.saw("Operation is stop. / 操作被停止."));
    EXPECT_FALSE(r.ui.saw("Program is failure."));
    EXPECT_EQ(r.ui.beeps.back(), 2);
    EXPECT_EQ(r.chip.blocks.size(), 7u);
}

TEST(ConnectAndErase, EraseFrameCarriesThePageCount) {
    Rig r("M-079", "3.6", "C");
    r.image(0, 0xFF);
    ASSERT_TRUE(connect_and_erase(r.core, r.chip).ok());
    ASSERT_EQ(r.chip.commands.size(), 1u);
    // 3.6 → boot area 2048 → (64512 − 2048) / 512 = 122.
    EXPECT_EQ(r.chip.commands[0], (std::vector<std::uint8_t>{0x6A, 0x00, 0x07, 0x84, 122}));
    EXPECT_TRUE(r.ui.saw("We are erasing application flash..."));
    EXPECT_TRUE(r.ui.saw("正在擦除应用程序区..."));
}

TEST(ConnectAndErase, OldFirmwareSkipsTheErase) {
    Rig r("M-079", "0.2", "C");
    EXPECT_TRUE(connect_and_erase(r.core, r.chip).ok());
    EXPECT_TRUE(r.chip.commands.empty());
}

TEST(ConnectAndErase, UnansweredEraseFailsAfterThreeTries) {
    Rig r("M-079");
    r.chip.answerErase = false;
    EXPECT_EQ(connect_and_erase(r.core, r.chip).outcome, Outcome::Failed);
    EXPECT_EQ(r.chip.commands.size(), 3u);
    EXPECT_TRUE(r.ui.saw("Erase application is failed. / 擦除失败 (End: "));
    EXPECT_EQ(r.ui.beeps.back(), 3);
}

TEST(ConnectAndErase, FailedConnectSendsNothing) {
    Rig r("M-079");
    r.chip.connectSucceeds = false;
    EXPECT_FALSE(connect_and_erase(r.core, r.chip).ok());
    EXPECT_TRUE(r.chip.commands.empty());
}

}  // namespace
}  // namespace qmx
