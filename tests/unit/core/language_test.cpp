#include "core/language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/language_table.h"

namespace qmx {
namespace {

bool hasChinese(const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b >= 0xE3 && b <= 0xEF) return true;
    }
    return false;
}

// Feeds lines one by one, as a face receives them, and joins what is shown.
std::vector<std::string> shown(Localizer& localizer, const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines)
        if (auto text = localizer(line)) out.push_back(*text);
    return out;
}

TEST(Language, BilingualLinesComeApartWithTheirVariableParts) {
    const std::string clock = "Internal clock:11.059326MHz./内部时钟频率:11.059326M.";
    EXPECT_EQ(localize(clock, Language::Both), clock);
    EXPECT_EQ(localize(clock, Language::En), "Internal clock:11.059326MHz.");
    EXPECT_EQ(localize(clock, Language::Zh), "内部时钟频率:11.059326M.");

    const std::string baud = "Now baud is: / 当前波特率为: 115200 bps.";
    EXPECT_EQ(localize(baud, Language::En), "Now baud is: 115200 bps.");
    EXPECT_EQ(localize(baud, Language::Zh), "当前波特率为: 115200 bps.");

    const std::string end = "Handshake is failed. / 握手失败 (End: 20:28:04)";
    EXPECT_EQ(localize(end, Language::En), "Handshake is failed. (End: 20:28:04)");
    EXPECT_EQ(localize(end, Language::Zh), "握手失败 (结束: 20:28:04)");

    // A slash inside the English half (paths, "1/2") does not split it.
    const std::string ports = "Ports that exist: /dev/ttyS0, /dev/ttyUSB0 / 现有串口: /dev/ttyS0";
    EXPECT_EQ(localize(ports, Language::En), "Ports that exist: /dev/ttyS0, /dev/ttyUSB0");
    const std::string device = "/tmp/a.bin is not a serial device. / /tmp/a.bin 不是串口设备。";
    EXPECT_EQ(localize(device, Language::En), "/tmp/a.bin is not a serial device.");
    EXPECT_EQ(localize(device, Language::Zh), "/tmp/a.bin 不是串口设备。");
    EXPECT_EQ(localize("  OSCDN (OSC Control) / 振荡器控制:   1/2 gain", Language::Zh),
              "  振荡器控制:            1/2 增益");
}

TEST(Language, OneLanguageLinesAreTranslatedAndKeepTheirIndent) {
    EXPECT_EQ(localize("  下载时 P1.0, P1.1 须短路到地:          No", Language::En),
              "  Download only with P1.0, P1.1 grounded: No");
    EXPECT_EQ(localize("  Double speed (6 clock) / 双倍速:       Yes", Language::Zh),
              "  双倍速:                是");
    EXPECT_EQ(localize("下次冷启动后使用 内部 RC 振荡器         NO", Language::En),
              "Next cold start: internal RC oscillator:      NO");
    EXPECT_EQ(localize("MCU Type is: M-058 (catalogue: M-070, M-087)", Language::Zh),
              "MCU 型号: M-058 (型号表中: M-070, M-087)");
    // A text nobody translated still comes out, unchanged.
    EXPECT_EQ(localize("Cannot read /tmp/a/b.hex", Language::Zh), "Cannot read /tmp/a/b.hex");
}

TEST(Language, TwinLinesGiveWayToEachOther) {
    const std::vector<std::string> connect = {
        "We are trying to connect to your MCU ... ", "Chinese:正在尝试与 MCU/单片机 握手连接 ... ",
        "We are erasing application flash...", "正在擦除应用程序区..."};
    Localizer en(Language::En);
    EXPECT_EQ(shown(en, connect),
              (std::vector<std::string>{"We are trying to connect to your MCU ...",
                                        "We are erasing application flash..."}));
    Localizer zh(Language::Zh);
    EXPECT_EQ(shown(zh, connect), (std::vector<std::string>{"正在尝试与 MCU/单片机 握手连接 ...",
                                                            "正在擦除应用程序区..."}));

    // Inside one text (a box): the English line followed by its twin, or by its Chinese line.
    const std::string box = "Download Soft_ICE is succeed.\r\nChinese:下载 Soft_ICE 成功。";
    EXPECT_EQ(localize(box, Language::En), "Download Soft_ICE is succeed.");
    EXPECT_EQ(localize(box, Language::Zh), "下载 Soft_ICE 成功。");
    const std::string load =
        "    File over the valid scope.\r\n文件超出有效空间, 超出的部分已丢失。"
        "\r\n\r\n         按确定继续。";
    EXPECT_EQ(localize(load, Language::En),
              "    File over the valid scope.\r\n\r\n         Press OK to continue.");
    EXPECT_EQ(localize(load, Language::Zh),
              "    文件超出有效空间, 超出的部分已丢失。\r\n\r\n         按确定继续。");
    EXPECT_EQ(localize("Chinese:只有中文", Language::En), std::nullopt);
}

