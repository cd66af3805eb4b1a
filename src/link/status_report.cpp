#include "link/status_report.h"

#include <cstdlib>

#include <fmt/core.h>

#include "link/wire_format.h"

namespace qmx {

const char* const kPanelHintTop = "Option state read from the MCU / 从 MCU 读出的选项:";
const char* const kPanelHintBottom =
    "Press \"Test Option\" to read them again. / 按 \"检查 MCU 固件版本号及选项\" 重新读取。";

std::string versionText(std::uint8_t version) {
    std::string hex = fmt::format("{:02X}", version);
    std::string t = hex.substr(0, 1) + "." + hex.substr(1, 1);
    return t == "0.0" ? std::string() : t;
}

int versionNumber(const std::string& text) {
    // Leading decimal number only, as a numeric conversion of the text would read it.
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string num;
    bool point = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            num += c;
        } else if (c == '.' && !point) {
            point = true;
            num += c;
        } else {
            break;
        }
    }
    double v = num.empty() ? 0.0 : std::atof(num.c_str());
    return static_cast<int>(v * 10.0 + 0.5);
}

int watchdogPrescaler(std::uint8_t e1) {
    return 1 << ((e1 & 0x07) + 1);
}

std::string pinName(std::uint8_t code) {
    int port = code >> 4;
    if (port == 0x9) return fmt::format("P1.{}", code & 0x0F);
    if (port == 0xB) return fmt::format("P3.{}", code & 0x0F);
    return {};
}

std::string clockMHzText(double hz) {
    // fmt's default form of a double is the shortest text that reads back to the same value.
    const double x = hz / 1000000.0;
    std::string t = fmt::format("{}", x);
    if (t.find('e') != std::string::npos) t = fmt::format("{:.6f}", x);
    if (t.size() > 2 && t.compare(t.size() - 2, 2, ".0") == 0) t.resize(t.size() - 2);
    return t;
}

namespace {

bool bit(std::uint8_t v, int n) {
    return (v >> n) & 1;
}
const char* yesNo(bool set) {
    return set ? "NO" : "YES";
}

}  // namespace

std::vector<std::string> statusReportLines(const StatusInput& in, bool& doubleSpeed) {
    std::vector<std::string> out;
    const std::string ver = versionText(in.version);
    const std::string letter = in.suffix;
    if (!in.identifiedModel.empty())
        out.push_back("MCU Type is: " + reportedModelText(in.identifiedModel));
    // The suffix is a byte from the wire: one that is not a printable character is shown as
    // "?" rather than written raw to the log or the terminal.
    const bool printable = letter.size() == 1 && letter[0] > ' ' && letter[0] < 0x7F;
    const std::string shown = printable ? letter : std::string("?");
    out.push_back("MCU Firmware Version: " + ver + shown);
    out.push_back("Chinese:MCU 固件版本号: " + ver + shown);
    const std::uint8_t o = in.option;
    if (letter == "A") {
        doubleSpeed = bit(o, 3);
        out.push_back(doubleSpeed ? "Double speed: Yes" : "Double speed: No");
    } else if (letter == "B") {
        doubleSpeed = false;
        out.push_back("Double speed: Unknown");
    } else if (letter == "C") {
        doubleSpeed = !bit(o, 0);
        out.push_back(bit(o, 0) ? "  Double speed (6 clock) / 双倍速:       No"
                                : "  Double speed (6 clock) / 双倍速:       Yes");
        out.push_back(bit(o, 4) ? "  OSCDN (OSC Control) / 振荡器控制:   full gain"
                                : "  OSCDN (OSC Control) / 振荡器控制:   1/2 gain");
        if (versionNumber(ver) > 27) {
            out.push_back(bit(o, 2) ? "  下载时 P1.0, P1.1 须短路到地:          No"
                                    : "  下载时 P1.0, P1.1 须短路到地:          Yes");
            out.push_back(bit(o, 3) ? "  擦除 AP 区时一并擦除 data flash 区:    No"
                                    : "  擦除 AP 区时一并擦除 data flash 区:    Yes");
            out.push_back(bit(o, 6) ? "  允许访问内部扩展RAM(MCU 新版本C版有效)"
                                    : "  禁止访问内部扩展RAM(MCU 新版本C版有效)");
            out.push_back(bit(o, 7)
                              ? "  用户软件启动看门狗后, 复位关看门狗(单片机新版本C版有效)"
                              : "  用户软件启动看门狗后, 只有停电关看门狗(单片机新版本C版有效)");
        }
    } else if (letter == "D" || letter == "E") {
        const auto& e = in.ext;
        out.push_back(std::string("下次冷启动后使用 内部 RC 振荡器         ") +
                      yesNo(bit(e[0], 1)));
        out.push_back(std::string("下次冷启动须 P1.0,P1.1=0,0 才判是否下载 ") +
                      yesNo(bit(e[2], 0)));
        out.push_back(std::string("下次下载用户程序时将数据Flash区一并清0: ") +
                      yesNo(bit(e[2], 1)));
        out.push_back(std::string("启动内部看门狗后禁止改看门狗控制寄存器  ") +
                      yesNo(bit(e[1], 7)));
        const std::string prescaler = std::to_string(watchdogPrescaler(e[1]));
        if (bit(e[1], 5)) {
            out.push_back("下次冷启动后内部看门狗预分频数(未启用): " + prescaler);
            out.push_back("下次冷启动自动用有关参数启动内部看门狗  NO");
        } else {
            out.push_back("下次冷启动后内部看门狗预分频数:         " + prescaler);
            out.push_back("下次冷启动自动用有关参数启动内部看门狗  YES");
        }
        out.push_back(std::string("下次Idle(空闲)状态时停止内部看门狗计数  ") +
                      yesNo(bit(e[1], 3)));
        const std::string pin485 = pinName(e[3]);
        if (!pin485.empty()) {
            out.push_back("下次冷启动后 485 控制线口地址:          " + pin485);
            out.push_back(bit(e[2], 2) ? "下次冷启动后485逻辑: 高电平发,低电平接收"
                                       : "下次冷启动后485逻辑: 高电平收,低电平发送");
        } else {
            out.push_back("无 485");
        }
        const std::string pinWdt = pinName(e[4]);
        out.push_back(pinWdt.empty() ? std::string("无外部看门狗")
                                     : "下次冷启动后外部看门狗喂狗线口地址      " + pinWdt);
    }
    return out;
}

