#include "catalogue/option_set.h"

#include <cstddef>

#include "catalogue/text_util.h"

namespace qmx {
namespace {

constexpr std::string_view kCaptionDoubleSpeed =
    "Step4/步骤4: Double Speed  设置双倍速, 缺省为普通速度";
constexpr std::string_view kCaptionNewer = "Step4/步骤4: 设置本框和右下方文件夹“选项”中的各项";

constexpr std::string_view kSpeedLabel = "Double speed / 双倍速:";
constexpr std::string_view kSix = "6T/双倍速";
constexpr std::string_view kTwelve = "12T/单倍速";
constexpr std::string_view kGainLabel = " OSCDN (OSC Control):";
constexpr std::string_view kF2ConditionLabel = "下次冷启动须 P1.0,P1.1=0,0 才判是否下载程序";
constexpr std::string_view kClockLabel = "下次冷启动后时钟源为:";
constexpr std::string_view kF3ConditionLabel = "下次冷启动必须 P1.0,P1.1=0,0 才判是否下载程序";
constexpr std::string_view kF3EraseLabel = "下次下载用户应用程序时将数据 Flash 区一并清0";
constexpr std::string_view kFamily1Notice = "双倍速、加密位只能由编程器擦除、读、写。";

std::string_view entryAt(const std::vector<std::string_view>& list, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return {};
    return list[static_cast<std::size_t>(index)];
}

OptionDescriptor yesNo(std::string_view name, std::string_view label, std::string_view control,
                       int OptionChoices::*field) {
    return {name, label, control, {"YES", "NO"}, {"yes", "no"}, 1, field};
}

OptionDescriptor pinOption(std::string_view name, std::string_view label, std::string_view control,
                           const std::vector<std::string_view>& pins, int defaultIndex,
                           int OptionChoices::*field) {
    return {name, label, control, pins, pins, defaultIndex, field};
}

OptionDescriptor speedOption() {
    return {"speed",       kSpeedLabel, "Option0",           {kSix, kTwelve},
            {"6T", "12T"}, 1,           &OptionChoices::row0};
}

// Family 2: speed, oscillator gain, the P1.0/P1.1 condition, data flash erase, the download
// watchdog, AUX-RAM and the watchdog after reset.
std::vector<OptionDescriptor> family2Options() {
    return {
        speedOption(),
        {"osc-gain",
         kGainLabel,
         "Option1",
         {"1/2 gain", "full gain"},
         {"half", "full"},
         1,
         &OptionChoices::row1},
        yesNo("p10p11-check", kF2ConditionLabel, "Option2", &OptionChoices::row2),
        yesNo("erase-data-flash", "下次下载用户应用程序时将数据 Flash 区一并擦除", "opt_erase_data",
              &OptionChoices::eraseData),
        {"download-wdt",
         "外部看门狗:",
         "opt_ISP_DEMO_WDT",
         {"无", "用1个I/O口喂狗"},
         {"none", "io"},
         0,
         &OptionChoices::downloadWdt},
        pinOption("download-wdt-pin", "外部看门狗:", "comb_WDT", watchdogFeedPinList(), 0,
                  &OptionChoices::downloadWdtPin),
        {"aux-ram",
         "内部扩展AUX-RAM:",
         "optAUX_RAM_NO/optAUX_RAM_YES",
         {"禁止访问", "允许访问(强烈推荐)"},
         {"deny", "allow"},
         1,
         &OptionChoices::auxRam},
        {"wdt-after-reset",
         "用户软件启动内部看门狗后",
         "optRST_CLOSE_WDT_YES/optRST_CLOSE_WDT_NO",
         {"复位关看门狗", "只有停电关看门狗"},
         {"reset-stops", "power-off-only"},
         0,
         &OptionChoices::resetWdt},
    };
}

// Families 3 and 4: clock source, the P1.0/P1.1 condition, data flash erase, RS-485 control,
// the external watchdog and the internal watchdog's rows.
std::vector<OptionDescriptor> family34Options() {
    return {
        {"clock-source",
         kClockLabel,
         "Option0",
         {"内部RC振荡器", "外部晶体或时钟"},
         {"internal-rc", "external"},
         0,
         &OptionChoices::row0},
        yesNo("p10p11-check", kF3ConditionLabel, "Option1", &OptionChoices::row1),
        yesNo("erase-data-flash", kF3EraseLabel, "Option2", &OptionChoices::row2),
        {"rs485",
         "485收发控制:",
         "opt_485_pin",
         {"无485", "用1个I/O口控制"},
         {"none", "io"},
         0,
         &OptionChoices::rs485},
        pinOption("rs485-pin", "485收发控制:", "comb_485_pin", ioPinList(), 0,
                  &OptionChoices::rs485Pin),
        {"rs485-logic",
         "控制逻辑:",
         "opt_485_logic",
         {"高电平发送,低接收", "高接收,低发送"},
         {"high-send", "high-receive"},
         0,
         &OptionChoices::rs485Logic},
        {"external-wdt",
         "外部看门狗:",
         "opt_External_WDT",
         {"无", "用1个I/O口喂狗"},
         {"none", "io"},
         0,
         &OptionChoices::externalWdt},
        pinOption("external-wdt-pin", "外部看门狗:", "comb_ISP_DEMO_WDT", ioPinList(), 1,
                  &OptionChoices::externalWdtPin),
        yesNo("wdt-lock", kWatchdogRowLabels[0], "Option8", &OptionChoices::wdtLock),
        yesNo("wdt-power-up-start", kWatchdogRowLabels[1], "Option9",
              &OptionChoices::wdtPowerUpStart),
        yesNo("wdt-idle-stop", kWatchdogRowLabels[2], "Option10", &OptionChoices::wdtIdleStop),
        {"wdt-prescaler", "上电自动启动内部看门狗时的预分频数", "comWDT_Prescalar", prescalerList(),
         prescalerList(), 7, &OptionChoices::wdtPrescaler},
    };
}

std::vector<OptionDescriptor> buildFamilyOptions(int family) {
    switch (family) {
        case 0:
            return {speedOption()};
        case 2:
            return family2Options();
        case 3:
        case 4:
            return family34Options();
        default:
            return {};
    }
}

std::string joinNames(const std::vector<OptionDescriptor>& options) {
    std::string s;
    for (const OptionDescriptor& o : options) {
        if (!s.empty()) s += ", ";
        s += o.name;
    }
    return s;
}

std::string joinValues(const OptionDescriptor& option) {
    std::string s;
    for (std::size_t i = 0; i < option.values.size(); ++i) {
        if (!s.empty()) s += ", ";
        s += option.values[i];
    }
    return s;
}

// Bit address of the chosen row of a pin list, FFh when the row is outside the list.
std::uint8_t pinRowAddress(int row) {
    std::string_view text = entryAt(ioPinList(), row);
    return text.empty() ? 0xFF : pinAddress(text);
}

std::uint8_t clearBit(std::uint8_t b, int bit) {
    return static_cast<std::uint8_t>(b & ~(1u << bit));
}

}  // namespace

const std::vector<std::string_view>& ioPinList() {
    static const std::vector<std::string_view> pins = {
        "P1.0", "P1.1", "P1.2", "P1.3", "P1.4", "P1.5", "P1.6", "P1.7",
        "P3.0", "P3.1", "P3.2", "P3.3", "P3.4", "P3.5", "P3.7",
    };
    return pins;
}

const std::vector<std::string_view>& watchdogFeedPinList() {
    static const std::vector<std::string_view> pins = {
        "P0.0", "P0.1", "P0.2", "P0.3", "P0.4", "P0.5", "P0.6", "P0.7", "P1.0",
        "P1.1", "P1.2", "P1.3", "P1.4", "P1.5", "P1.6", "P1.7", "P2.0", "P2.1",
        "P2.2", "P2.3", "P2.4", "P2.5", "P2.6", "P2.7", "P3.0", "P3.1", "P3.2",
        "P3.3", "P3.4", "P3.5", "P3.6", "P3.7", "P4.0", "P4.1", "P4.2", "P4.3",
    };
    return pins;
}

const std::vector<std::string_view>& prescalerList() {
    static const std::vector<std::string_view> rows = {"2",  "4",  "8",   "16",
                                                       "32", "64", "128", "256"};
    return rows;
}

std::uint8_t pinAddress(std::string_view pinText) {
    const bool port1 = pinText.size() >= 2 && pinText[1] == '1';
    int n = 0;
    if (!pinText.empty() && pinText.back() >= '0' && pinText.back() <= '9') {
        n = pinText.back() - '0';
    }
    return static_cast<std::uint8_t>((port1 ? 0x90 : 0xB0) + n);
}

std::optional<std::string_view> pinListConflict(const OptionChoices& choices) {
    std::string_view rs485 = entryAt(ioPinList(), choices.rs485Pin);
    std::string_view wdt = entryAt(ioPinList(), choices.externalWdtPin);
    if (!rs485.empty() && rs485 == wdt) return kPinConflictMessage;
    return std::nullopt;
}

const std::vector<OptionDescriptor>& familyOptions(int family) {
    static const std::vector<OptionDescriptor> byFamily[5] = {
        buildFamilyOptions(0), buildFamilyOptions(1), buildFamilyOptions(2),
        buildFamilyOptions(3), buildFamilyOptions(4),
    };
    static const std::vector<OptionDescriptor> none;
    if (family < 0 || family > 4) return none;
    return byFamily[family];
}

std::optional<int> findChoice(const OptionDescriptor& option, std::string_view value) {
    value = trimBlanks(value);
    for (std::size_t i = 0; i < option.values.size(); ++i) {
        if (equalsIgnoreCase(option.values[i], value) || option.choices[i] == value) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

std::string setOption(OptionChoices& choices, int family, std::string_view name,
                      std::string_view value) {
    name = trimBlanks(name);
    const auto& options = familyOptions(family);
    for (const OptionDescriptor& o : options) {
        if (!equalsIgnoreCase(o.name, name)) continue;
        std::optional<int> index = findChoice(o, value);
        if (!index) {
            const std::string values = joinValues(o);
            return "Unknown value \"" + std::string(value) + "\" for option \"" +
                   std::string(o.name) + "\"; values: " + values + " / 选项 \"" +
                   std::string(o.name) + "\" 的值无效: \"" + std::string(value) +
                   "\"; 可选值: " + values;
        }
        choices.*o.field = *index;
        return {};
    }
    if (options.empty()) {
        const std::string quoted = "\"" + std::string(name) + "\"";
        return "The chips of family " + std::to_string(family) +
               " have no download options: " + quoted + " / 系列 " + std::to_string(family) +
               " 的单片机没有下载选项: " + quoted;
    }
    const std::string names = joinNames(options);
    return "Unknown option \"" + std::string(name) + "\" for family " + std::to_string(family) +
           "; options: " + names + " / 系列 " + std::to_string(family) + " 没有选项 \"" +
           std::string(name) + "\"; 可选选项: " + names;
}

std::string setOption(OptionChoices& choices, int family, std::string_view assignment) {
    const std::size_t eq = assignment.find('=');
    if (eq == std::string_view::npos) {
        const std::string quoted = "\"" + std::string(assignment) + "\"";
        return "An option is given as NAME=VALUE: " + quoted + " / 选项格式为 名称=值: " + quoted;
    }
    return setOption(choices, family, assignment.substr(0, eq), assignment.substr(eq + 1));
}

OptionPage optionPage(int family) {
    OptionPage p;
    switch (family) {
        case 0:
            p.frameCaption = kCaptionDoubleSpeed;
            p.rows = {{kSpeedLabel, kSix, kTwelve, false}};
            p.noteBelowRows = "注:一旦烧录双倍速,由编程器擦除整个芯片才可恢复为单倍速";
            break;
        case 1:
            p.frameCaption = kCaptionDoubleSpeed;
            p.rows = {{kFamily1Notice, {}, {}, true}};
            break;
        case 2:
            p.frameCaption = kCaptionNewer;
            p.rows = {{kSpeedLabel, kSix, kTwelve, false},
                      {kGainLabel, "1/2 gain", "full gain", false},
                      {kF2ConditionLabel, "YES", "NO", false}};
            p.label7 = "     如需低功耗,16MHz 以下振荡器增益可选 1/2 gain";
            p.showAuxRamGroup = true;
            p.showEraseWdtGroup = true;
            p.beepFrameHigh = false;
            break;
        case 3:
        case 4:
            p.frameCaption = kCaptionNewer;
            p.rows = {{kClockLabel, "内部RC振荡器", "外部晶体或时钟", false},
                      {kF3ConditionLabel, "YES", "NO", false},
                      {kF3EraseLabel, "YES", "NO", false}};
            p.label7 = "还有部分选项请在右下方“选项”中设置";
            p.showRs485Group = true;
            p.showExternalWdtGroup = true;
            p.showWatchdogRows = true;
            p.beepFrameHigh = false;
            break;
        default:
            p.frameCaption = kCaptionDoubleSpeed;
            break;
    }
    return p;
}

void resetOptionPage(OptionChoices& choices, int family) {
    choices.row0 = 1;
    choices.row1 = 1;
    choices.row2 = 1;
    if (family == 3 || family == 4) {
        choices.row0 = 0;  // internal RC oscillator
        choices.wdtLock = 1;
        choices.wdtPowerUpStart = 1;
        choices.wdtIdleStop = 1;
    }
}

OptionChoices defaultOptionChoices(int family) {
    OptionChoices c;
    resetOptionPage(c, family);
    return c;
}

OptionEnables optionEnables(const OptionChoices& choices) {
    OptionEnables e;
    e.prescaler = choices.wdtPowerUpStart != 1;
    e.idleRow = choices.wdtPowerUpStart != 1;
    e.rs485PinAndLogic = choices.rs485 != 0;
    e.externalWdtPin = choices.externalWdt != 0;
    e.downloadWdtPin = choices.downloadWdt != 0;
    return e;
}

OptionSet buildOptionSet(const OptionChoices& c, const ModelEntry& model) {
    OptionSet s;
    s.family = model.family;
    switch (model.family) {
        case 0: {
            std::uint8_t speed = usesLowSpeedOptionBase(model) ? 0x20 : 0x40;
            s.sixClock = c.row0 == 0;
            if (s.sixClock) speed |= 0x08;
            s.bytes = {speed};
            break;
        }
        case 2: {
            std::uint8_t b = 0xFF;
            s.sixClock = c.row0 == 0;
            s.halfGain = c.row1 == 0;
            if (s.sixClock) b = clearBit(b, 0);
            if (s.halfGain) b = clearBit(b, 4);
            if (c.eraseData == 0) b = clearBit(b, 3);
            if (c.row2 == 0) b = clearBit(b, 2);
            if (c.auxRam == 0) b = clearBit(b, 6);
            if (c.resetWdt == 1) b = clearBit(b, 7);
            s.bytes = {b};
            break;
        }
        case 3:
        case 4: {
            std::uint8_t clock = 0xFF;
            if (c.row0 == 0) clock = clearBit(clock, 1);
            // A prescaler row outside the list counts as the start-up row "256".
            const int prescaler = c.wdtPrescaler >= 0 && c.wdtPrescaler <= 7 ? c.wdtPrescaler : 7;
            std::uint8_t watchdog = static_cast<std::uint8_t>(0xF8 + prescaler);
            if (c.wdtPowerUpStart == 0) watchdog = clearBit(watchdog, 5);
            if (c.wdtIdleStop == 0) watchdog = clearBit(watchdog, 3);
            if (c.wdtLock == 0) watchdog = clearBit(watchdog, 7);
            std::uint8_t startup = 0xFF;
            if (c.row1 == 0) startup = clearBit(startup, 0);
            if (c.row2 == 0) startup = clearBit(startup, 1);
            if (c.rs485Logic == 1) startup = clearBit(startup, 2);
            const std::uint8_t rs485 = c.rs485 == 0 ? 0xFF : pinRowAddress(c.rs485Pin);
            const std::uint8_t wdt = c.externalWdt == 0 ? 0xFF : pinRowAddress(c.externalWdtPin);
            const int high = rs485 >> 4;
            if (rs485 == wdt && (high == 0x9 || high == 0xB)) {
                s.pinConflict = std::string(kPinConflictMessage);
            }
            s.bytes = {clock, watchdog, startup, rs485, wdt};
            break;
        }
        default:
            break;
    }
    return s;
}

}  // namespace qmx
