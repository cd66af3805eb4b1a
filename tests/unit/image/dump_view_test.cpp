// The dump view: row format, page bounds, the serial-number selection and digit editing.
#include "image/dump_view.h"

#include <gtest/gtest.h>

#include "image_fixture.h"

namespace qmx::test {
namespace {

using namespace std::chrono_literals;

class DumpTest : public ImageTest {
  protected:
    void SetUp() override {
        ImageTest::SetUp();
        for (std::size_t i = 0; i < CodeBuffer::kSize; ++i)
            buffer.bytes[i] = static_cast<std::uint8_t>(i);
    }
};

TEST_F(DumpTest, RowFormat) {
    EXPECT_EQ(formatDumpRow(buffer, 0x120, 0x12F),
              " 000120   20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F ");
    EXPECT_EQ(formatDumpRow(buffer, 0xFFF0, 0xFFF2), " 00FFF0   F0 F1 F2 ");
}

TEST_F(DumpTest, RowsCoverTheViewFromItsRowStart) {
    buffer.viewStart = 0x0123;
    buffer.viewEnd = 0x0141;
    auto rows = dumpRows(buffer);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].substr(0, 10), " 000120   ");
    EXPECT_EQ(rows[2], " 000140   40 41 ");

    buffer.viewStart = 0x10FFFF;  // nothing loaded yet
    buffer.viewEnd = 0;
    EXPECT_TRUE(dumpRows(buffer).empty());
}

TEST_F(DumpTest, PageStartsAtRowOfViewStartAndStopsAtViewEnd) {
    buffer.viewStart = 0x0123;
    buffer.viewEnd = 0x0FFF;
    buffer.scrollValue = 0;
    DumpPage page = buildDumpPage(buffer, 3, serial);
    EXPECT_EQ(page.first, 0x120);
    EXPECT_EQ(page.last, 0x14F);
    EXPECT_EQ(page.text.substr(0, 14), "\r\n\r\n 000120   ");
    EXPECT_EQ(page.text.size(), 4u + 3 * (10 + 48 + 2));

    buffer.scrollValue = 2;
    page = buildDumpPage(buffer, 100, serial);
    EXPECT_EQ(page.first, 0x140);
    EXPECT_EQ(page.last, 0x140 + 989);  // a page spans at most 990 bytes

    buffer.viewEnd = 0x145;
    page = buildDumpPage(buffer, 100, serial);
    EXPECT_EQ(page.last, 0x145);
    EXPECT_EQ(page.text.substr(page.text.size() - 30), " 000140   40 41 42 43 44 45 \r\n");
}

TEST_F(DumpTest, SerialNumberSelectionAcrossRowEnd) {
    buffer.viewStart = 0;
    buffer.viewEnd = 0x3FF;
    serial.enabled = true;
    serial.count = 4;
    serial.address = 0x21;  // cells 0x1E-0x21: first byte at column 14
    DumpPage page = buildDumpPage(buffer, 20, serial);
    ASSERT_GE(page.selectionStart, 0);
    EXPECT_EQ(page.text.substr(page.selectionStart, 2), "1E");
    EXPECT_EQ(page.selectionLength, 3 * 4 - 1 + 12);
    EXPECT_EQ(page.text.substr(page.selectionStart + page.selectionLength - 2, 2), "21");

    // Within one row; and a number starting at a row start is selected from its first digit.
    serial.address = 0x23;
    serial.count = 4;  // 0x20-0x23
    page = buildDumpPage(buffer, 20, serial);
    EXPECT_EQ(page.text.substr(page.selectionStart, page.selectionLength), "20 21 22 23");
    // Three bytes from column 15 also run across the row end.
    serial.address = 0x31;
    serial.count = 3;
    page = buildDumpPage(buffer, 20, serial);
    EXPECT_EQ(page.text.substr(page.selectionStart, 2), "2F");
    EXPECT_EQ(page.text.substr(page.selectionStart + page.selectionLength - 2, 2), "31");

    // Unticked: the caret goes there but nothing is selected.
    serial.enabled = false;
    page = buildDumpPage(buffer, 20, serial);
    EXPECT_GE(page.selectionStart, 0);
    EXPECT_EQ(page.selectionLength, 0);
}

