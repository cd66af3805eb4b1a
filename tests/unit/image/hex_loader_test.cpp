// Loading Intel-HEX and binary files into the code buffer: which loader runs, where the bytes
// land, what the checks clear and clip, and exactly what the user is told.
#include "image/hex_loader.h"

#include <gtest/gtest.h>

#include <numeric>

#include "image_fixture.h"

namespace qmx::test {
namespace {

const std::string kOver = "    File over the valid scope.\r\n文件超出有效空间, 超出的部分已丢失。";

class LoaderTest : public ImageTest {
  protected:
    LoadResult load(const std::string& path, const char* modelName = "M-064") {
        buffer.currentPath = path;
        return loadSelectedFile(buffer, model(modelName), serial, ui);
    }
    // The "Open HEX file" report boxes raised so far.
    std::vector<std::string> reports() const {
        std::vector<std::string> out;
        for (const auto& b : ui.boxes)
            if (b.title == "Open HEX file") out.push_back(b.text);
        return out;
    }
};

// ---- Which loader reads a file ----

TEST_F(LoaderTest, FileKindFollowsNameThenFirstLines) {
    const std::string hex = hexRecord(0, {0x11, 0x22}) + "\r\n" + kEof + "\r\n";
    EXPECT_EQ(detectFileKind("/x/prog.hex.bak", "binary"), FileKind::Hex);
    EXPECT_EQ(detectFileKind("/x/PROG.Hex", ""), FileKind::Hex);
    EXPECT_EQ(detectFileKind("/x/prog.txt", ":1\n:2\n:3\nzzz\n"), FileKind::Hex);
    EXPECT_EQ(detectFileKind("/x/prog.txt", hex), FileKind::Hex);  // shorter than three lines
    EXPECT_EQ(detectFileKind("/x/prog.bin", ":10\nAB\n:00\n"), FileKind::Binary);
    EXPECT_EQ(detectFileKind("/x/prog.bin", ""), FileKind::Binary);
    // Only the file's own name counts, not a folder called something.hex.
    EXPECT_EQ(detectFileKind("/x/old.hex/prog.bin", "\x02\x00"), FileKind::Binary);
}

TEST_F(LoaderTest, ByteOrderMarkDoesNotHideTheFirstRecord) {
    const std::string text = "\xEF\xBB\xBF" + hexRecord(0, {0x42}) + "\r\n" + kEof + "\r\n";
    EXPECT_EQ(detectFileKind("/x/prog.txt", text), FileKind::Hex);
    load(writeFile("bom.hex", text));
    EXPECT_EQ(buffer.bytes[0], 0x42);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(LoaderTest, HexBakFileIsReadAsHex) {
    buffer.fillByte = 0xFF;
    auto r = load(writeFile("prog.hex.bak", hexRecord(0, {0x12, 0x34}) + "\n" + kEof + "\n"));
    ASSERT_TRUE(r.loaded());
    EXPECT_EQ(r.kind, FileKind::Hex);
    EXPECT_EQ(buffer.bytes[0], 0x12);
    EXPECT_EQ(buffer.bytes[1], 0x34);
    EXPECT_EQ(buffer.bytes[2], 0xFF);
}

TEST_F(LoaderTest, BinaryWhoseFirstLineLooksLikeHexIsReadAsBinary) {
    auto r = load(writeFile("prog.bin", ":AB\nxy"));
    EXPECT_EQ(r.kind, FileKind::Binary);
    EXPECT_EQ(buffer.bytes[0], ':');
    EXPECT_EQ(buffer.bytes[5], 'y');
    EXPECT_EQ(buffer.loadEnd, 5);
}

// ---- The HEX loader ----

TEST_F(LoaderTest, FirstLoadFillsEvenWithoutClearBuffer) {
    buffer.fillByte = 0xFF;
    ASSERT_EQ(buffer.bytes[0x2000], 0x00);  // start-up contents are 00 whatever the fill choice
    load(writeFile("a.hex", hexRecord(0x10, {1, 2, 3}) + "\n" + kEof));
    EXPECT_TRUE(buffer.imageLoaded);
    EXPECT_EQ(buffer.bytes[0x0F], 0xFF);
    EXPECT_EQ(buffer.bytes[0x2000], 0xFF);
    EXPECT_EQ(buffer.bytes[0xFFFF], 0xFF);
    EXPECT_EQ(buffer.bytes[0x10], 1);
    EXPECT_EQ(buffer.loadStart, 0);
    EXPECT_EQ(buffer.loadEnd, 0x12);
    EXPECT_EQ(buffer.viewStart, 0);
    EXPECT_EQ(buffer.viewEnd, 0x12);
}

TEST_F(LoaderTest, BufferStartAddressShiftsHexRecords) {
    buffer.startAddressText = " 100 ";
    load(writeFile("a.hex", hexRecord(0x0000, {0xAA, 0xBB}) + "\n" + kEof));
    EXPECT_EQ(buffer.bytes[0x100], 0xAA);
    EXPECT_EQ(buffer.bytes[0x101], 0xBB);
    EXPECT_EQ(buffer.bytes[0x000], 0x00);
    EXPECT_EQ(buffer.loadStart, 0x100);
    EXPECT_EQ(buffer.loadEnd, 0x101);
    EXPECT_EQ(buffer.viewStart, 0x100);
}

TEST_F(LoaderTest, ChecksumDisplayFormat) {
    EXPECT_EQ(checksumDisplay(0x1A2B), "0001A2BH       ");
    EXPECT_EQ(checksumDisplay(0), "0000000H       ");
    EXPECT_EQ(checksumDisplay(0x23456789u), "3456789H       ");  // last seven digits

    std::vector<std::uint8_t> data(26, 0xFF);
    data.push_back(0x45);  // 26 * 0xFF + 0x45 = 0x1A2B
    load(writeFile("sum.hex", hexRecord(0, {data.begin(), data.begin() + 16}) + "\n" +
                                  hexRecord(16, {data.begin() + 16, data.end()}) + "\n" + kEof));
    EXPECT_EQ(buffer.checksumText, "0001A2BH       ");
}

TEST_F(LoaderTest, EmptyBinaryShowsZeroChecksum) {
    buffer.checksumText = "junk";
    auto r = load(writeFile("empty.bin", ""));
    EXPECT_EQ(r.kind, FileKind::Binary);
    EXPECT_EQ(buffer.checksumText, "0000000H       ");
    EXPECT_TRUE(buffer.imageLoaded);
    EXPECT_TRUE(reports().empty());
}

TEST_F(LoaderTest, BadRecordChecksumIsReportedAndStillLoaded) {
    const std::string bad = ":0300000011223300";  // correct checksum would be 97
    const std::string path =
        writeFile("bad.hex", bad + "\r\n" + hexRecord(3, {0x44}) + "\r\n" + kEof);
    auto r = load(path);
    EXPECT_EQ(r.badRecords, 1);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Checksum\r\n\r\n" + bad);
    EXPECT_EQ(ui.boxes[0].title, path);
    EXPECT_EQ(ui.boxes[0].buttons, BoxButtons::Ok);
    EXPECT_EQ(buffer.bytes[0], 0x11);
    EXPECT_EQ(buffer.bytes[2], 0x33);
    EXPECT_EQ(buffer.bytes[3], 0x44);
}

TEST_F(LoaderTest, MalformedLinesAreReportedAndNeverOverrun) {
    buffer.fillByte = 0xFF;
    const std::string odd = ":0300000011223397F";
    const std::string nonHex = ":03000000112G3397";
    const std::string tooLong = ":" + std::string(2 * 262, 'A');
    const std::string tooShort = ":00";
    const std::string path =
        writeFile("odd.hex", odd + "\n" + nonHex + "\n" + tooLong + "\n" + tooShort + "\n" +
                                 hexRecord(8, {0x5A}) + "   \n" + kEof + "\n");
    auto r = load(path);
    EXPECT_EQ(r.badRecords, 4);
    ASSERT_EQ(ui.boxes.size(), 4u);
    EXPECT_EQ(ui.boxes[0].text, "Checksum\r\n\r\n" + odd);
    EXPECT_EQ(ui.boxes[1].text, "Checksum\r\n\r\n" + nonHex);
    EXPECT_EQ(ui.boxes[2].text, "Checksum\r\n\r\n" + tooLong);
    EXPECT_EQ(ui.boxes[3].text, "Checksum\r\n\r\n" + tooShort);
    // Nothing of the malformed lines reached the buffer; the good record after them did
    // (trailing blanks are tolerated).
    EXPECT_EQ(buffer.bytes[0], 0xFF);
    EXPECT_EQ(buffer.bytes[8], 0x5A);
    EXPECT_EQ(buffer.loadEnd, 8);
}

TEST_F(LoaderTest, HexReadingStopsAtEndRecordAndSkipsOtherLines) {
    buffer.fillByte = 0xFF;
    load(writeFile("a.hex", "; comment\n" + hexRecord(0, {1}) + "\n" + kEof + "\n" +
                                hexRecord(1, {2}) + "\n"));
    EXPECT_EQ(buffer.bytes[0], 1);
    EXPECT_EQ(buffer.bytes[1], 0xFF);
    EXPECT_EQ(buffer.loadEnd, 0);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(LoaderTest, HexWithoutDataOrEndRecordIsReported) {
    // Random bytes under a .hex name: no record at all.
    std::string noise;
    for (int i = 0; i < 640; ++i)
        noise += static_cast<char>((i * 37 + 11) % 251);
    LoadResult r = load(writeFile("noise.hex", noise));
    EXPECT_EQ(r.dataRecords, 0);
    EXPECT_TRUE(r.incompleteHex());
    EXPECT_TRUE(r.needsConsent());
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_NE(reports()[0].find("no Intel-HEX data record"), std::string::npos);

    // Cut at a line boundary: data, but no end record.
    ui.boxes.clear();
    r = load(writeFile("cut.hex", hexRecord(0, {1, 2, 3}) + "\n"));
    EXPECT_EQ(buffer.bytes[2], 3);
    EXPECT_TRUE(r.incompleteHex());
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_NE(reports()[0].find("no Intel-HEX end record"), std::string::npos);

    // A whole file says nothing.
    ui.boxes.clear();
    r = load(writeFile("whole.hex", hexRecord(0, {1}) + "\n" + kEof + "\n"));
    EXPECT_FALSE(r.needsConsent());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(LoaderTest, ExtendedAddressRecordsAreNotData) {
    buffer.fillByte = 0xFF;
    // A zero extended linear address (as srec_cat writes first), a start address and a
    // segment start address: none of their payload may land in the buffer.
    auto r = load(writeFile("ext.hex", ":020000040000FA\n" + hexRecord(0, {0, 0, 0x12, 0x34}, 3) +
                                           "\n" + hexRecord(0, {0, 0, 0x12, 0x34}, 5) + "\n" +
                                           hexRecord(0x20, {0x77}) + "\n" + kEof + "\n"));
    EXPECT_EQ(r.badRecords, 0);
    for (int a = 0; a < 0x20; ++a)
        EXPECT_EQ(buffer.bytes[a], 0xFF) << "address " << a;
    EXPECT_EQ(buffer.bytes[0x20], 0x77);
    EXPECT_EQ(buffer.loadEnd, 0x20);
    EXPECT_TRUE(reports().empty());
}

TEST_F(LoaderTest, ExtendedAddressBeyond64KIsNotStoredAndReported) {
    buffer.fillByte = 0xFF;
    // Type 04 with 0001: the data belong at 0x10000 and up.
    auto r = load(writeFile("high.hex", hexRecord(0, {0x01}) + "\n:020000040001F9\n" +
                                            hexRecord(0x0000, {0xAA, 0xBB}) + "\n" + kEof),
                  "M-076");
    EXPECT_EQ(buffer.bytes[0], 0x01);
    EXPECT_EQ(buffer.bytes[1], 0xFF);
    EXPECT_EQ(buffer.bytes[0x10000], 0x00);  // the extra cell was never written
    EXPECT_TRUE(r.clipped);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0], kOver + "\r\n\r\n       按确定继续。");
    EXPECT_EQ(buffer.checksumText, checksumDisplay(0x01 + 0xAA + 0xBB));

    // Type 02 (segment 0x1000 = 0x10000) does the same, also for the model whose map has a hole.
    ui.boxes.clear();
    buffer.reset();
    load(writeFile("seg.hex", ":020000021000EC\n" + hexRecord(0x10, {0xCC}) + "\n" + kEof),
         "M-074");
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].rfind(kOver, 0), 0u);
}

TEST_F(LoaderTest, ExtendedSegmentAddressWithinRangeMovesData) {
    buffer.fillByte = 0xFF;
    load(writeFile("seg.hex", ":020000020100FB\n" + hexRecord(0x0004, {0x42}) + "\n" + kEof));
    EXPECT_EQ(buffer.bytes[0x1004], 0x42);
    EXPECT_EQ(buffer.bytes[0x0004], 0xFF);
}

TEST_F(LoaderTest, HexDataIntoBootAreaIsDroppedAndReported) {
    buffer.fillByte = 0xFF;
    // M-070: boot limit 0x3800.
    std::vector<std::uint8_t> data(16);
    std::iota(data.begin(), data.end(), 1);
    auto r = load(writeFile("boot.hex", hexRecord(0x37F8, data) + "\n" + kEof), "M-070");
    EXPECT_EQ(buffer.bytes[0x37FF], 8);
    EXPECT_EQ(buffer.bytes[0x3800], 0xFF);
    EXPECT_EQ(buffer.loadEnd, 0x37FF);
    EXPECT_EQ(r.checksum, 136u);  // every byte counts, stored or not
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0], kOver + "\r\n\r\n       按确定继续。");
}

