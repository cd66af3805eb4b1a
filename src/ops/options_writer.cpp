#include "ops/options_writer.h"

#include <cmath>

#include <fmt/core.h>

#include "catalogue/option_set.h"
#include "core/isp_core.h"
#include "link/wire_format.h"
#include "ops/programmer.h"
#include "ops/session_control.h"

namespace qmx {

wire::Frame family0OptionFrame(std::uint8_t opt) {
    return wire::frame(wire::Command::SetOptions, {opt});
}

wire::Frame family2OptionFrame(std::uint8_t opt, std::uint8_t reloadHigh, std::uint8_t reloadLow) {
    return wire::frame(wire::Command::SetOptions, {opt, reloadHigh, reloadLow});
}

wire::Frame family34OptionFrame(std::span<const std::uint8_t, 5> wanted,
                                std::array<std::uint8_t, 4> clockField) {
    std::vector<std::uint8_t> payload(wanted.begin(), wanted.end());
    payload.insert(payload.end(), clockField.begin(), clockField.end());
    return wire::frame(wire::Command::SetOptions, payload);
}

bool family2OptionsUnchanged(std::uint8_t current, std::uint8_t wanted) {
    const auto forced = static_cast<std::uint8_t>(current | 0x22);
    return (current & 0x02) == 0 && wanted == forced;
}

bool family34OptionsUnchanged(std::span<const std::uint8_t, 5> current,
                              std::span<const std::uint8_t, 5> wanted) {
    if ((current[0] & 0x02) == 0) return false;
    for (std::size_t i = 0; i < 5; ++i)
        if (current[i] != wanted[i]) return false;
    return true;
}

std::array<std::uint8_t, 4> family34ClockField(std::uint8_t currentByte1, double clockHz) {
    if (currentByte1 & 0x02) return {0xFF, 0xFF, 0xFF, 0xFF};
    double r = std::round(clockHz);
    if (!(r > 0)) r = 0;
    if (r > 4294967295.0) r = 4294967295.0;
    const auto k = static_cast<std::uint32_t>(r);
    return {static_cast<std::uint8_t>(k >> 24), static_cast<std::uint8_t>(k >> 16),
            static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)};
}

namespace {

constexpr const char* kConfigOk = "Config option OK. / 设置选项成功。";

// A family-3/4 chip answers 81 while it is busy and wants the option command again; such an
// answer does not use up an attempt. A chip that never stops answering 81 would hold a
// production line (and an unattended script) forever, so after this many busy answers in one
// option step a further 81 counts as a failed attempt like any other code.
constexpr int kMaxBusyAnswers = 50;

OptionSet wantedOptions(IspCore& core) {
    OptionSet set = buildOptionSet(core.options, *core.model);
    if (!set.pinConflict.empty()) {
        MessageBoxRequest box;
        box.text = set.pinConflict;
        core.ui().messageBox(box);
    }
    return set;
}

// The confirming status answer carries the chip's option bytes from byte 13 on. They must be
// the bytes sent: a chip that acknowledged the command but kept other options is not
// configured, and each byte that differs is named.
bool optionsConfirmed(IspCore& core, const std::vector<std::uint8_t>& status,
                      std::span<const std::uint8_t> sent) {
    if (status.size() < 13 + sent.size() + 2) {
        core.message(
            "The MCU's status answer carries no option bytes. / MCU 状态应答中没有选项字节。");
        return false;
    }
    bool same = true;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const std::uint8_t held = status[13 + i];
        if (held == sent[i]) continue;
        same = false;
        core.message(fmt::format(
            "Option byte {}: sent {:02X}, the MCU holds {:02X}. / 选项字节 {}: 已发送 {:02X}, MCU "
            "中为 {:02X}。",
            i + 1, sent[i], held, i + 1, sent[i], held));
    }
    return same;
}

bool writeFamily0(IspCore& core, ChipLink& link, const OptionSet& set) {
    const std::uint8_t opt = set.speedOption();
    link.flushReceive();
    link.reopenPort();
    bool answered = false;
    for (int attempt = 0; attempt < 3 && !answered; ++attempt) {
        link.armReceive();
        link.waitMs(50);
        link.sendCommand(family0OptionFrame(opt), 1, 0);
        answered = link.waitAnswer(50);
        if (core.session.stop_requested || link.portLost()) break;
    }
    if (answered && link.readStatus(true)) {
        std::string text = set.sixClock ? "Lock Chip, set 6 Clock OK/双倍速成功" : "";
        core.message(text + fmt::format(" (End: {})", clockNow()));
        return true;
    }
    core.ui().beep(3);
    core.message("Config option are error!");
    core.error("设置选项失败。");
    if (link.frameReady()) link.clearFrameReady();
    return false;
}

