#include "catalogue/option_set.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace qmx {
namespace {

const ModelEntry& model(std::string_view name) {
    const ModelEntry* m = findModel(name);
    if (!m) throw std::runtime_error("no model " + std::string(name));
    return *m;
}

OptionChoices pageDefaults(int family) {
    return defaultOptionChoices(family);
}

void set(OptionChoices& c, int family, std::string_view assignment) {
    ASSERT_EQ(setOption(c, family, assignment), "") << assignment;
}

TEST(Family0Speed, BaseDependsOnTheModel) {
    EXPECT_EQ(buildOptionSet(pageDefaults(0), model("M-064")).bytes,
              std::vector<std::uint8_t>{0x40});
    EXPECT_EQ(buildOptionSet(pageDefaults(0), model("M-067")).bytes,
              std::vector<std::uint8_t>{0x20});
    OptionChoices six = pageDefaults(0);
    set(six, 0, "speed=6T");
    const OptionSet m067 = buildOptionSet(six, model("M-067"));
    EXPECT_EQ(m067.speedOption(), 0x28);
    EXPECT_TRUE(m067.sixClock);
    EXPECT_EQ(buildOptionSet(six, model("M-064")).speedOption(), 0x48);
    EXPECT_EQ(buildOptionSet(six, model("M-101")).speedOption(), 0x48);
    EXPECT_EQ(buildOptionSet(six, model("M-098")).speedOption(), 0x28);
}

TEST(Family1, HasNoBytesAndNoOptions) {
    const OptionSet s = buildOptionSet(pageDefaults(1), model("M-085"));
    EXPECT_TRUE(s.bytes.empty());
    EXPECT_TRUE(familyOptions(1).empty());
    const OptionPage page = optionPage(1);
    ASSERT_EQ(page.rows.size(), 1u);
    EXPECT_TRUE(page.rows[0].notice);
    EXPECT_EQ(page.rows[0].label, "双倍速、加密位只能由编程器擦除、读、写。");
    OptionChoices c;
    EXPECT_NE(setOption(c, 1, "speed=6T"), "");
}

TEST(Family2Byte, DefaultsAndTheWorkedExample) {
    EXPECT_EQ(buildOptionSet(pageDefaults(2), model("M-070")).optionByte(), 0xFF);
    OptionChoices c = pageDefaults(2);
    set(c, 2, "speed=6T/双倍速");
    set(c, 2, "osc-gain=1/2 gain");
    set(c, 2, "erase-data-flash=YES");
    set(c, 2, "p10p11-check=yes");
    set(c, 2, "aux-ram=禁止访问");
    set(c, 2, "wdt-after-reset=只有停电关看门狗");
    const OptionSet s = buildOptionSet(c, model("M-070"));
    EXPECT_EQ(s.optionByte(), 0x22);
    EXPECT_TRUE(s.sixClock);
    EXPECT_TRUE(s.halfGain);
    ASSERT_EQ(s.bytes.size(), 1u);
}

TEST(Family2Byte, EachChoiceClearsItsOwnBit) {
    struct Case {
        const char* assignment;
        std::uint8_t expected;
    };
    const Case cases[] = {
        {"speed=6T", 0xFE},
        {"osc-gain=half", 0xEF},
        {"erase-data-flash=yes", 0xF7},
        {"p10p11-check=yes", 0xFB},
        {"aux-ram=deny", 0xBF},
        {"wdt-after-reset=power-off-only", 0x7F},
        {"download-wdt=io", 0xFF},
        {"download-wdt-pin=P2.3", 0xFF},
    };
    for (const Case& k : cases) {
        OptionChoices c = pageDefaults(2);
        set(c, 2, k.assignment);
        EXPECT_EQ(buildOptionSet(c, model("M-066")).optionByte(), k.expected) << k.assignment;
    }
}

TEST(Family34Bytes, DefaultsWithPrescaler256) {
    for (const char* name : {"M-002", "M-040"}) {
        const OptionSet s = buildOptionSet(pageDefaults(model(name).family), model(name));
        EXPECT_EQ(s.bytes, (std::vector<std::uint8_t>{0xFD, 0xFF, 0xFF, 0xFF, 0xFF})) << name;
        EXPECT_EQ(s.clockSource(), 0xFD);
        EXPECT_EQ(s.watchdogPinAddress(), 0xFF);
        EXPECT_TRUE(s.pinConflict.empty());
    }
}

TEST(Family34Bytes, Rs485OnP37WithHighReceiveLogic) {
    OptionChoices c = pageDefaults(3);
    set(c, 3, "rs485=io");
    set(c, 3, "rs485-pin=P3.7");
    set(c, 3, "rs485-logic=高接收,低发送");
    const OptionSet s = buildOptionSet(c, model("M-010"));
    EXPECT_EQ(s.rs485PinAddress(), 0xB7);
    EXPECT_EQ(s.startupControl(), 0xFB);
    EXPECT_EQ(s.watchdogPinAddress(), 0xFF);
}

TEST(Family34Bytes, WatchdogAndStartupBits) {
    OptionChoices c = pageDefaults(4);
    set(c, 4, "clock-source=external");
    set(c, 4, "wdt-power-up-start=yes");
    set(c, 4, "wdt-prescaler=2");
    set(c, 4, "p10p11-check=yes");
    set(c, 4, "erase-data-flash=yes");
    OptionSet s = buildOptionSet(c, model("M-026"));
    EXPECT_EQ(s.clockSource(), 0xFF);
    EXPECT_EQ(s.watchdogControl(), 0xD8);  // F8 + 0, bit 5 cleared
    EXPECT_EQ(s.startupControl(), 0xFC);
    set(c, 4, "wdt-idle-stop=yes");
    set(c, 4, "wdt-lock=yes");
    set(c, 4, "wdt-prescaler=64");
    s = buildOptionSet(c, model("M-026"));
    EXPECT_EQ(s.watchdogControl(), 0x55);  // F8 + 5 = FD, less bits 7, 5, 3
    set(c, 4, "external-wdt=io");
    set(c, 4, "external-wdt-pin=P1.6");
    EXPECT_EQ(buildOptionSet(c, model("M-026")).watchdogPinAddress(), 0x96);
}

TEST(PinConflict, AtOptionWriteOnlyWhenBothFunctionsAreOn) {
    OptionChoices c = pageDefaults(3);
    set(c, 3, "rs485-pin=P1.1");
    set(c, 3, "external-wdt-pin=P1.1");
    // The list check fires at once, even with both functions off.
    ASSERT_TRUE(pinListConflict(c).has_value());
    EXPECT_EQ(*pinListConflict(c), "请不要用同一个 I/O 口线控制 485 和 外部看门狗。");
    EXPECT_TRUE(buildOptionSet(c, model("M-002")).pinConflict.empty());
    set(c, 3, "rs485=io");
    EXPECT_TRUE(buildOptionSet(c, model("M-002")).pinConflict.empty());
    set(c, 3, "external-wdt=io");
    const OptionSet s = buildOptionSet(c, model("M-002"));
    EXPECT_EQ(s.pinConflict, kPinConflictMessage);
    EXPECT_EQ(s.rs485PinAddress(), 0x91);  // the bytes are still built
    EXPECT_EQ(s.watchdogPinAddress(), 0x91);
    set(c, 3, "external-wdt-pin=P3.7");
    EXPECT_FALSE(pinListConflict(c).has_value());
    EXPECT_TRUE(buildOptionSet(c, model("M-002")).pinConflict.empty());
}

TEST(PinAddress, FollowsTheTextRule) {
    EXPECT_EQ(pinAddress("P3.7"), 0xB7);
    EXPECT_EQ(pinAddress("P1.0"), 0x90);
    EXPECT_EQ(pinAddress("P1.7"), 0x97);
    EXPECT_EQ(pinAddress("P0.3"), 0xB3);  // any port but 1 counts as port 3
    EXPECT_EQ(pinAddress("P1.x"), 0x90);  // a non-digit bit counts as 0
    EXPECT_EQ(pinAddress(""), 0xB0);
    EXPECT_EQ(pinAddress("P"), 0xB0);
    for (std::string_view pin : ioPinList()) {
        const std::uint8_t a = pinAddress(pin);
        EXPECT_TRUE((a >> 4) == 0x9 || (a >> 4) == 0xB) << pin;
    }
}

TEST(PinLists, Contents) {
    ASSERT_EQ(ioPinList().size(), 15u);
    EXPECT_EQ(ioPinList()[14], "P3.7");
    EXPECT_EQ(ioPinList()[13], "P3.5");
    ASSERT_EQ(watchdogFeedPinList().size(), 36u);
    EXPECT_EQ(watchdogFeedPinList().front(), "P0.0");
    EXPECT_EQ(watchdogFeedPinList()[8], "P1.0");
    EXPECT_EQ(watchdogFeedPinList().back(), "P4.3");
    ASSERT_EQ(prescalerList().size(), 8u);
    EXPECT_EQ(prescalerList()[7], "256");
}

TEST(OptionListing, DefaultsMatchTheFreshPage) {
    for (int family = 0; family <= 4; ++family) {
        const OptionChoices page = pageDefaults(family);
        for (const OptionDescriptor& o : familyOptions(family)) {
            SCOPED_TRACE(std::string(o.name));
            EXPECT_EQ(page.*o.field, o.defaultIndex);
            ASSERT_EQ(o.choices.size(), o.values.size());
            ASSERT_GE(o.defaultIndex, 0);
            ASSERT_LT(static_cast<std::size_t>(o.defaultIndex), o.choices.size());
            // Every choice can be set back by its short name and by its text.
            for (std::size_t i = 0; i < o.choices.size(); ++i) {
                EXPECT_EQ(findChoice(o, o.values[i]), static_cast<int>(i));
                EXPECT_EQ(findChoice(o, o.choices[i]), static_cast<int>(i));
            }
        }
    }
    EXPECT_EQ(familyOptions(2).size(), 8u);
    EXPECT_EQ(familyOptions(3).size(), familyOptions(4).size());
    EXPECT_TRUE(familyOptions(7).empty());
}

TEST(SetOption, ReportsUnknownNamesAndValuesAndChangesNothing) {
    OptionChoices c = pageDefaults(2);
    const OptionChoices before = c;
    std::string err = setOption(c, 2, "sped=6T");
    EXPECT_NE(err.find("Unknown option \"sped\""), std::string::npos) << err;
    EXPECT_NE(err.find("osc-gain"), std::string::npos) << err;
    err = setOption(c, 2, "speed=7T");
    EXPECT_NE(err.find("Unknown value \"7T\""), std::string::npos) << err;
    EXPECT_NE(err.find("12T"), std::string::npos) << err;
    EXPECT_NE(setOption(c, 2, "speed"), "");
    EXPECT_NE(setOption(c, 2, "rs485=io"), "");  // a family-3 option
    EXPECT_EQ(c, before);
    EXPECT_EQ(setOption(c, 2, " Speed = 6t "), "");
    EXPECT_EQ(c.row0, 0);
}

TEST(OptionPageBuild, ResetsRowsButKeepsTabGroups) {
    OptionChoices c;
    set(c, 3, "rs485=io");
    set(c, 3, "wdt-power-up-start=yes");
    set(c, 3, "clock-source=external");
    resetOptionPage(c, 3);
    EXPECT_EQ(c.row0, 0);
    EXPECT_EQ(c.wdtPowerUpStart, 1);
    EXPECT_EQ(c.rs485, 1);
    resetOptionPage(c, 2);
    EXPECT_EQ(c.row0, 1);

    const OptionPage p0 = optionPage(0);
    EXPECT_EQ(p0.frameCaption, "Step4/步骤4: Double Speed  设置双倍速, 缺省为普通速度");
    ASSERT_EQ(p0.rows.size(), 1u);
    EXPECT_EQ(p0.rows[0].choice1, "12T/单倍速");
    EXPECT_FALSE(p0.noteBelowRows.empty());
    EXPECT_TRUE(p0.beepFrameHigh);
    const OptionPage p3 = optionPage(3);
    EXPECT_EQ(p3.rows.size(), 3u);
    EXPECT_TRUE(p3.showWatchdogRows && p3.showRs485Group && p3.showExternalWdtGroup);
    EXPECT_FALSE(p3.showAuxRamGroup);
    const OptionPage p2 = optionPage(2);
    EXPECT_TRUE(p2.showAuxRamGroup && p2.showEraseWdtGroup);
    EXPECT_FALSE(p2.showWatchdogRows);
}

TEST(DependentControls, FollowTheirSwitches) {
    OptionChoices c = pageDefaults(3);
    OptionEnables e = optionEnables(c);
    EXPECT_FALSE(e.prescaler);  // row 9 "NO"
    EXPECT_FALSE(e.idleRow);
    EXPECT_FALSE(e.rs485PinAndLogic);
    EXPECT_FALSE(e.externalWdtPin);
    EXPECT_FALSE(e.downloadWdtPin);
    set(c, 3, "wdt-power-up-start=yes");
    set(c, 3, "rs485=io");
    set(c, 3, "external-wdt=io");
    e = optionEnables(c);
    EXPECT_TRUE(e.prescaler && e.idleRow && e.rs485PinAndLogic && e.externalWdtPin);
}

}  // namespace
}  // namespace qmx