TEST_F(LoaderTest, Family0ClearsGapBetweenProgramAndBootArea) {
    buffer.fillByte = 0xFF;
    // M-076: program area to 0x7FFF, boot area from 0xE000.
    load(writeFile("gap.hex", hexRecord(0x100, {1}) + "\n" + hexRecord(0x9000, {2}) + "\n" + kEof),
         "M-076");
    EXPECT_EQ(buffer.bytes[0x100], 1);
    EXPECT_EQ(buffer.bytes[0x9000], 0xFF);
    EXPECT_EQ(buffer.loadEnd, 0x7FFF);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].rfind(kOver, 0), 0u);
}

TEST_F(LoaderTest, Family2DataMemoryIsReportedNotCleared) {
    buffer.fillByte = 0xFF;
    // M-072: program to 0x3FFF, data memory 0x4000-0xF7FF.
    load(writeFile("data.hex", hexRecord(0x4000, {0x99}) + "\n" + kEof), "M-072");
    EXPECT_EQ(buffer.bytes[0x4000], 0x99);
    EXPECT_EQ(buffer.loadEnd, 0x4000);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(
        reports()[0],
        " Data Memory contain datas.\r\n  Data Memory 空间有数据。\r\n\r\n       按确定继续。");
}

TEST_F(LoaderTest, ModelWithHoleAt32KClearsTheHole) {
    buffer.fillByte = 0xFF;
    // M-074: program to 0x4FFF, hole to 0x7FFF, data memory from 0x8000.
    load(
        writeFile("hole.hex", hexRecord(0x6000, {1}) + "\n" + hexRecord(0x8000, {2}) + "\n" + kEof),
        "M-074");
    EXPECT_EQ(buffer.bytes[0x6000], 0xFF);
    EXPECT_EQ(buffer.bytes[0x8000], 2);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0],
              kOver + "\r\n\r\n Data Memory contain datas.\r\n  Data Memory 空间有数据。" +
                  "\r\n\r\n       按确定继续。");
}

