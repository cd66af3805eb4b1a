// Serial-number auto-increment: validation, byte layouts per format, the advance, persistence.
#include "ops/serial_number_store.h"

#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "unit/image/image_fixture.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SerialTest : public ImageTest {
  protected:
    void SetUp() override {
        ImageTest::SetUp();
        store.setPath(dir / "settings.ini");
        store.load();
        buffer.imageLoaded = true;
        buffer.viewStart = 0;
        buffer.viewEnd = 0x3FF;
        buffer.loadStart = 0;
        buffer.loadEnd = 0x3FF;
    }
    void set(const char* address, const char* count, const char* next, SerialFormat format) {
        serial.addressText = address;
        serial.lengthText = count;
        serial.nextValueText = next;
        serial.format = format;
    }
    Bytes cells(long first, long count) const {
        return Bytes(buffer.bytes.begin() + first, buffer.bytes.begin() + first + count);
    }
    SettingsStore store;
};

TEST(SerialEncoding, ByteLayoutsOfTheThreeFormats) {
    EXPECT_EQ(encodeSerialNumber("1234", 2, SerialFormat::Binary).bytes, (Bytes{0x04, 0xD2}));
    EXPECT_EQ(encodeSerialNumber("1234", 2, SerialFormat::Bcd).bytes, (Bytes{0x12, 0x34}));
    EXPECT_EQ(encodeSerialNumber("1234", 4, SerialFormat::Ascii).bytes,
              (Bytes{0x31, 0x32, 0x33, 0x34}));
    EXPECT_EQ(encodeSerialNumber("2147483647", 4, SerialFormat::Binary).bytes,
              (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(encodeSerialNumber("0000", 8, SerialFormat::Bcd).bytes, Bytes(8, 0x00));
    // BCD beyond the fifteen padding zeros: the missing high digits count as 0.
    auto wide = encodeSerialNumber("12", 16, SerialFormat::Bcd);
    EXPECT_EQ(wide.bytes.back(), 0x12);
    EXPECT_EQ(wide.bytes.front(), 0x00);
    EXPECT_EQ(wide.nextValueText, std::string(15, '0') + "12");
    // ASCII zero-pads to the byte count and shows it.
    auto ascii = encodeSerialNumber(" 42 ", 5, SerialFormat::Ascii);
    EXPECT_EQ(ascii.bytes, (Bytes{'0', '0', '0', '4', '2'}));
    EXPECT_EQ(ascii.nextValueText, "00042");
}

TEST(SerialEncoding, Refusals) {
    EXPECT_EQ(encodeSerialNumber("12a", 4, SerialFormat::Bcd).error, " '下一个值' 应输入10进制数");
    EXPECT_EQ(encodeSerialNumber("-1", 4, SerialFormat::Bcd).error, " '下一个值' 应输入10进制数");
    EXPECT_EQ(encodeSerialNumber("2147483648", 4, SerialFormat::Binary).error,
              "下一值必须小于 2147483648。");
    EXPECT_EQ(encodeSerialNumber("99999999999999999999", 4, SerialFormat::Bcd).error,
              "下一值必须小于 2147483648。");
    EXPECT_EQ(encodeSerialNumber("256", 1, SerialFormat::Binary).error, "自动增量字节数太小");
    EXPECT_EQ(encodeSerialNumber("12345", 2, SerialFormat::Bcd).error, "自动增量字节数太小");
    EXPECT_EQ(encodeSerialNumber("123", 2, SerialFormat::Ascii).error, "自动增量字节数太小");
    EXPECT_EQ(encodeSerialNumber("1", 5, SerialFormat::Binary).error,
              "选择 16进制时，字节数必须小于或等于 4。");
    EXPECT_EQ(encodeSerialNumber("1", 17, SerialFormat::Bcd).error, "字节数必须小于或等于 16。");
    EXPECT_TRUE(encodeSerialNumber("", 2, SerialFormat::Bcd).error.empty());  // empty is 0
    EXPECT_TRUE(encodeSerialNumber("0012345", 3, SerialFormat::Bcd).error.empty());
}

TEST_F(SerialTest, AddressValidation) {
    const ModelEntry& m070 = model("M-070");  // family 2: data end 0x37FF
    set("3", "4", "1", SerialFormat::Bcd);
    EXPECT_TRUE(validateSerialAddress(serial, m070, ui));
    EXPECT_TRUE(serial.active);
    EXPECT_EQ(serial.address, 3);
    EXPECT_EQ(serial.count, 4);

    set("2", "4", "1", SerialFormat::Bcd);
    EXPECT_FALSE(validateSerialAddress(serial, m070, ui));
    EXPECT_FALSE(serial.active);
    EXPECT_EQ(ui.boxes.back().text, "自动增量低位地址太小或字节数太长");

    set("3800", "4", "1", SerialFormat::Bcd);
    EXPECT_FALSE(validateSerialAddress(serial, m070, ui));
    EXPECT_EQ(ui.boxes.back().text, "自动增量低位地址太大");

    // Families 0 and 1 use the program end.
    set("8000", "4", "1", SerialFormat::Bcd);
    EXPECT_FALSE(validateSerialAddress(serial, model("M-076"), ui));
    set("7FFF", "4", "1", SerialFormat::Bcd);
    EXPECT_TRUE(validateSerialAddress(serial, model("M-076"), ui));

    // A number needs at least one byte.
    set("100", "0", "1", SerialFormat::Bcd);
    EXPECT_FALSE(validateSerialAddress(serial, m070, ui));
    EXPECT_EQ(ui.boxes.back().text, "自动增量字节数太小");
}

TEST_F(SerialTest, DefaultsWriteEightZeroBytesAtTheTop) {
    buffer.bytes.fill(0xEE);
    SerialNumberSpec defaults;
    serial = defaults;
    ASSERT_TRUE(serialCheckBoxChanged(serial, true, buffer, model("M-064"), store, ui));
    EXPECT_TRUE(serial.active);
    EXPECT_EQ(cells(0xFFF8, 8), Bytes(8, 0x00));
    EXPECT_EQ(buffer.bytes[0xFFF7], 0xEE);
    EXPECT_EQ(serial.nextValueText, std::string(16, '0'));
    // The view now reaches the number and is scrolled so that A's row is the fourth shown.
    EXPECT_EQ(buffer.viewEnd, 0xFFFF);
    EXPECT_EQ(buffer.scrollValue, (0xFFFF - buffer.viewStart) / 16 - 3);
}

TEST_F(SerialTest, BcdValueIsZeroPaddedInItsBox) {
    set("100", "2", "7", SerialFormat::Bcd);
    ASSERT_TRUE(applySerialNumber(serial, buffer, model("M-070"), store, ui));
    EXPECT_EQ(serial.nextValueText, "0007");
    EXPECT_EQ(cells(0xFF, 2), (Bytes{0x00, 0x07}));
}

TEST_F(SerialTest, RefusedWriteLeavesTheBufferAlone) {
    buffer.bytes.fill(0xEE);
    set("100", "1", "256", SerialFormat::Binary);
    EXPECT_FALSE(applySerialNumber(serial, buffer, model("M-070"), store, ui));
    EXPECT_EQ(ui.boxes.back().text, "自动增量字节数太小");
    EXPECT_EQ(buffer.bytes[0x100], 0xEE);
    EXPECT_FALSE(serial.active);

    // Increments that are not a positive whole number the cells can hold are refused too.
    for (const char* increment : {"0", "-1", "1e20", "1.5", "", "256"}) {
        set("100", "1", "7", SerialFormat::Binary);
        serial.incrementText = increment;
        EXPECT_FALSE(applySerialNumber(serial, buffer, model("M-070"), store, ui)) << increment;
        EXPECT_FALSE(serial.active);
    }
    EXPECT_EQ(buffer.bytes[0x100], 0xEE);
    // Nothing refused reaches the settings file.
    EXPECT_FALSE(std::filesystem::exists(dir / "settings.ini"));
    serial.incrementText = "255";
    EXPECT_TRUE(applySerialNumber(serial, buffer, model("M-070"), store, ui));
}

TEST_F(SerialTest, NumberThatOutgrowsItsCellsIsNeverWrappedRound) {
    set("1FF", "1", "99", SerialFormat::Bcd);
    serial.incrementText = "1";
    ASSERT_TRUE(serialCheckBoxChanged(serial, true, buffer, model("M-070"), store, ui));
    EXPECT_FALSE(serialAfterSuccess(serial, buffer, store, ui));
    EXPECT_EQ(serial.nextValueText, "100");
    EXPECT_FALSE(serial.active) << "no further chip may be programmed with the old number";
    EXPECT_EQ(buffer.bytes[0x1FF], 0x99);
    SettingsStore again(dir / "settings.ini");
    again.load();
    EXPECT_EQ(again.read("Auto_Increase", "next_value"), "100");

    set("1FF", "4", "9999", SerialFormat::Ascii);
    serial.active = true;
    advanceSerialNumber(serial);
    EXPECT_EQ(serial.nextValueText, "10000");
    EXPECT_EQ(encodeSerialNumber(serial.nextValueText, 4, SerialFormat::Ascii).error,
              "自动增量字节数太小");
}

TEST_F(SerialTest, AdvanceWidthsPerFormat) {
    serial.active = true;
    serial.count = 2;
    serial.format = SerialFormat::Binary;
    serial.nextValueText = "1234";
    serial.incrementText = "1";
    advanceSerialNumber(serial);
    EXPECT_EQ(serial.nextValueText, "001235");

    serial.format = SerialFormat::Bcd;
    serial.nextValueText = "0099";
    serial.incrementText = "5";
    advanceSerialNumber(serial);
    EXPECT_EQ(serial.nextValueText, "0104");

    serial.format = SerialFormat::Ascii;
    serial.count = 3;
    serial.nextValueText = "009";
    serial.incrementText = "1";
    advanceSerialNumber(serial);
    EXPECT_EQ(serial.nextValueText, "010");

    serial.active = false;  // only an applied number advances
    advanceSerialNumber(serial);
    EXPECT_EQ(serial.nextValueText, "010");
}

TEST_F(SerialTest, AfterEachChipTheNextNumberIsWrittenAndPersisted) {
    set("1FF", "2", "0041", SerialFormat::Bcd);
    serial.incrementText = "1";
    ASSERT_TRUE(serialCheckBoxChanged(serial, true, buffer, model("M-070"), store, ui));
    EXPECT_EQ(cells(0x1FE, 2), (Bytes{0x00, 0x41}));
    ASSERT_TRUE(serialAfterSuccess(serial, buffer, store, ui));
    EXPECT_EQ(cells(0x1FE, 2), (Bytes{0x00, 0x42}));
    EXPECT_TRUE(serial.active);

    // A fresh start reads what was saved.
    SettingsStore again(dir / "settings.ini");
    again.load();
    SerialNumberSpec restored;
    loadSerialSettings(restored, again);
    EXPECT_EQ(restored.nextValueText, "0042");
    EXPECT_EQ(restored.addressText, "1FF");
    EXPECT_EQ(restored.lengthText, "2");
    EXPECT_EQ(restored.format, SerialFormat::Bcd);
    EXPECT_EQ(again.read("Auto_Increase", "numeral_system"), "1");
    EXPECT_EQ(again.read("Auto_Increase", "Increase"), "1");
}

TEST_F(SerialTest, EditingOrUntickingStopsTheNumber) {
    set("1FF", "2", "5", SerialFormat::Bcd);
    ASSERT_TRUE(serialCheckBoxChanged(serial, true, buffer, model("M-070"), store, ui));
    serialParametersEdited(serial);
    EXPECT_FALSE(serial.active);
    // Not applied: the success step leaves the number as it was.
    const std::string before = serial.nextValueText;
    EXPECT_TRUE(serialAfterSuccess(serial, buffer, store, ui));
    EXPECT_EQ(serial.nextValueText, before);

    ASSERT_TRUE(serialCheckBoxChanged(serial, true, buffer, model("M-070"), store, ui));
    serialCheckBoxChanged(serial, false, buffer, model("M-070"), store, ui);
    EXPECT_FALSE(serial.active);
    EXPECT_FALSE(serial.enabled);
}

TEST_F(SerialTest, StoredSettingsAndTheirDefaults) {
    SerialNumberSpec s;
    s.format = SerialFormat::Ascii;
    loadSerialSettings(s, store);  // empty store: the defaults
    EXPECT_EQ(s.addressText, "FFFF");
    EXPECT_EQ(s.lengthText, "8");
    EXPECT_EQ(s.nextValueText, "0000");
    EXPECT_EQ(s.incrementText, "1");
    EXPECT_EQ(s.format, SerialFormat::Bcd);

    store.set("Auto_Increase", "numeral_system", "7");
    loadSerialSettings(s, store);
    EXPECT_EQ(s.format, SerialFormat::Binary);  // out of range selects the first format
    store.set("Auto_Increase", "numeral_system", "2");
    loadSerialSettings(s, store);
    EXPECT_EQ(s.format, SerialFormat::Ascii);
}

}  // namespace
}  // namespace qmx::test
