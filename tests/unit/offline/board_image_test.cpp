// The offline board's image against hand-computed bytes: count limit as bit counts, the
// serial-number parameters around a 128-byte boundary, the descriptor and its CRC, the CRC
// table and the two program parts, and the refusals that come before any port is opened.
#include <gtest/gtest.h>

#include "catalogue/option_set.h"
#include "core/isp_core.h"
#include "offline/board_image.h"
#include "offline/offline_board.h"
#include "support/recording_ui.h"

namespace qmx {
namespace {

// CRC-16/MODBUS bit by bit, independent of the table-driven one under test.
std::uint16_t slowCrc(const std::uint8_t* p, std::size_t n) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

long get24(const BoardBytes& im, long at) {
    return (im[at] << 16) | (im[at + 1] << 8) | im[at + 2];
}

TEST(BoardCountLimit, WrittenAsBitCounts) {
    BoardBytes im{};
    writeCountLimit(im, 4097);  // q = 2, r = 1
    EXPECT_EQ(im[0xED00], 0x03);
    EXPECT_EQ(im[0xED01], 0x00);
    EXPECT_EQ(im[0xEE00], 0x01);
    EXPECT_EQ(im[0xEE01], 0x00);

    BoardBytes most{};
    writeCountLimit(most, 1000000);  // q = 488 (61 bytes), r = 576 (72 bytes)
    for (int i = 0; i < 61; ++i)
        ASSERT_EQ(most[0xED00 + i], 0xFF) << i;
    EXPECT_EQ(most[0xED00 + 61], 0x00);
    EXPECT_EQ(most[0xED40], 0x00);  // the auto-increment marker is not reached
    for (int i = 0; i < 72; ++i)
        ASSERT_EQ(most[0xEE00 + i], 0xFF) << i;
    EXPECT_EQ(most[0xEE00 + 72], 0x00);

    BoardBytes low{};
    writeCountLimit(low, 2047);  // r fills the low page up to its last byte
    EXPECT_EQ(low[0xED00], 0x00);
    EXPECT_EQ(low[0xEEFE], 0xFF);
    EXPECT_EQ(low[0xEEFF], 0x7F);
}

TEST(BoardCountLimit, DigitsOnlyFromOneToAMillion) {
    EXPECT_EQ(readCountLimit("1").value, 1);
    EXPECT_EQ(readCountLimit(" 1000000 ").value, 1000000);
    EXPECT_EQ(readCountLimit("0001000000").value, 1000000);
    EXPECT_EQ(readCountLimit("0").error, "脱机下载板下载数量上限应大于 0。");
    EXPECT_EQ(readCountLimit("-3").error, "脱机下载板下载数量上限应大于 0。");
    EXPECT_EQ(readCountLimit("1000001").error, "脱机下载板下载数量上限应小于、等于 1000000。");
    EXPECT_EQ(readCountLimit("99999999999999999999").error,
              "脱机下载板下载数量上限应小于、等于 1000000。");
    for (const char* bad : {"2.5", "12abc", "1e3", "", " ", "+5", "0x10"}) {
        const CountLimit r = readCountLimit(bad);
        EXPECT_EQ(r.value, 0) << bad;
        EXPECT_NE(r.error.find("1 到 1000000"), std::string::npos) << bad;
    }
}

TEST(BoardSerialParams, SplitAtThe128ByteBoundary) {
    const BoardSerial across = splitSerial(0x201, 4);  // F = 1FE, B = 200
    BoardBytes im{};
    BoardSerial s = across;
    s.enabled = true;
    s.increment = 3;
    s.format = 1;
    s.next = 0x01020304;
    writeSerialParams(im, s);
    EXPECT_EQ(im[0xEC80], 1);
    EXPECT_EQ(get24(im, 0xEC81), 0x1FE);
    EXPECT_EQ(im[0xEC84], 2);
    EXPECT_EQ(get24(im, 0xEC85), 0x000200);
    EXPECT_EQ(im[0xEC88], 2);
    EXPECT_EQ(im[0xEC89], 3);
    EXPECT_EQ(im[0xEC8A], 1);
    EXPECT_EQ(im[0xEC90], 0x01);
    EXPECT_EQ(im[0xEC93], 0x04);
    EXPECT_EQ(im[0xED40], 0xFF);
    EXPECT_EQ(im[0xED5F], 0xFF);
    EXPECT_EQ(im[0xED60], 0x00);
    EXPECT_EQ(im[0xF400], 0xFF);
    EXPECT_EQ(im[0xF5FF], 0xFF);
    EXPECT_EQ(im[0xF600], 0x00);

    const BoardSerial inside = splitSerial(0xFFFF, 8);  // F = FFF8, B = 10000 beyond A
    EXPECT_EQ(inside.headBytes, 8);
    EXPECT_EQ(inside.boundary, 0);
    EXPECT_EQ(inside.tailBytes, 0);
    const BoardSerial onBoundary = splitSerial(0x203, 4);  // F = 200: B is the next, 280
    EXPECT_EQ(onBoundary.headBytes, 4);
    EXPECT_EQ(onBoundary.boundary, 0);
}

TEST(BoardSerialParams, ValidatedBeforeUse) {
    const ModelEntry& model = *findModel("M-072");
    SerialNumberSpec spec;
    spec.enabled = true;
    spec.addressText = "0201";
    spec.lengthText = "4";
    spec.nextValueText = "1234";
    spec.incrementText = "255";
    spec.format = SerialFormat::Bcd;
    BoardSerial out;
    EXPECT_EQ(checkBoardSerial(spec, model, 10, out), "");
    EXPECT_TRUE(out.enabled);
    EXPECT_EQ(out.first, 0x1FE);
    EXPECT_EQ(out.next, 1234u);
    EXPECT_FALSE(spec.active);  // the user's spec is not marked by the check

    spec.incrementText = "256";  // the board keeps one byte: refused, not cut to 0
    EXPECT_NE(checkBoardSerial(spec, model, 10, out).find("255"), std::string::npos);
    EXPECT_FALSE(out.enabled);
    spec.incrementText = "-1";
    EXPECT_NE(checkBoardSerial(spec, model, 10, out), "");
    spec.incrementText = "1";
    spec.addressText = "0002";  // F would be negative
    EXPECT_EQ(checkBoardSerial(spec, model, 10, out), "自动增量低位地址太小或字节数太长");
    spec.addressText = "FFFF";  // beyond the data area of M-072 (F7FF)
    spec.lengthText = "8";
    EXPECT_EQ(checkBoardSerial(spec, model, 10, out), "自动增量低位地址太大");
    spec.addressText = "0201";
    spec.lengthText = "4";
    spec.nextValueText = "12x";
    EXPECT_EQ(checkBoardSerial(spec, model, 10, out), " '下一个值' 应输入10进制数");
    spec.format = SerialFormat::Binary;
    spec.nextValueText = "2147483000";
    spec.incrementText = "100";
    EXPECT_EQ(checkBoardSerial(spec, model, 6, out), "");  // 2147483600
    EXPECT_NE(checkBoardSerial(spec, model, 7, out).find(">2147483648"), std::string::npos);
}

// An image of a family-3 model with a pattern in every cell.
struct Built {
    CodeBuffer buffer;
    BoardImageInput in;
    BoardBytes image{};
    Built(const char* model, long programEnd) {
        for (std::size_t i = 0; i < CodeBuffer::kSize; ++i)
            buffer.bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        in.model = findModel(model);
        in.options.family = in.model->family;
        in.options.bytes = {0x11, 0x22, 0x33, 0x44, 0x55};
        in.limit = 1;
        in.programEnd = programEnd;
    }
    void build() { image = buildBoardImage(in, prepareChipCopy(buffer, in.serial)); }
};

TEST(BoardImage, DescriptorFromTheModelAndOptions) {
    Built f3("M-010", 0x0FFF);
    f3.build();
    const BoardBytes& im = f3.image;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&im[0xEC00]), 5), "M-010");
    EXPECT_EQ(im[0xEC05], 0x00);
    EXPECT_EQ(im[0xEC20], 0xF2);
    EXPECT_EQ(im[0xEC21], 0x04);
    const std::uint8_t opts[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0xFF};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(im[0xEC30 + i], opts[i]) << i;
    EXPECT_EQ(im[0xEC3F], 0xFF);
    EXPECT_EQ(get24(im, 0xEC40), 0x004000);
    EXPECT_EQ(get24(im, 0xEC43), 0x004FFF);
    EXPECT_EQ(get24(im, 0xEC46), 0);
    EXPECT_EQ(get24(im, 0xEC49), 0x000FFF);
    EXPECT_EQ(get24(im, 0xEC4F), 0x00EBFF);
    EXPECT_EQ(get24(im, 0xEC58), 0x002000);
    EXPECT_EQ(get24(im, 0xEC5B), 0x003FFF);
    EXPECT_EQ(get24(im, 0xEC5E), 0x00AC00);
    EXPECT_EQ(get24(im, 0xEC61), 0x00CBFF);
    EXPECT_EQ(get24(im, 0xEC70), 0x000FFF);
    EXPECT_EQ(im[0xEC78], 0xF3);
    const std::uint16_t crc = slowCrc(&im[0xEC00], 128);
    EXPECT_EQ(im[0xECFE], crc & 0xFF);
    EXPECT_EQ(im[0xECFF], crc >> 8);

    // Family 2: one option byte at 31; an "F0" identification limits the data end; a large
    // program end stops the first part at EBFF.
    Built f2("M-066", 0xF000);
    f2.in.options.family = 2;
    f2.in.options.bytes = {0x5A};
    f2.build();
    EXPECT_EQ(f2.image[0xEC30], 0xFF);
    EXPECT_EQ(f2.image[0xEC31], 0x5A);
    EXPECT_EQ(f2.image[0xEC32], 0xFF);
    EXPECT_EQ(get24(f2.image, 0xEC4F), 0x007BFF);
    EXPECT_EQ(get24(f2.image, 0xEC43), 0x00EBFF);
    EXPECT_EQ(get24(f2.image, 0xEC49), 0x00ABFF);
    EXPECT_EQ(get24(f2.image, 0xEC70), 0x00F000);
}