TEST_F(LoaderTest, Family3ReportsInvalidZoneDataMemoryAndOverflow) {
    buffer.fillByte = 0xFF;
    // M-002: program 0-0x1FF, invalid zone 0x200-0xFFF, data memory 0x1000-0x13FF.
    auto r = load(writeFile("f3.hex", hexRecord(0x0300, {1}) + "\n" + hexRecord(0x1000, {2}) +
                                          "\n" + hexRecord(0x1500, {3}) + "\n" + kEof),
                  "M-002");
    EXPECT_EQ(buffer.bytes[0x300], 0xFF);
    EXPECT_EQ(buffer.bytes[0x1000], 2);
    EXPECT_EQ(buffer.bytes[0x1500], 0xFF);
    EXPECT_EQ(buffer.loadEnd, 0x13FF);
    EXPECT_TRUE(r.clipped);
    ASSERT_EQ(reports().size(), 1u);
    // The closing line is indented by half the longest line (31 characters -> 16).
    EXPECT_EQ(reports()[0],
              "无效区间 200 -- FFF 中有数据, 这些数据已被清除。\r\n\r\n"
              "Data Memory 空间有数据。\r\n\r\n"
              "文件超出最大有效空间, 超出的部分已被清除。\r\n\r\n\r\n" +
                  std::string(16, ' ') + "按确定继续。");
}

