// The code buffer's start-up state, fill, memory map limits, range display and extents.
#include "image/code_buffer.h"

#include <gtest/gtest.h>

#include "image_fixture.h"

namespace qmx::test {
namespace {

TEST(CodeBuffer, StartUpStateAndFillKeepsLastCell) {
    CodeBuffer b;
    b.bytes.fill(0x77);
    b.imageLoaded = true;
    b.viewEnd = 5;
    b.reset();
    EXPECT_EQ(b.bytes[0], 0x00);
    EXPECT_EQ(b.bytes[0x10000], 0x00);
    EXPECT_FALSE(b.imageLoaded);
    EXPECT_EQ(b.loadStart, 0);
    EXPECT_EQ(b.viewStart, 0);
    EXPECT_EQ(b.loadEnd, 1023);
    EXPECT_EQ(b.viewEnd, 1023);
    EXPECT_EQ(b.scrollMax, 64);

    b.bytes[0x10000] = 0x5A;
    fillBuffer(b, 0xFF);
    EXPECT_EQ(b.bytes[0], 0xFF);
    EXPECT_EQ(b.bytes[0xFFFF], 0xFF);
    EXPECT_EQ(b.bytes[0x10000], 0x5A);
}

struct LimitCase {
    const char* model;
    long bootLimit;
    long loadLimit;
    std::array<std::string, 4> display;
};

class MemoryMapLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(MemoryMapLimits, BootAndLoadLimitsPerFamily) {
    const auto& c = GetParam();
    MemoryMap map = MemoryMap::fromModel(model(c.model));
    EXPECT_EQ(map.bootLimit(), c.bootLimit);
    EXPECT_EQ(map.loadLimit(), c.loadLimit);
    EXPECT_EQ(rangeDisplayTexts(map), c.display);
}

INSTANTIATE_TEST_SUITE_P(
    Models, MemoryMapLimits,
    ::testing::Values(
        // family 0: boot limit = boot start
        LimitCase{"M-064", 0x10000, 0xFFFF, {"0000", "FFFF", "10000", "11FFF"}},
        LimitCase{"M-076", 0xE000, 0x7FFF, {"0000", "7FFF", "0E000", "0FFFF"}},
        // family 1: boot end - 1 KB + 1; without data memory the load limit follows it
        LimitCase{"M-091", 0xF800, 0x7FFF, {"0000", "7FFF", "0F800", "0FBFF"}},
        LimitCase{"M-080", 0xFC00, 0xFBFF, {"0000", "FBFF", "0FC00", "0FFFF"}},
        // family 2, including the 2 KB boot areas
        LimitCase{"M-070", 0x3800, 0x37FF, {"0000", "37FF", "03800", "03BFF"}},
        LimitCase{"M-074", 0xF400, 0x4FFF, {"0000", "4FFF", "0F400", "0FBFF"}},
        LimitCase{"M-079", 0xF400, 0xF3FF, {"0000", "F3FF", "0F400", "0FBFF"}},
        // families 3 and 4: fixed limits
        LimitCase{"M-002", 0x1400, 0x01FF, {"0000", "01FF", "01400", "01FFF"}},
        LimitCase{"M-014", 0x3000, 0x03FF, {"0000", "03FF", "03000", "03DFF"}}));

TEST(CodeBuffer, HexBoxReadsItsLastDigits) {
    EXPECT_EQ(readHexBox("  100 ", 5), 0x100);
    EXPECT_EQ(readHexBox("", 5), 0);
    EXPECT_EQ(readHexBox("12345", 4), 0x2345);
    EXPECT_EQ(readHexBox("1000FF", 5), 0xFF);
    EXPECT_EQ(readHexBox("ffff", 4), 0xFFFF);
    EXPECT_EQ(readHexBox("12G4", 5), 0x12);  // reading stops at the first non-digit
}

TEST(CodeBuffer, RefreshExtentsCoversLoadAndSerialNumber) {
    CodeBuffer b;
    SerialNumberSpec s;
    RecordingUi ui;
    b.viewStart = 0x100;
    b.viewEnd = 0x1FF;
    b.loadStart = 0x80;
    b.loadEnd = 0x180;
    refreshExtents(b, s, ui);
    EXPECT_EQ(b.viewStart, 0x80);
    EXPECT_EQ(b.viewEnd, 0x1FF);
    EXPECT_EQ(b.scrollMax, (0x1FF - 0x80) / 16 - 3);
    EXPECT_EQ(ui.bufferChanges, 1);

    // An active number at A = 3, N = 4 occupies cells 0-3: the view never starts below 0.
    s.active = true;
    s.address = 3;
    s.count = 4;
    refreshExtents(b, s, ui);
    EXPECT_EQ(b.viewStart, 0);
    s.address = 0xFFFF;
    s.count = 8;
    refreshExtents(b, s, ui);
    EXPECT_EQ(b.viewEnd, 0xFFFF);
}

}  // namespace
}  // namespace qmx::test
