// The status report's text lines and option panel for each firmware letter.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/status_report.h"

namespace qmx {
namespace {

using Lines = std::vector<std::string>;

bool has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

StatusInput input(const char* letter, std::uint8_t version, std::uint8_t option) {
    StatusInput in;
    in.suffix = letter;
    in.version = version;
    in.option = option;
    return in;
}

TEST(VersionText, HexDigitsWithAPoint) {
    EXPECT_EQ(versionText(0x36), "3.6");
    EXPECT_EQ(versionText(0x00), "");
    EXPECT_EQ(versionText(0x2A), "2.A");
    EXPECT_EQ(versionNumber("3.6"), 36);
    EXPECT_EQ(versionNumber("2.7"), 27);
    EXPECT_EQ(versionNumber("2.A"), 20);  // only the leading number counts
    EXPECT_EQ(versionNumber(""), 0);
}

TEST(StatusLines, LetterAReadsDoubleSpeedFromBit3) {
    StatusInput in = input("A", 0x21, 0x08);
    in.identifiedModel = "M-063";
    bool ds = false;
    Lines l = statusReportLines(in, ds);
    EXPECT_EQ(l, (Lines{"MCU Type is: M-063", "MCU Firmware Version: 2.1A",
                        "Chinese:MCU 固件版本号: 2.1A", "Double speed: Yes"}));
    EXPECT_TRUE(ds);
    l = statusReportLines(input("A", 0x21, 0x01), ds);
    EXPECT_EQ(l.back(), "Double speed: No");
    EXPECT_FALSE(ds);
    // The panel of letter A looks at bit 0 instead.
    auto panel = statusPanelLabels(input("A", 0x21, 0x01));
    EXPECT_EQ(panel[3].text, "Double speed (6 clock) / 双倍速:       No");
    EXPECT_TRUE(panel[3].visible);
}

TEST(StatusLines, LetterBIsAlwaysUnknownAndVersionZeroLeavesTheLetter) {
    bool ds = true;
    Lines l = statusReportLines(input("B", 0x00, 0xFF), ds);
    EXPECT_EQ(l, (Lines{"MCU Firmware Version: B", "Chinese:MCU 固件版本号: B",
                        "Double speed: Unknown"}));
    EXPECT_FALSE(ds);
    auto panel = statusPanelLabels(input("B", 0x00, 0xFF));
    EXPECT_FALSE(panel[1].visible);  // no model name
    EXPECT_FALSE(panel[2].visible);  // no version text
    EXPECT_EQ(panel[3].text, "Double speed (6 clock) / 双倍速:     Unknown");
}

TEST(StatusLines, LetterCShowsTheNewerLinesOnlyAboveVersion27) {
    bool ds = false;
    Lines old = statusReportLines(input("C", 0x27, 0x00), ds);
    EXPECT_EQ(old.size(), 4u);
    EXPECT_TRUE(ds);  // bit 0 clear: double speed
    EXPECT_TRUE(has(old, "  Double speed (6 clock) / 双倍速:       Yes"));
    EXPECT_TRUE(has(old, "  OSCDN (OSC Control) / 振荡器控制:   1/2 gain"));
    Lines newer = statusReportLines(input("C", 0x28, 0xFF), ds);
    ASSERT_EQ(newer.size(), 8u);
    EXPECT_FALSE(ds);
    EXPECT_EQ(newer[3], "  OSCDN (OSC Control) / 振荡器控制:   full gain");
    EXPECT_EQ(newer[4], "  下载时 P1.0, P1.1 须短路到地:          No");
    EXPECT_EQ(newer[5], "  擦除 AP 区时一并擦除 data flash 区:    No");
    EXPECT_EQ(newer[6], "  允许访问内部扩展RAM(MCU 新版本C版有效)");
    EXPECT_EQ(newer[7], "  用户软件启动看门狗后, 复位关看门狗(单片机新版本C版有效)");
    Lines cleared = statusReportLines(input("C", 0x36, 0x00), ds);
    EXPECT_EQ(cleared.back(), "  用户软件启动看门狗后, 只有停电关看门狗(单片机新版本C版有效)");
}

TEST(StatusLines, LetterDWatchdogLinesFromE1) {
    StatusInput in = input("D", 0x35, 0x00);
    in.identifiedModel = "M-002";
    in.ext = {0x02, 0x25, 0x07, 0x00, 0xB2};
    bool ds = true;
    Lines l = statusReportLines(in, ds);
    EXPECT_TRUE(ds);  // letters D and E leave it alone
    EXPECT_TRUE(has(l, "下次冷启动后使用 内部 RC 振荡器         NO"));
    EXPECT_TRUE(has(l, "下次冷启动须 P1.0,P1.1=0,0 才判是否下载 NO"));
    EXPECT_TRUE(has(l, "下次下载用户程序时将数据Flash区一并清0: NO"));
    EXPECT_TRUE(has(l, "启动内部看门狗后禁止改看门狗控制寄存器  YES"));
    EXPECT_TRUE(has(l, "下次冷启动后内部看门狗预分频数(未启用): 64"));
    EXPECT_TRUE(has(l, "下次冷启动自动用有关参数启动内部看门狗  NO"));
    EXPECT_TRUE(has(l, "下次Idle(空闲)状态时停止内部看门狗计数  YES"));
    EXPECT_TRUE(has(l, "无 485"));
    EXPECT_FALSE(has(l, "下次冷启动后485逻辑: 高电平发,低电平接收"));
    EXPECT_FALSE(has(l, "下次冷启动后485逻辑: 高电平收,低电平发送"));
    EXPECT_EQ(l.back(), "下次冷启动后外部看门狗喂狗线口地址      P3.2");
}

TEST(StatusLines, LetterE485PinAndLogic) {
    StatusInput in = input("E", 0x36, 0x00);
    in.ext = {0x00, 0x00, 0x04, 0x97, 0x00};
    bool ds = false;
    Lines l = statusReportLines(in, ds);
    EXPECT_TRUE(has(l, "下次冷启动后使用 内部 RC 振荡器         YES"));
    EXPECT_TRUE(has(l, "下次冷启动后内部看门狗预分频数:         2"));
    EXPECT_TRUE(has(l, "下次冷启动自动用有关参数启动内部看门狗  YES"));
    EXPECT_TRUE(has(l, "下次冷启动后 485 控制线口地址:          P1.7"));
    EXPECT_TRUE(has(l, "下次冷启动后485逻辑: 高电平发,低电平接收"));
    EXPECT_EQ(l.back(), "无外部看门狗");
}

TEST(StatusLines, UnknownLetterGivesOnlyTheVersion) {
    bool ds = true;
    Lines l = statusReportLines(input("Z", 0x36, 0xFF), ds);
    EXPECT_EQ(l.size(), 2u);
    EXPECT_TRUE(ds);
}

TEST(StatusPanel, LettersDAndEGiveEachWatchdogLineItsOwnLabelInReportOrder) {
    StatusInput in = input("D", 0x35, 0x00);
    in.identifiedModel = "M-002";
    in.ext = {0x02, 0x25, 0x07, 0x00, 0x00};
    auto p = statusPanelLabels(in);
    ASSERT_EQ(p.size(), 16u);
    EXPECT_FALSE(p[0].visible);
    EXPECT_FALSE(p[15].visible);
    EXPECT_EQ(p[1].text, "     MCU: M-002    固件版本号: 3.5D");
    EXPECT_EQ(p[2].text, "下次冷启动后使用 内部 RC 振荡器          NO");
    EXPECT_EQ(p[5].text, "启动内部看门狗后禁止改看门狗控制寄存器   YES");
    EXPECT_EQ(p[6].text, "下次冷启动后内部看门狗预分频数(未启用): 64");
    EXPECT_EQ(p[7].text, "下次冷启动自动用有关参数启动内部看门狗  NO");
    EXPECT_EQ(p[8].text, "下次Idle(空闲)状态时停止内部看门狗计数  YES");
    EXPECT_EQ(p[9].text, "无 485");
    EXPECT_FALSE(p[10].visible);  // no 485 pin: no logic label
    EXPECT_EQ(p[11].text, "无外部看门狗");
    for (int i = 1; i <= 9; ++i)
        EXPECT_TRUE(p[static_cast<std::size_t>(i)].enabled) << i;
}

TEST(StatusPanel, ResetShowsOnlyTheHints) {
    auto p = resetPanelLabels();
    ASSERT_EQ(p.size(), 16u);
    EXPECT_TRUE(p[0].visible);
    EXPECT_TRUE(p[15].visible);
    for (int i = 1; i <= 12; ++i) {
        EXPECT_FALSE(p[static_cast<std::size_t>(i)].visible);
        EXPECT_FALSE(p[static_cast<std::size_t>(i)].enabled);
    }
}

TEST(StatusPanel, PinNamesAndPrescaler) {
    EXPECT_EQ(pinName(0x97), "P1.7");
    EXPECT_EQ(pinName(0xB2), "P3.2");
    EXPECT_EQ(pinName(0x00), "");
    EXPECT_EQ(pinName(0xA1), "");
    EXPECT_EQ(watchdogPrescaler(0x25), 64);
    EXPECT_EQ(watchdogPrescaler(0x07), 256);
    EXPECT_EQ(watchdogPrescaler(0x00), 2);
}

TEST(ClockText, ShortestDecimalMegahertz) {
    EXPECT_EQ(clockMHzText(11059200), "11.0592");
    EXPECT_EQ(clockMHzText(24000000), "24");
    EXPECT_EQ(clockMHzText(12000000), "12");
    EXPECT_EQ(clockMHzText(11059326), "11.059326");
}

}  // namespace
}  // namespace qmx