TEST_F(LoaderTest, Family4OverflowAloneIndentsByItsOwnLength) {
    buffer.fillByte = 0xFF;
    // M-014: program to 0x3FF, data memory 0x400-0x2FFF.
    load(writeFile("f4.hex", hexRecord(0x100, {1}) + "\n" + hexRecord(0x3000, {2}) + "\n" + kEof),
         "M-014");
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0], "文件超出最大有效空间, 超出的部分已被清除。\r\n\r\n\r\n" +
                                std::string(11, ' ') + "按确定继续。");
    EXPECT_EQ(buffer.loadEnd, 0x2FFF);
}

// ---- The binary loader ----

TEST_F(LoaderTest, Binary70000BytesStopsAtLastCell) {
    std::vector<std::uint8_t> data(70000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    auto r = load(writeFile("big.bin", data), "M-064");
    EXPECT_EQ(buffer.bytes[0], data[0]);
    EXPECT_EQ(buffer.bytes[0xFFFF], data[0xFFFF]);
    EXPECT_EQ(buffer.bytes[0x10000], data[0x10000]);
    EXPECT_EQ(buffer.loadEnd, 0xFFFF);
    EXPECT_EQ(r.checksum, std::accumulate(data.begin(), data.begin() + 0x10001, 0u));
    // Even where the program area reaches 0xFFFF, the bytes past it are lost: said so.
    EXPECT_TRUE(r.clipped);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0], kOver + "\r\n\r\n         按确定继续。");

    // A model with a smaller area clips loadEnd and says so.
    buffer.reset();
    ui.boxes.clear();
    load(writeFile("big.bin", data), "M-070");
    EXPECT_EQ(buffer.loadEnd, 0x37FF);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0], kOver + "\r\n\r\n         按确定继续。");
}