std::vector<PanelLabel> resetPanelLabels() {
    std::vector<PanelLabel> labels(kPanelLabels);
    labels[0] = {kPanelHintTop, true, true};
    labels[15] = {kPanelHintBottom, true, true};
    return labels;
}

std::vector<PanelLabel> statusPanelLabels(const StatusInput& in) {
    std::vector<PanelLabel> labels = resetPanelLabels();
    auto put = [&](int i, const std::string& text) {
        if (text.empty()) return;
        labels[static_cast<std::size_t>(i)] = {text, true, true};
    };
    const std::string ver = versionText(in.version);
    const std::string& letter = in.suffix;
    const std::uint8_t o = in.option;
    if (letter == "A" || letter == "B" || letter == "C") {
        if (!in.identifiedModel.empty())
            put(1, "MCU Type is:                      " + in.identifiedModel);
        if (!ver.empty()) put(2, "MCU Firmware Version / MCU 固件版本号: " + ver + letter);
        if (letter == "B")
            put(3, "Double speed (6 clock) / 双倍速:     Unknown");
        else
            put(3, bit(o, 0) ? "Double speed (6 clock) / 双倍速:       No"
                             : "Double speed (6 clock) / 双倍速:       Yes");
    }
    if (letter == "C") {
        put(4, bit(o, 4) ? "OSCDN (OSC Control) / 振荡器控制:   full gain"
                         : "OSCDN (OSC Control) / 振荡器控制:   1/2 gain");
        put(5, bit(o, 2) ? "下载时 P1.0, P1.1 须短路到地:          No"
                         : "下载时 P1.0, P1.1 须短路到地:          Yes");
        put(6, bit(o, 3) ? "擦除 AP 区时一并擦除 data flash 区:    No"
                         : "擦除 AP 区时一并擦除 data flash 区:    Yes");
        put(7, bit(o, 6) ? "允许访问内部扩展RAM(MCU 新版本C版有效)"
                         : "禁止访问内部扩展RAM(MCU 新版本C版有效)");
        put(8, bit(o, 7) ? "用户软件启动看门狗后, 复位关看门狗(MCU 新版C版有效)"
                         : "用户软件启动看门狗后,只有停电关看门狗(MCUC新版C版有效)");
    }
    if (letter == "D" || letter == "E") {
        const auto& e = in.ext;
        labels[0] = {};
        labels[15] = {};
        put(1, "     MCU: " + in.identifiedModel + "    固件版本号: " + ver + letter);
        put(2, std::string("下次冷启动后使用 内部 RC 振荡器          ") + yesNo(bit(e[0], 1)));
        put(3, std::string("下次冷启动须 P1.0,P1.1=0,0 才判是否下载  ") + yesNo(bit(e[2], 0)));
        put(4, std::string("下次下载用户程序时将数据Flash区一并清0:  ") + yesNo(bit(e[2], 1)));
        put(5, std::string("启动内部看门狗后禁止改看门狗控制寄存器   ") + yesNo(bit(e[1], 7)));
        // Each watchdog line has its own label, in the order of the text report.
        const std::string prescaler = std::to_string(watchdogPrescaler(e[1]));
        if (bit(e[1], 5)) {
            put(6, "下次冷启动后内部看门狗预分频数(未启用): " + prescaler);
            put(7, "下次冷启动自动用有关参数启动内部看门狗  NO");
        } else {
            put(6, "下次冷启动后内部看门狗预分频数:         " + prescaler);
            put(7, "下次冷启动自动用有关参数启动内部看门狗  YES");
        }
        put(8, std::string("下次Idle(空闲)状态时停止内部看门狗计数  ") + yesNo(bit(e[1], 3)));
        const std::string pin485 = pinName(e[3]);
        if (!pin485.empty()) {
            put(9, "下次冷启动后 485 控制线口地址:          " + pin485);
            put(10, bit(e[2], 2) ? "下次冷启动后485逻辑: 高电平发,低电平接收"
                                 : "下次冷启动后485逻辑: 高电平收,低电平发送");
        } else {
            put(9, "无 485");
        }
        const std::string pinWdt = pinName(e[4]);
        put(11, pinWdt.empty() ? std::string("无外部看门狗")
                               : "下次冷启动后外部看门狗喂狗线口地址:     " + pinWdt);
    }
    return labels;
}