TEST_F(DumpTest, CellUnderCursorAndDigitMovement) {
    buffer.viewStart = 0x100;
    buffer.viewEnd = 0x11F;
    const std::string text = buildDumpPage(buffer, 5, serial).text;
    const long row0 = 4, row1 = 4 + 60;
    DumpCell c = cellAtPosition(text, row0 + 10 + 3 * 5 + 1);
    EXPECT_TRUE(c.valid);
    EXPECT_EQ(c.address, 0x105);
    EXPECT_EQ(c.digit, 1);
    EXPECT_FALSE(cellAtPosition(text, row0 + 3).valid);       // address field
    EXPECT_FALSE(cellAtPosition(text, row0 + 10 + 2).valid);  // space between groups
    EXPECT_FALSE(cellAtPosition(text, row0 + 58).valid);      // line end
    EXPECT_FALSE(cellAtPosition(text, 1).valid);              // the empty lines above

    EXPECT_EQ(nextDigitPosition(text, row0 + 10), row0 + 11);
    EXPECT_EQ(nextDigitPosition(text, row0 + 11), row0 + 13);           // skips the space
    EXPECT_EQ(nextDigitPosition(text, row0 + 10 + 45 + 1), row1 + 10);  // on to the next row
    const long lastDigit = row1 + 10 + 45 + 1;
    EXPECT_EQ(nextDigitPosition(text, lastDigit), lastDigit);  // end of the page

    EXPECT_EQ(snapToDigit(text, row0 + 2), row0 + 10);
    EXPECT_EQ(snapToDigit(text, row0 + 12), row0 + 13);
    EXPECT_EQ(snapToDigit(text, 0), row0 + 10);
}

TEST_F(DumpTest, TypingADigitStoresTheByte) {
    buffer.imageLoaded = true;
    buffer.viewStart = 0x100;
    buffer.viewEnd = 0x11F;
    std::string text = buildDumpPage(buffer, 5, serial).text;
    const long pos = 4 + 10 + 3 * 2;  // high digit of 0x102
    ui.scriptedAnswers = {BoxAnswer::Yes};
    DumpEditor editor;
    auto r = editor.typeKey(text, pos, 1, 'a', buffer, ui);
    EXPECT_EQ(r.outcome, DumpEditor::Outcome::Stored);
    EXPECT_EQ(r.address, 0x102);
    EXPECT_EQ(buffer.bytes[0x102], 0xA2);
    EXPECT_EQ(text[pos], 'A');
    EXPECT_EQ(r.nextSelection, pos + 1);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Update the buffer? / 修改缓冲区内容吗?");
    EXPECT_EQ(ui.boxes[0].defaultAnswer, BoxAnswer::No);

    // Not a hexadecimal key, a selection that is not one digit, a space: nothing changes.
    const auto before = buffer.bytes;
    const std::string textBefore = text;
    EXPECT_EQ(editor.typeKey(text, pos, 1, 'g', buffer, ui).outcome, DumpEditor::Outcome::Ignored);
    EXPECT_EQ(editor.typeKey(text, pos, 2, '1', buffer, ui).outcome, DumpEditor::Outcome::Ignored);
    EXPECT_EQ(editor.typeKey(text, pos + 2, 1, '1', buffer, ui).outcome,
              DumpEditor::Outcome::Ignored);
    EXPECT_EQ(editor.typeKey(text, 4 + 3, 1, '1', buffer, ui).outcome,
              DumpEditor::Outcome::Ignored);  // the address field is not editable
    EXPECT_EQ(buffer.bytes, before);
    EXPECT_EQ(text, textBefore);
}

TEST_F(DumpTest, ConfirmationHoldsTwentySecondsAfterTheLastEdit) {
    buffer.imageLoaded = true;
    buffer.viewStart = 0;
    buffer.viewEnd = 0xFF;
    std::string text = buildDumpPage(buffer, 5, serial).text;
    const long pos = 4 + 10;
    DumpEditor editor;
    auto t0 = DumpEditor::Clock::time_point{} + 1000s;
    ui.scriptedAnswers = {BoxAnswer::Yes, BoxAnswer::Yes};
    EXPECT_EQ(editor.typeKey(text, pos, 1, '1', buffer, ui, t0).outcome,
              DumpEditor::Outcome::Stored);
    EXPECT_EQ(editor.typeKey(text, pos, 1, '2', buffer, ui, t0 + 5s).outcome,
              DumpEditor::Outcome::Stored);
    EXPECT_EQ(ui.boxes.size(), 1u);  // asked once
    EXPECT_EQ(editor.typeKey(text, pos, 1, '3', buffer, ui, t0 + 30s).outcome,
              DumpEditor::Outcome::Stored);
    EXPECT_EQ(ui.boxes.size(), 2u);  // 25 s after the last edit: asked again
    EXPECT_EQ(buffer.bytes[0], 0x30);
}

TEST_F(DumpTest, EditRefusedWithoutImageOrWhenDeclined) {
    buffer.viewStart = 0;
    buffer.viewEnd = 0xFF;
    std::string text = buildDumpPage(buffer, 5, serial).text;
    DumpEditor editor;
    // Declined (the default answer is No).
    EXPECT_EQ(editor.typeKey(text, 14, 1, 'F', buffer, ui).outcome, DumpEditor::Outcome::Declined);
    ui.scriptedAnswers = {BoxAnswer::Yes};
    EXPECT_EQ(editor.typeKey(text, 14, 1, 'F', buffer, ui).outcome, DumpEditor::Outcome::NoImage);
    EXPECT_EQ(ui.boxes.back().text, "    Please open file./请打开文件。    ");
    EXPECT_EQ(buffer.bytes[0], 0x00);
    EXPECT_FALSE(editor.confirmed());
}

}  // namespace
}  // namespace qmx::test