TEST_F(LoaderTest, BinaryAtStartAddressAndDataMemoryMessage) {
    buffer.startAddressText = "4000";
    std::vector<std::uint8_t> data(0x100, 0x5A);
    load(writeFile("eeprom.bin", data), "M-072");
    EXPECT_EQ(buffer.bytes[0x4000], 0x5A);
    EXPECT_EQ(buffer.bytes[0x40FF], 0x5A);
    EXPECT_EQ(buffer.loadStart, 0x4000);
    EXPECT_EQ(buffer.loadEnd, 0x40FF);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0],
              "   Data Memory contain datas.\r\n     Data Memory 空间有数据。"
              "\r\n\r\n         按确定继续。");
}

// ---- loadSelectedFile: refusals, merging, the serial number ----

TEST_F(LoaderTest, StartAddressBeyondDataEndIsRefused) {
    buffer.fillByte = 0xFF;
    const std::string path = writeFile("a.bin", "\x01\x02");
    buffer.startAddressText = "37FF";  // M-070: dataEnd 0x37FF is still accepted
    EXPECT_TRUE(load(path, "M-070").loaded());
    EXPECT_EQ(buffer.bytes[0x37FF], 0x01);

    buffer.startAddressText = "3800";
    auto before = buffer.bytes;
    auto r = load(path, "M-070");
    EXPECT_EQ(r.status, LoadStatus::StartOutOfRange);
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back().text,
              "Buffer Start Address Outrun the valid scope. \r\n   缓冲区起始地址超出有效空间。");
    EXPECT_EQ(buffer.bytes, before);
}