namespace {

StatusInput inputFrom(const ConnectionFacts& facts, std::uint8_t version, std::uint8_t option) {
    StatusInput in;
    in.version = version;
    in.option = option;
    in.suffix = facts.firmware_suffix;
    in.identifiedModel = facts.identified_model;
    in.ext = facts.ext_option_bytes;
    return in;
}

}  // namespace

void report_status(LinkContext& link, std::uint8_t version, std::uint8_t option) {
    ConnectionFacts& facts = link.facts;
    facts.firmware_version = versionText(version);
    facts.firmware_version_byte = version;
    if (link.family() != 0 && !facts.boot_area_from_chip) {
        link.channel.set_header_expected(false);
        link.channel.clear_header_search();
    }
    bool ds = facts.double_speed;
    const auto lines = statusReportLines(inputFrom(facts, version, option), ds);
    facts.double_speed = ds;
    if (facts.status_shown) return;
    for (const auto& line : lines)
        link.message(line);
    facts.status_shown = true;
}

void show_status_panel(LinkContext& link, std::uint8_t version, std::uint8_t option) {
    link.ui.setOptionPanel(statusPanelLabels(inputFrom(link.facts, version, option)));
}

void reset_status_panel(Ui& ui, ConnectionFacts& facts) {
    facts.status_shown = false;
    ui.setOptionPanel(resetPanelLabels());
}

bool read_status(LinkContext& link, bool byteDelays) {
    SerialChannel& ch = link.channel;
    link.facts.status_read_ok = false;
    ch.reopen_port();
    ch.flush_receive();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) {
            ch.discard_both();
            ch.wait_ms(50);
        }
        ch.set_receive_armed(true);
        ch.wait_ms(50);
        ch.send_frame(wire::statusRequest(), byteDelays ? 1 : 0, 0);
        if (ch.wait_response(900)) break;
        if (ch.stop_requested() || ch.vanished()) return false;
    }
    if (!ch.frame_ready()) return false;
    link.facts.status_read_ok = true;
    const int family = link.family();
    if (family == 3 || family == 4) {
        for (std::size_t i = 0; i < 5; ++i)
            link.facts.ext_option_bytes[i] = ch.rx_buffer()[13 + i];
    }
    report_status(link, ch.rx_buffer()[11], ch.rx_buffer()[13]);
    show_status_panel(link, ch.rx_buffer()[11], ch.rx_buffer()[13]);
    return true;
}

}  // namespace qmx