bool writeFamily2(IspCore& core, ChipLink& link, const OptionSet& set) {
    const std::uint8_t wanted = set.optionByte();
    if (family2OptionsUnchanged(core.facts.option_byte, wanted)) {
        run_user_program(core, link);
        return true;
    }
    const auto opt = static_cast<std::uint8_t>(wanted & ~0x02);
    const std::uint8_t rh = set.sixClock ? core.facts.altBaud_H : core.facts.newBaud_H;
    const std::uint8_t rl = set.sixClock ? core.facts.altBaud_L : core.facts.newBaud_L;
    link.flushReceive();
    link.reopenPort();
    const int version = versionTimesTen(core.facts.firmware_version);
    for (int round = 0; round < 3; ++round) {
        bool answered = false;
        for (int attempt = 0; attempt < 3 && !answered; ++attempt) {
            link.armReceive();
            link.waitMs(50);
            link.sendCommand(family2OptionFrame(opt, rh, rl), 1, 1);
            answered = link.waitAnswer(500);
            if (core.session.stop_requested || link.portLost()) break;
        }
        if (core.session.stop_requested || link.portLost()) break;
        if (!answered) continue;
        if (!link.readStatus(true)) continue;
        if (version < 28) {
            std::string text;
            if (set.sixClock) text += "Set 6 Clock OK/设置双倍速 OK\r\n";
            if (set.halfGain) text += "Set OSC Control OK\r\n";
            if (!text.empty()) core.message(text + fmt::format(" (End: {})", clockNow()));
        } else {
            const auto status = link.answer();
            const std::array<std::uint8_t, 1> sent{opt};
            if (!optionsConfirmed(core, status, sent)) {
                report_option_error(core);
                link.clearFrameReady();
                return false;
            }
            core.message(kConfigOk);
        }
        return true;
    }
    report_option_error(core);
    if (link.frameReady()) link.clearFrameReady();
    return false;
}

bool writeFamily34(IspCore& core, ChipLink& link, const OptionSet& set) {
    std::array<std::uint8_t, 5> wanted{};
    for (std::size_t i = 0; i < 5 && i < set.bytes.size(); ++i)
        wanted[i] = set.bytes[i];
    const std::array<std::uint8_t, 5> current = core.facts.ext_option_bytes;
    if (family34OptionsUnchanged(current, wanted)) {
        run_user_program(core, link);
        return true;
    }
    const auto clock = family34ClockField(current[0], core.facts.clock_hz);
    link.flushReceive();
    link.reopenPort();
    bool ready = false;
    int busyAnswers = 0;
    bool busyReported = false;
    for (int round = 0; round < 2; ++round) {
        bool accepted = false;
        for (int attempt = 0; attempt < 2 && !accepted; ++attempt) {
            link.flushReceive();
            link.armReceive();
            link.waitMs(50);
            link.sendCommand(family34OptionFrame(wanted, clock), 1, 1);
            ready = link.waitAnswer(500);
            if (core.session.stop_requested || link.portLost()) break;
            if (!ready) continue;
            const auto ans = link.answer();
            const std::uint8_t code = ans.size() > 3 ? ans[3] : 0;
            if (code == wire::kAccepted) {
                accepted = true;
            } else if (code == 0x81 && busyAnswers < kMaxBusyAnswers) {
                ++busyAnswers;
                --attempt;  // the chip asks for the command once more
            } else {
                if (code == 0x81 && !busyReported) {
                    core.message(fmt::format(
                        "The MCU answered busy (81) {} times to the option command. / MCU "
                        "连续 {} 次回答忙 (81)，选项未写入。",
                        busyAnswers, busyAnswers));
                    busyReported = true;
                }
                ready = false;
                link.clearFrameReady();
            }
        }
        if (core.session.stop_requested || link.portLost()) break;
        if (!accepted) continue;
        if (!link.readStatus(true)) {
            ready = false;
        } else if (versionTimesTen(core.facts.firmware_version) < 32) {
            report_option_error(core);
            ready = true;
        } else {
            ready = optionsConfirmed(core, link.answer(), wanted);
            if (ready) {
                core.message(kConfigOk);
            } else {
                link.clearFrameReady();
            }
        }
        break;
    }
    if (!ready) report_option_error(core);
    return ready;
}

}  // namespace

std::uint8_t family0_option_byte(const IspCore& core) {
    if (!core.model || core.model->family != 0) return 255;
    return buildOptionSet(core.options, *core.model).speedOption();
}

void report_option_error(IspCore& core) {
    core.ui().beep(3);
    core.error("Config option are error! / 设置选项失败。");
}

namespace {

bool writeFamilyOptions(IspCore& core, ChipLink& link) {
    if (!core.model) return false;
    switch (core.model->family) {
        case 0:
            return writeFamily0(core, link, wantedOptions(core));
        case 2:
            return writeFamily2(core, link, wantedOptions(core));
        case 3:
        case 4:
            return writeFamily34(core, link, wantedOptions(core));
        default:
            return true;  // family 1 has no option step
    }
}

}  // namespace

OpResult write_options(IspCore& core, ChipLink& link) {
    set_button_state(core, kStateOptionsDone);
    if (writeFamilyOptions(core, link)) return OpResult::success();
    return step_failure(core, link);
}

OpResult write_options(IspCore& core) {
    auto link = makeChannelLink(core);
    return write_options(core, *link);
}

}  // namespace qmx