TEST(BoardImage, ProgramPartsAndCrcTableFromThePreparedCopy) {
    Built b("M-072", 0x3FFF);
    b.in.serial = splitSerial(0x201, 4);
    b.in.serial.enabled = true;
    const CodeBuffer before = b.buffer;
    b.build();
    const BoardBytes& im = b.image;
    EXPECT_EQ(b.buffer.bytes, before.bytes);  // the user's buffer is never touched
    EXPECT_EQ(im[0x4000], b.buffer.bytes[0]);
    EXPECT_EQ(im[0x4000 + 0x1FD], b.buffer.bytes[0x1FD]);
    for (long a = 0x1FE; a <= 0x201; ++a)
        EXPECT_EQ(im[0x4000 + a], 0xFF) << a;  // the board writes the number itself
    EXPECT_EQ(im[0xEBFF], b.buffer.bytes[0xABFF]);
    EXPECT_EQ(im[0x2000], b.buffer.bytes[0xAC00]);
    EXPECT_EQ(im[0x3FFF], b.buffer.bytes[0xCBFF]);
    EXPECT_EQ(im[0x1FFF], 0x00);

    ChipCopy chip = b.buffer.bytes;
    for (long a = 0x1FE; a <= 0x201; ++a)
        chip[a] = 0xFF;
    for (int block : {0, 3, 4, 511}) {
        const std::uint16_t crc = slowCrc(chip.data() + block * 128, 128);
        EXPECT_EQ(im[0xF000 + 2 * block], crc & 0xFF) << block;
        EXPECT_EQ(im[0xF000 + 2 * block + 1], crc >> 8) << block;
    }
    EXPECT_EQ(im[0xF600], 0x00);  // beyond the marker, everything is cleared
    EXPECT_EQ(im[0xFFFF], 0x00);
}