TEST_F(LoaderTest, UnreadableFileKeepsTheImageInTheBuffer) {
    load(writeFile("good.hex", hexRecord(0, {0xDE, 0xAD}) + "\n" + kEof));
    const auto bytes = buffer.bytes;
    const long vs = buffer.viewStart, ve = buffer.viewEnd;
    const std::string sum = buffer.checksumText;

    auto r = load((dir / "missing.hex").string());
    EXPECT_EQ(r.status, LoadStatus::Unreadable);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Can not find the file./找不到文件");

    buffer.clearOnLoad = true;  // would have wiped the buffer before reading
    r = load(dir.string());     // a folder cannot be read as a file
    EXPECT_EQ(r.status, LoadStatus::Unreadable);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[1].text, "Is a directory");

    EXPECT_EQ(buffer.bytes, bytes);
    EXPECT_EQ(buffer.viewStart, vs);
    EXPECT_EQ(buffer.viewEnd, ve);
    EXPECT_EQ(buffer.checksumText, sum);
    EXPECT_TRUE(buffer.imageLoaded);
}

TEST_F(LoaderTest, ConsecutiveLoadsMergeUnlessClearBuffer) {
    buffer.fillByte = 0xFF;
    const std::string program =
        writeFile("prog.hex", hexRecord(0x0000, {1, 2, 3, 4}) + "\n" + kEof);
    const std::string data = writeFile("data.bin", "\x09\x08");
    load(program, "M-072");
    buffer.startAddressText = "4000";
    load(data, "M-072");
    EXPECT_EQ(buffer.bytes[0], 1);
    EXPECT_EQ(buffer.bytes[3], 4);
    EXPECT_EQ(buffer.bytes[0x4000], 9);
    EXPECT_EQ(buffer.loadStart, 0x4000);
    EXPECT_EQ(buffer.viewStart, 0);
    EXPECT_EQ(buffer.viewEnd, 0x4001);

    // A later file overwrites only its own cells.
    buffer.startAddressText = "0";
    load(writeFile("patch.hex", hexRecord(0x0001, {0x55}) + "\n" + kEof), "M-072");
    EXPECT_EQ(buffer.bytes[0], 1);
    EXPECT_EQ(buffer.bytes[1], 0x55);
    EXPECT_EQ(buffer.bytes[0x4000], 9);
    EXPECT_EQ(buffer.viewEnd, 0x4001);

    buffer.clearOnLoad = true;
    load(program, "M-072");
    EXPECT_EQ(buffer.bytes[0x4000], 0xFF);
    EXPECT_EQ(buffer.viewStart, 0);
    EXPECT_EQ(buffer.viewEnd, 3);
}

TEST_F(LoaderTest, LoadSwitchesAutoIncrementOffAndRefreshesTheView) {
    serial.enabled = true;
    serial.active = true;
    const int before = ui.bufferChanges;
    load(writeFile("a.hex", hexRecord(0, {1}) + "\n" + kEof));
    EXPECT_FALSE(serial.enabled);
    EXPECT_FALSE(serial.active);
    EXPECT_GT(ui.bufferChanges, before);
}

TEST_F(LoaderTest, ReselectLastFileNeedsAnExistingFile) {
    buffer.currentPath = "/keep/me.hex";
    EXPECT_FALSE(reselectLastFile(buffer, (dir / "gone.hex").string(), ui));
    EXPECT_EQ(buffer.currentPath, "/keep/me.hex");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Can not find the file./找不到文件");

    const std::string path = writeFile("here.hex", kEof);
    EXPECT_TRUE(reselectLastFile(buffer, path, ui));
    EXPECT_EQ(buffer.currentPath, path);
}

}  // namespace
}  // namespace qmx::test