TEST(Language, TheHintListAppearsOnceInEachLanguage) {
    const std::vector<std::string> hints = {
        "Connection is failure. You can try:",
        " 1.Give your MCU Power On Reset.",
        "   or null.",
        "Chinese:连接失败，请尝试以下操作：",
        " 1.给 MCU/单片机上电复位(冷启动，先没有电，再上电)。",
        " 3.因 PLCC、PQFP 转换座引线过长而引起时钟振荡不对，请调整参数。",
        " 仍在连接中, 请给 MCU 上电..."};
    Localizer en(Language::En);
    EXPECT_EQ(shown(en, hints),
              (std::vector<std::string>{
                  "Connection is failure. You can try:", " 1.Give your MCU Power On Reset.",
                  "   or null.", " Still connecting: please switch the MCU's power on ..."}));
    Localizer zh(Language::Zh);
    const auto chinese = shown(zh, hints);
    ASSERT_EQ(chinese.size(), 4u);
    for (const std::string& line : chinese)
        EXPECT_TRUE(hasChinese(line)) << line;

    // The ISP demo's list is in Chinese only: in English every line is translated.
    Localizer demo(Language::En);
    const auto english =
        shown(demo, {"连接失败，请尝试以下操作：",
                     " 3.因 PLCC、PQFP 转换座引线过长而引起时钟振荡不对，请调整参数。"});
    EXPECT_EQ(english,
              (std::vector<std::string>{"Connection is failure. You can try:",
                                        " 3.Because PLCC-DIP/PQFP-DIP Socket trace too long."}));
}

TEST(Language, EveryEntryIsInItsOwnLanguageAndUsesOnlyItsVariableParts) {
    auto holes = [](const std::string& s) {
        std::size_t n = 0;
        for (std::size_t at = s.find("{}"); at != std::string::npos; at = s.find("{}", at + 2))
            ++n;
        return n;
    };
    for (const LanguageEntry& e : languageTable()) {
        const std::size_t parts = holes(e.both);
        for (const char* form : {e.en, e.zh}) {
            if (form == nullptr) continue;
            const std::string text = form;
            EXPECT_LE(holes(text), parts) << e.both;
            for (std::size_t at = text.find('{'); at != std::string::npos;
                 at = text.find('{', at + 1))
                if (at + 2 < text.size() && text[at + 2] == '}') {
                    EXPECT_LT(static_cast<std::size_t>(text[at + 1] - '0'), parts) << e.both;
                }
        }
        if (e.en != nullptr) {
            EXPECT_FALSE(hasChinese(e.en)) << e.both;
        }
        if (e.zh != nullptr) {
            EXPECT_TRUE(hasChinese(e.zh)) << e.both;
        }
    }
}

TEST(Language, ChosenByNameOrByTheEnvironment) {
    EXPECT_EQ(parseLanguage("zh"), Language::Zh);
    EXPECT_EQ(parseLanguage("fr"), std::nullopt);
    ::setenv("LC_ALL", "", 1);
    ::unsetenv("LC_MESSAGES");
    ::setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(languageFromEnvironment(), Language::Zh);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(languageFromEnvironment(), Language::Both);
    ::unsetenv("LC_ALL");
    ::setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    EXPECT_EQ(languageFromEnvironment(), Language::Both);
    ::unsetenv("LC_MESSAGES");
    ::unsetenv("LANG");
}

}  // namespace
}  // namespace qmx