TEST(BoardImage, VersionByteReadAsTwoDecimalDigits) {
    EXPECT_EQ(decodeBoardVersion(0x16).text, "1.6");
    EXPECT_EQ(decodeBoardVersion(0x16).number, 16);
    EXPECT_EQ(decodeBoardVersion(0x05).text, "0.5");
    EXPECT_EQ(decodeBoardVersion(0x20).number, 20);
    EXPECT_FALSE(decodeBoardVersion(0x1A).known);
    EXPECT_EQ(decodeBoardVersion(0x1A).text, "1A");
    EXPECT_FALSE(decodeBoardVersion(0xA0).known);
}

TEST(BoardImage, CapacityCutsTheProgramEnd) {
    test::RecordingUi ui;
    IspCore core(&ui);
    core.model = findModel("M-072");
    core.buffer.imageLoaded = true;
    core.buffer.viewStart = 0;
    core.buffer.viewEnd = 0x5000;
    resetOptionPage(core.options, 2);
    BoardBytes im{};
    EXPECT_EQ(build_board_image_for(core, "5", 16 * 1024, im), "");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "此脱机烧录器最多下载16K 程序和数据, 超出部分将不下载。\r\n\r\n"
              "                      按确定继续");
    EXPECT_EQ(get24(im, 0xEC70), 0x3FFF);
    EXPECT_EQ(get24(im, 0xEC43), 0x7FFF);
    EXPECT_EQ(im[0xEE00], 0x1F);  // five chips

    ui.boxes.clear();
    EXPECT_NE(build_board_image_for(core, "12abc", 0x10000, im).find("1 到 1000000"),
              std::string::npos);
    core.buffer.viewEnd = 0x3FFF;  // below the capacity: no box, no cut
    EXPECT_EQ(build_board_image_for(core, "1", 16 * 1024 + 1, im), "");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(get24(im, 0xEC70), 0x3FFF);
}

}  // namespace
}  // namespace qmx
