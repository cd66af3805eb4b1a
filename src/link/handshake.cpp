#include "link/handshake.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <utility>

#include <fmt/core.h>

#include "core/isp_core.h"
#include "link/baud.h"
#include "link/status_report.h"
#include "ops/button_state.h"

namespace qmx {

void bind_channel(IspCore& core) {
    SerialChannel& ch = core.channel;
    ch.setUi(&core.ui());
    ch.setStopFlag(&core.session.stop_requested);
    ch.setMessageSink([&core](std::string_view line) { core.message(line); });
    if (!core.portPath.empty()) ch.port_path = core.portPath;
    static thread_local bool calibrated = false;
    if (!calibrated) {
        ch.calibrate_loops();
        calibrated = true;
    }
}

std::string identifyModel(std::uint8_t id1, std::uint8_t id2) {
    return modelForIdBytes(id1, id2);
}

float clockFromStatusAnswer(const std::uint8_t* rx) {
    long sum = 0;
    for (int i = 0; i < 8; ++i)
        sum += rx[4 + 2 * i] * 256L + rx[5 + 2 * i];
    // Halves round to even, as the original averaging did.
    double average = std::nearbyint(static_cast<double>(sum) / 8.0);
    return static_cast<float>((average + 6.0) * 2061.0);
}

bool isOfflineBoardAnswer(const std::uint8_t* rx) {
    return rx[3] == rx[6] && rx[6] == 0x20 && rx[7] == 0x21;
}

std::string wallClockText() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return fmt::format("{:02}:{:02}:{:02}", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::string timedFailureLine() {
    return "Handshake is failed. / 握手失败 (End: " + wallClockText() + ")";
}

void stop_message(IspCore& core) {
    beep_times(core, 1);
    core.message("Operation is stop. / 操作被停止.");
}

std::vector<std::string> connectionHintLines(bool ispDemoFraming) {
    const std::vector<std::string> tail{
        " 3.因 PLCC、PQFP 转换座引线过长而引起时钟振荡不对，请调整参数。",
        " 4.可能要升级电脑端的 QMX ISP.exe 软件。",
        " 5.若仍然不成功，可能 MCU/单片机内无 ISP 系统引导码，",
        "   或需退回升级，或 MCU 已损坏。",
        " 仍在连接中, 请给 MCU 上电...",
    };
    std::vector<std::string> out;
    if (ispDemoFraming) {
        out = {"连接失败，请尝试以下操作：", " 1.重新选择 RS-232 串口, 接好电缆，打开电源。",
               " 2.检查波特率、奇偶位、数据位、停止位是否正确。"};
    } else {
        out = {"Connection is failure. You can try:",
               " 1.Give your MCU Power On Reset.",
               " 2.Stop operation, then re-select COM Port.",
               " 3.Because PLCC-DIP/PQFP-DIP Socket trace too long.",
               " 4.Update the QMX ISP.exe version.",
               " 5.If still error, your MCU Firmware is error",
               "   or null.",
               "Chinese:连接失败，请尝试以下操作：",
               " 1.给 MCU/单片机上电复位(冷启动，先没有电，再上电)。",
               " 2.停止下载，重新选择 RS-232 串口, 接好电缆。"};
    }
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

void Timer9_Timer(IspCore& core) {
    beep_times(core, 2);
    for (const auto& line : connectionHintLines(core.facts.isp_demo_framing))
        core.message(line);
}

namespace {

void failureSignal(IspCore& core) {
    beep_times(core, 3);
}

// A port that vanished ends the handshake; the channel has already said so.
int lostPort(IspCore& core) {
    core.facts.port_failed = true;
    failureSignal(core);
    set_button_state(core, kButtonIdle);
    return -1;
}

int familyOf(const IspCore& core) {
    return core.model ? core.model->family : 0;
}

std::string hex2(std::uint8_t b) {
    return fmt::format("{:02X}", b);
}

// One relay step through the offline board: at 115200 baud, up to four "Q" queries with a
// one-second answer window each.
void offlineBoardLinkStep(IspCore& core) {
    SerialChannel& ch = core.channel;
    ch.discard_both();
    ch.close_port();
    ch.set_settings("115200,n,8,1");
    ch.open_port();
    ch.discard_both();
    const auto query =
        frames::boardCommand(0x51, static_cast<std::uint8_t>(familyOf(core)), 0x00, true);
    for (int i = 0; i < 4; ++i) {
        ch.flush_receive();
        ch.frame_error = false;
        ch.receive_armed = true;
        ch.write_bytes(query);
        ch.wait_until(1000, [&ch] { return ch.frame_ready || ch.frame_error; });
        if (ch.stop_requested() || ch.vanished()) return;
        if (ch.frame_ready && ch.rx_buffer[3] == 0x51) return;
    }
}

}  // namespace

int handshake(IspCore& core, long& newbaud, bool ReadChipLock_just,
              const std::function<bool(IspCore&)>& checkModel) {
    bind_channel(core);
    SerialChannel& ch = core.channel;
    ConnectionFacts& facts = core.facts;
    auto& rx = ch.rx_buffer;

    // 1-2: open at 1200 baud. Nothing learnt from the previous chip may stand in for this one:
    // its identification, letter, version, options and boot area are forgotten here.
    core.session.connected = false;
    {
        const bool demoFraming = facts.isp_demo_framing;
        facts = ConnectionFacts{};
        facts.isp_demo_framing = demoFraming;
    }
    ch.flush_receive();
    if (ch.close_port()) ch.close_port();
    ch.port_path = core.portPath;
    ch.frame_ready = false;
    ch.set_settings("1200,n,8,1");
    if (ch.open_port() != 0) {
        facts.port_failed = true;
        failureSignal(core);
        core.message("Open COM port failure! / 打开串口失败!");
        core.message("The COM port opened by another Program or no the COM port.");
        core.message("Chinese:串口已被其它程序打开或该串口不存在。");
        set_button_state(core, kButtonIdle);
        return -1;
    }
    ch.discard_both();

    // 3-6: synchronisation blocks back to back until the boot loader answers.
    ch.header_expected = false;
    const auto hintsAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(4000);
    bool hintsPending = true;
    for (int i = 0; i < 2 && !ch.is_open(); ++i)
        ch.open_port();
    static const std::uint8_t kSync[2] = {0x7F, 0x7F};
    // A partial frame that stops growing (line noise with a 68 and a length that never
    // arrives) would hold the receiver for good, and this loop has no time-out: drop it after a
    // second of silence so that the chip's real answer can still be assembled.
    int lastCount = 0;
    auto lastGrowth = std::chrono::steady_clock::now();
    while (!ch.frame_ready && !ch.stop_requested()) {
        if (ch.vanished()) return lostPort(core);
        ch.receive_armed = true;
        ch.yield_once();
        const auto now = std::chrono::steady_clock::now();
        if (ch.rx_count != lastCount) {
            lastCount = ch.rx_count;
            lastGrowth = now;
        } else if (ch.rx_count > 0 && now - lastGrowth > std::chrono::seconds(1)) {
            ch.reset_receiver();
            lastCount = 0;
        }
        ch.wait_tx_empty();
        if (ch.frame_ready) break;
        ch.write_bytes(kSync, 2);
        ch.yield_once();
        if (hintsPending && std::chrono::steady_clock::now() >= hintsAt) {
            hintsPending = false;
            Timer9_Timer(core);
        }
    }
    // 7: Stop.
    if (!ch.frame_ready) {
        stop_message(core);
        return -1;
    }

    // 8: an answer is in. Settle the line.
    ch.discard_both();
    ch.close_port();
    ch.set_settings("115200,n,8,1");
    ch.open_port();
    ch.discard_both();
    ch.close_port();
    ch.set_settings("1200,n,8,1");
    ch.open_port();
    if (ch.vanished()) return lostPort(core);
    facts.offline_board_link = false;

    if (!isOfflineBoardAnswer(rx.data())) {
        // 9: clock from the eight timing counts.
        facts.clock_hz = clockFromStatusAnswer(rx.data());
        facts.handshake_clock_hz = facts.clock_hz;
        facts.chip_identified = false;
        facts.double_speed = false;
    } else {
        // 10: the offline board answered; reach the chip through it.
        core.message("与下载板连接成功, 正在与 MCU 连接...");
        facts.offline_board_link = true;
        ch.crc_check = true;
        do {
            offlineBoardLinkStep(core);
            if (ch.stop_requested()) {
                ch.crc_check = false;
                stop_message(core);
                return -1;
            }
            if (ch.vanished()) {
                ch.crc_check = false;
                return lostPort(core);
            }
        } while (!(ch.frame_ready && rx[2] > 24));
        ch.crc_check = false;
    }

    // 11-12: identification and status.
    facts.identified_model.clear();
    const int L = rx[2];  // the low length byte decides what the answer carries
    if (L > 24) {
        facts.chip_id1_text = hex2(rx[23]);
        facts.chip_identified = true;
        facts.chip_id2_text.clear();
        if (L > 25) {
            facts.identified_model = identifyModel(rx[23], rx[24]);
            if (rx[23] >= 0xF0 && rx[23] <= 0xF3) facts.chip_id2_text = hex2(rx[24]);
        }
        facts.firmware_suffix = std::string(1, static_cast<char>(rx[21]));
        if (facts.firmware_suffix != "D" && facts.firmware_suffix != "E")
            facts.option_byte = rx[22];
        else
            for (std::size_t i = 0; i < 5; ++i)
                facts.ext_option_bytes[i] = rx[26 + i];
        const std::uint8_t version = rx[20], option = rx[22];
        report_status(core, version, option);
        show_status_panel(core, version, option);
        if (ReadChipLock_just) {
            facts.status_read_ok = true;
            return 0;
        }
        if (L > 25 && checkModel && !checkModel(core)) return -1;
    }

    // 13: feature flags.
    facts.boot_area_from_chip = false;
    if (L > 27 && rx[20] > 0x25) {
        const std::uint8_t flags = rx[25];
        ch.header_expected = (flags & 0x80) != 0;
        static const int kBootSizes[4] = {1024, 1536, 2048, 2560};
        facts.boot_area_size = kBootSizes[flags & 0x03];
        if (core.model && !core.model->bootAreaReported) facts.boot_area_size = 0;
        facts.boot_area_from_chip = true;
    }

    // 14: status-only on a chip whose answer carried no status: ask for it.
    if (ReadChipLock_just) {
        ch.discard_both();
        core.message("We are Reading Chip Lock./ 正在读加密位,双倍速,版本号");
        for (int i = 0; i < 4; ++i) {
            if (read_status(core, false)) break;
            if (ch.stop_requested() || ch.vanished()) break;
        }
        if (ch.stop_requested()) {
            stop_message(core);
            return -1;
        }
        if (ch.vanished()) return lostPort(core);
        if (facts.status_read_ok) return 0;
        failureSignal(core);
        core.message(timedFailureLine());
        return -1;
    }

    // 15-16: baud switch, after telling the chip its watchdog pin.
    if (!facts.offline_board_link) {
        core.message("We are trying to run more rapid ...");
        core.message("Chinese:正在尝试用更高的波特率连接 ...");
    }
    if (!send_extern_WDT_address(core)) {
        if (ch.stop_requested()) {
            stop_message(core);
        } else if (ch.vanished()) {
            return lostPort(core);
        } else {
            failureSignal(core);
            core.message("Handshake is failed. / 握手失败");
        }
        return -1;
    }

    // 17: search for the fastest rate the chip confirms.
    const int family = familyOf(core);
    int MaxNo = 100, rounds = 0, count = -1, double_baud = 0;
    long baud = 0;
    float errNumb = 0;
    bool done = facts.offline_board_link;
    std::uint8_t newBaud_H = 0, newBaud_L = 0;
    while (!done && MaxNo > 0 && rounds <= 3) {
        count = calculate_baud(std::lround(facts.clock_hz), MaxNo, baud, errNumb, double_baud,
                               family, core.maxBaud);
        if (count < 0) {
            // No rate fits this clock: there is no reload to send.
            failureSignal(core);
            core.message(timedFailureLine());
            return -1;
        }
        ch.baud_error_percent = errNumb;
        ch.yield_once();
        ch.close_port();
        const std::string remembered = ch.settings;
        const bool accepted = ch.set_settings(fmt::format("{},n,8,1", baud));
        ch.set_settings(remembered);
        if (!accepted) {
            MaxNo = std::max(MaxNo - 1, 0);
            continue;
        }
        ++rounds;
        ch.open_port();
        if (count <= 1) MaxNo = 0;
        reloadBytes(count, family, double_baud, newBaud_H, newBaud_L);
        ch.flush_receive();
        bool passed = false;
        for (int t = 0; t < 3 && !passed; ++t) {
            passed = test_new_baud(core, std::to_string(baud), newBaud_H, newBaud_L);
            if (ch.stop_requested() || ch.vanished()) break;
        }
        if (passed && !ch.vanished()) done = true;
        if (ch.stop_requested()) {
            stop_message(core);
            return -1;
        }
        if (ch.vanished()) return lostPort(core);
        // A rate the chip did not confirm three times will not work: the next round tries the
        // next slower candidate instead of the same one again.
        if (!done) MaxNo = std::max(MaxNo - 1, 0);
    }

    // 18: the search's verdict. A rate confirmed in any allowed round (the last one included) is
    // a pass; a search that confirmed no rate is a failure even when it ran out of candidates
    // rather than rounds: the chip was never moved to a new rate.
    if (ch.stop_requested()) {
        stop_message(core);
        return -1;
    }
    if (!done) {
        failureSignal(core);
        core.message(timedFailureLine());
        return -1;
    }

    // 19: switch both sides.
    if (!facts.offline_board_link) {
        reloadBytes(count, family, double_baud, facts.newBaud_H, facts.newBaud_L);
        ch.flush_receive();
        bool switched = false;
        for (int t = 0; t < 3 && !switched; ++t) {
            switched = set_new_baud(core, std::to_string(baud), facts.newBaud_H, facts.newBaud_L);
            if (ch.stop_requested() || ch.vanished()) break;
        }
        if (ch.stop_requested()) {
            stop_message(core);
            return -1;
        }
        if (ch.vanished()) return lostPort(core);
        ch.flush_receive();
        if (!switched) {
            failureSignal(core);
            core.message(timedFailureLine());
            return -1;
        }
    }

    // 20: connected.
    newbaud = facts.offline_board_link ? 0 : baud;
    facts.newbaud = newbaud;
    derive_alternate_reload(core);
    return 0;
}

}  // namespace qmx
