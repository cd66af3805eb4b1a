// The pure rules of erasing and programming: page counts, boot-loader sizes, the ranges each
// family writes, frame splitting, the block answer and the answer time-out.
#include <gtest/gtest.h>

#include "link/wire_format.h"
#include "ops/programmer.h"

namespace qmx {
namespace {

TEST(EraseRules, PageCountPerModelGroup) {
    EXPECT_EQ(erasePageCount("M-080", 0), 128);
    EXPECT_EQ(erasePageCount("M-083", 2048), 124);
    EXPECT_EQ(erasePageCount("M-091", 2048), 64);
    EXPECT_EQ(erasePageCount("M-088", 0), 32);
    EXPECT_EQ(erasePageCount("M-085", 0), 16);
    EXPECT_EQ(erasePageCount("M-070", 2048), 26);
    EXPECT_EQ(erasePageCount("M-084", 1024), 28);
    EXPECT_EQ(erasePageCount("M-079", 2048), 122);
    EXPECT_EQ(erasePageCount("M-082", 1024), 124);
    EXPECT_EQ(erasePageCount("M-001", 0), 255);
}

TEST(EraseRules, NewerCFirmwareErasesAtLeastToTheImageEnd) {
    // 2.8C and later: max(N, viewEnd / 512 + 1).
    EXPECT_EQ(eraseCountByte("M-085", 0, "2.8", "C", 0x3FFF), 32);
    EXPECT_EQ(eraseCountByte("M-085", 0, "2.8", "C", 0x0100), 16);
    // Older firmware or another letter: N itself.
    EXPECT_EQ(eraseCountByte("M-085", 0, "2.7", "C", 0x3FFF), 16);
    EXPECT_EQ(eraseCountByte("M-085", 0, "3.6", "D", 0x3FFF), 16);
    // 2.75 rounds to 28.
    EXPECT_EQ(eraseCountByte("M-085", 0, "2.75", "C", 0x3FFF), 32);
}

TEST(EraseRules, BootAreaFromVersion) {
    EXPECT_EQ(bootAreaForVersionIndex(versionTimesTen("2.6")), 1024);
    EXPECT_EQ(bootAreaForVersionIndex(versionTimesTen("2.5")), 2048);
    EXPECT_EQ(bootAreaForVersionIndex(versionTimesTen("1.9")), 1024);
    EXPECT_EQ(bootAreaForVersionIndex(versionTimesTen("2.4")), 1024);
    EXPECT_EQ(bootAreaForVersionIndex(versionTimesTen("3.9")), 2048);
    EXPECT_EQ(bootAreaForVersionIndex(versionTimesTen("4.2")), 2048);
    EXPECT_EQ(versionTimesTen(""), 0);
    EXPECT_EQ(versionTimesTen("garbage"), 0);
    EXPECT_DOUBLE_EQ(versionValue("0.2"), 0.2);
}

TEST(RangeRules, FamiliesZeroToTwoWriteOneRange) {
    EXPECT_EQ(rangesForFamily(2, -5, 0x1234, 0x37FF, 0x3800, 0x3FFF, 0xFF),
              (std::vector<AddressRange>{{0, 0x1234}}));
    EXPECT_EQ(rangesForFamily(0, 0x100, 0x200, 0xFFFF, 0xFFFF, 0xFFFF, 0),
              (std::vector<AddressRange>{{0x100, 0x200}}));
}

TEST(RangeRules, FamiliesThreeAndFourWriteProgramAreaToItsEnd) {
    // P = 0x1FFF, data area 0x2000-0x27FF.
    const long P = 0x1FFF, D0 = 0x2000, D1 = 0x27FF;
    // Small image, data area kept: the program area to its end only.
    EXPECT_EQ(rangesForFamily(3, 0, 0x100, P, D0, D1, 0xFF), (std::vector<AddressRange>{{0, P}}));
    // The chip clears its data area (E2 bit 1 clear): the data area is written whole.
    EXPECT_EQ(rangesForFamily(3, 0, 0x100, P, D0, D1, 0xFD),
              (std::vector<AddressRange>{{0, P}, {D0, D1}}));
    // Image reaching into the data area.
    EXPECT_EQ(rangesForFamily(4, 0, 0x2100, P, D0, D1, 0xFF),
              (std::vector<AddressRange>{{0, P}, {D0, 0x2100}}));
    // Image beyond the data end is cut at it.
    EXPECT_EQ(rangesForFamily(4, 0, 0x3000, P, D0, D1, 0xFF),
              (std::vector<AddressRange>{{0, P}, {D0, D1}}));
    // Start above the program area: only the data part.
    EXPECT_EQ(rangesForFamily(4, 0x2010, 0x2100, P, D0, D1, 0xFF),
              (std::vector<AddressRange>{{0x2010, 0x2100}}));
    // Start above the data end: nothing at all.
    EXPECT_TRUE(rangesForFamily(4, 0x2800, 0x2900, P, D0, D1, 0xFF).empty());
}

TEST(RangeRules, ModelWithoutDataArea) {
    // Data start above data end: E' < D0 always.
    const long P = 0x3FFF, D0 = 0x4000, D1 = 0x3FFF;
    EXPECT_EQ(rangesForFamily(3, 0x10, 0x20, P, D0, D1, 0xFD),
              (std::vector<AddressRange>{{0x10, P}}));
    EXPECT_TRUE(rangesForFamily(3, 0x4000, 0x4010, P, D0, D1, 0xFF).empty());
}

TEST(FrameSplit, AlignedAndUnalignedStarts) {
    EXPECT_EQ(splitIntoFrames(0, 511),
              (std::vector<FramePlan>{{0, 128}, {128, 128}, {256, 128}, {384, 128}}));
    // Start 0x10: the first frame overlaps the second.
    EXPECT_EQ(splitIntoFrames(0x10, 0x1FF),
              (std::vector<FramePlan>{{0x10, 128}, {0x80, 128}, {0x100, 128}, {0x180, 128}}));
    EXPECT_EQ(splitIntoFrames(512, 639), (std::vector<FramePlan>{{512, 128}}));
    EXPECT_EQ(splitIntoFrames(0x1F0, 0x1FF), (std::vector<FramePlan>{{0x1F0, 16}}));
    EXPECT_EQ(splitIntoFrames(0, 130), (std::vector<FramePlan>{{0, 128}, {128, 3}}));
    EXPECT_TRUE(splitIntoFrames(10, 9).empty());
}

TEST(BlockFrame, LayoutAndAnswerRule) {
    const std::uint8_t data[] = {1, 2, 3};
    const auto frame = wire::blockFrame(0x1234, data, true);
    const std::vector<std::uint8_t> body(frame.body().begin(), frame.body().end());
    EXPECT_EQ(body,
              (std::vector<std::uint8_t>{0x6A, 0x00, 15, 0x30, 0, 0, 0x12, 0x34, 0, 3, 1, 2, 3}));
    EXPECT_EQ(wire::blockFrame(0, data, false).body()[3], 0x00);

    // Length 6 accepts whatever the data sum.
    EXPECT_TRUE(blockAnswerAccepts(std::vector<std::uint8_t>{0x68, 0, 6, 0x80, 0xEE, 0x16}, 6));
    // Longer answers must carry the data sum at byte 4.
    EXPECT_TRUE(blockAnswerAccepts(std::vector<std::uint8_t>{0x68, 0, 7, 0x80, 6, 0xF5, 0x16}, 6));
    EXPECT_FALSE(blockAnswerAccepts(std::vector<std::uint8_t>{0x68, 0, 7, 0x80, 7, 0xF6, 0x16}, 6));
    // Another code never accepts.
    EXPECT_FALSE(blockAnswerAccepts(std::vector<std::uint8_t>{0x68, 0, 6, 0x81, 0, 0x16}, 0));
    EXPECT_FALSE(blockAnswerAccepts(std::vector<std::uint8_t>{0x68, 0}, 0));
}

TEST(AnswerTimeout, ClockAndBaudRules) {
    EXPECT_EQ(answerTimeoutMs(12e6, 1200), 5000);
    EXPECT_EQ(answerTimeoutMs(12e6, 115200), 1000);
    EXPECT_EQ(answerTimeoutMs(11.0592e6, 115200), 1200);
    EXPECT_EQ(answerTimeoutMs(2e6, 115200), 4000);
    EXPECT_EQ(answerTimeoutMs(5e6, 2400), 3000);
    EXPECT_EQ(answerTimeoutMs(12e6, 4800), 2000);
    EXPECT_EQ(answerTimeoutMs(12e6, 9600), 1500);
    EXPECT_EQ(answerTimeoutMs(7e6, 9600), 1500);
}

TEST(SizeLimit, FamilyTwoBootLoaderLimit) {
    EXPECT_EQ(firmwareSizeLimit(14335, 2048), 13311);
    EXPECT_EQ(firmwareSizeLimit(14335, 1024), -1);
    EXPECT_EQ(firmwareSizeLimit(14335, 0), -1);
}

TEST(Texts, KilobyteLabelAndClock) {
    EXPECT_EQ(kbyteLabelText(512), ".500K");
    EXPECT_EQ(kbyteLabelText(1024), "1.000K");
    EXPECT_EQ(kbyteLabelText(61440), "60.000K");
    EXPECT_EQ(kbyteLabelText(640), ".625K");
    const std::string t = clockNow();
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[2], ':');
    EXPECT_EQ(t[5], ':');
}

}  // namespace
}  // namespace qmx
