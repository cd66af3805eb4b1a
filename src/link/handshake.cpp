#include "link/handshake.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <optional>
#include <utility>

#include <fmt/core.h>

#include "link/baud.h"
#include "link/status_report.h"
#include "link/wire_format.h"

namespace qmx {

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

HandshakeAnswer parseHandshakeAnswer(const std::uint8_t* rx) {
    HandshakeAnswer a;
    a.length = rx[2];
    a.version = rx[20];
    a.suffix = static_cast<char>(rx[21]);
    a.option = rx[22];
    a.id1 = rx[23];
    a.id2 = rx[24];
    a.featureFlags = rx[25];
    for (std::size_t i = 0; i < a.ext.size(); ++i)
        a.ext[i] = rx[26 + i];
    return a;
}

namespace {

std::string hex2(std::uint8_t b) {
    return fmt::format("{:02X}", b);
}

// ---- how a step ends ----

OpResult stopped(LinkContext& link) {
    link.beep(1);
    link.message("Operation is stop. / 操作被停止.");
    return OpResult::stopped();
}

// A port that vanished ends the handshake; the channel has already said so.
OpResult lostPort(LinkContext& link) {
    link.beep(3);
    return OpResult::portLost();
}

OpResult failed(LinkContext& link, std::string line) {
    link.beep(3);
    link.error(line);
    return OpResult::failed(std::move(line));
}

// Stop and a vanished port end a step the same way wherever they are noticed.
std::optional<OpResult> interrupted(LinkContext& link) {
    if (link.channel.stop_requested()) return stopped(link);
    if (link.channel.vanished()) return lostPort(link);
    return std::nullopt;
}

// ---- synchronisation ----

// Opens the port at 1200 baud. Nothing learnt from the previous chip may stand in for this
// one: its identification, letter, version, options and boot area are forgotten here.
OpResult openAtSyncRate(LinkContext& link) {
    SerialChannel& ch = link.channel;
    {
        const bool demoFraming = link.facts.isp_demo_framing;
        link.facts = ConnectionFacts{};
        link.facts.isp_demo_framing = demoFraming;
    }
    ch.flush_receive();
    if (ch.close_port()) ch.close_port();
    ch.set_port_path(link.choices.portPath);
    ch.set_frame_ready(false);
    ch.set_settings("1200,n,8,1");
    if (ch.open_port() != 0) {
        link.beep(3);
        link.error("Open COM port failure! / 打开串口失败!");
        link.error("The COM port opened by another Program or no the COM port.");
        link.error("Chinese:串口已被其它程序打开或该串口不存在。");
        for (const std::string& line : ch.last_open_advice())
            link.error(line);
        return OpResult::portLost("Open COM port failure! / 打开串口失败!");
    }
    ch.discard_both();
    return OpResult::success();
}

// Hands-free boot entry: the target's power off, a pause, and on again; the boot loader then
// listens for the synchronisation that follows at once.
OpResult cyclePower(LinkContext& link) {
    const PowerCycle& cycle = link.choices.powerCycle;
    SerialChannel& ch = link.channel;
    link.message(fmt::format("Switching the MCU power off and on ({}). / 给 MCU 断电再上电 ({})。",
                             cycle.text(), cycle.text()));
    std::string error;
    const bool ok = switchPower(ch, cycle, false, error) &&
                    (ch.wait_until(cycle.offMs, [] { return false; }), !ch.stop_requested()) &&
                    switchPower(ch, cycle, true, error);
    if (auto r = interrupted(link)) return *r;
    if (!ok) return failed(link, "Power switch failure: " + error + " / 电源开关失败");
    return OpResult::success();
}

void showConnectionHints(LinkContext& link) {
    link.beep(2);
    for (const auto& line : connectionHintLines(link.facts.isp_demo_framing))
        link.message(line);
}

// Synchronisation blocks back to back until the boot loader answers, the user stops, the
// port vanishes or the caller's wait limit runs out. The connection hints appear once, four
// seconds in (or at the limit, when that comes first).
OpResult syncUntilAnswer(LinkContext& link) {
    SerialChannel& ch = link.channel;
    ch.set_header_expected(false);
    const auto started = std::chrono::steady_clock::now();
    const auto hintsAt = started + std::chrono::milliseconds(4000);
    const double limit = link.choices.chipWaitSeconds;
    const auto giveUpAt = started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(limit > 0 ? limit : 0));
    bool hintsPending = true;
    for (int i = 0; i < 2 && !ch.is_open(); ++i)
        ch.open_port();
    static const std::uint8_t kSync[2] = {0x7F, 0x7F};
    // A partial frame that stops growing (line noise with a 68 and a length that never
    // arrives) would hold the receiver for good, and this loop has no time-out: drop it after a
    // second of silence so that the chip's real answer can still be assembled.
    int lastCount = 0;
    auto lastGrowth = std::chrono::steady_clock::now();
    while (!ch.frame_ready() && !ch.stop_requested()) {
        if (ch.vanished()) return lostPort(link);
        ch.set_receive_armed(true);
        ch.yield_once();
        const auto now = std::chrono::steady_clock::now();
        if (ch.rx_count() != lastCount) {
            lastCount = ch.rx_count();
            lastGrowth = now;
        } else if (ch.rx_count() > 0 && now - lastGrowth > std::chrono::seconds(1)) {
            ch.reset_receiver();
            lastCount = 0;
        }
        ch.wait_tx_empty();
        if (ch.frame_ready()) break;
        ch.write_bytes(kSync, 2);
        ch.yield_once();
        const auto later = std::chrono::steady_clock::now();
        if (hintsPending && later >= hintsAt) {
            hintsPending = false;
            showConnectionHints(link);
        }
        if (limit > 0 && later >= giveUpAt && !ch.frame_ready()) {
            if (hintsPending) showConnectionHints(link);
            return failed(link, noChipAnswerText(limit));
        }
    }
    if (!ch.frame_ready()) return stopped(link);
    return OpResult::success();
}

// An answer is in: empty both queues and cycle the port through 115200 back to 1200 baud, so
// that no synchronisation byte still on its way is taken for the next answer.
OpResult settleLine(LinkContext& link) {
    SerialChannel& ch = link.channel;
    ch.discard_both();
    ch.close_port();
    ch.set_settings("115200,n,8,1");
    ch.open_port();
    ch.discard_both();
    ch.close_port();
    ch.set_settings("1200,n,8,1");
    ch.open_port();
    if (ch.vanished()) return lostPort(link);
    return OpResult::success();
}

// ---- the offline board ----

// One relay step through the offline board: at 115200 baud, up to four "Q" queries with a
// one-second answer window each.
void offlineBoardLinkStep(LinkContext& link) {
    SerialChannel& ch = link.channel;
    ch.discard_both();
    ch.close_port();
    ch.set_settings("115200,n,8,1");
    ch.open_port();
    ch.discard_both();
    const auto query = wire::boardCommand(wire::code(wire::Command::BoardRelay),
                                          static_cast<std::uint8_t>(link.family()), 0x00, true);
    for (int i = 0; i < 4; ++i) {
        ch.flush_receive();
        ch.set_frame_error(false);
        ch.set_receive_armed(true);
        ch.write_bytes(query.bytes);
        ch.wait_until(1000, [&ch] { return ch.frame_ready() || ch.frame_error(); });
        if (ch.stop_requested() || ch.vanished()) return;
        if (ch.frame_ready() && ch.rx_buffer()[3] == wire::code(wire::Command::BoardRelay)) return;
    }
}

// The offline board answered the synchronisation: ask it (CRC-framed) until it relays a chip
// answer that carries identification.
OpResult reachChipThroughBoard(LinkContext& link) {
    SerialChannel& ch = link.channel;
    link.message("与下载板连接成功, 正在与 MCU 连接...");
    link.facts.offline_board_link = true;
    ch.set_crc_check(true);
    do {
        offlineBoardLinkStep(link);
        if (auto end = interrupted(link)) {
            ch.set_crc_check(false);
            return *end;
        }
    } while (!(ch.frame_ready() && ch.rx_buffer()[2] > 24));
    ch.set_crc_check(false);
    return OpResult::success();
}

// The first answer came from the chip itself: its timing counts give the clock.
void takeClockFromAnswer(LinkContext& link) {
    ConnectionFacts& facts = link.facts;
    facts.clock_hz = clockFromStatusAnswer(link.channel.rx_buffer().data());
    facts.handshake_clock_hz = facts.clock_hz;
    facts.chip_identified = false;
    facts.double_speed = false;
}

// ---- identification and status ----

void takeIdentification(LinkContext& link, const HandshakeAnswer& a) {
    ConnectionFacts& facts = link.facts;
    facts.chip_id1_text = hex2(a.id1);
    facts.chip_identified = true;
    facts.chip_id2_text.clear();
    if (a.namesModel()) {
        facts.identified_model = identifyModel(a.id1, a.id2);
        if (a.id1 >= 0xF0 && a.id1 <= 0xF3) facts.chip_id2_text = hex2(a.id2);
    }
    facts.firmware_suffix = std::string(1, a.suffix);
    if (facts.firmware_suffix != "D" && facts.firmware_suffix != "E")
        facts.option_byte = a.option;
    else
        facts.ext_option_bytes = a.ext;
}

// The feature flags of newer firmware: whether answers carry the 46 B9 header, and the size
// of the boot area.
void takeFeatureFlags(LinkContext& link, const HandshakeAnswer& a) {
    ConnectionFacts& facts = link.facts;
    facts.boot_area_from_chip = false;
    if (!a.carriesFeatureFlags()) return;
    link.channel.set_header_expected((a.featureFlags & 0x80) != 0);
    static const int kBootSizes[4] = {1024, 1536, 2048, 2560};
    facts.boot_area_size = kBootSizes[a.featureFlags & 0x03];
    if (link.choices.model && !link.choices.model->bootAreaReported) facts.boot_area_size = 0;
    facts.boot_area_from_chip = true;
}

// Status-only on a chip whose first answer carried no status: ask for it.
OpResult readStatusOnly(LinkContext& link) {
    SerialChannel& ch = link.channel;
    ch.discard_both();
    link.message("We are Reading Chip Lock./ 正在读加密位,双倍速,版本号");
    for (int i = 0; i < 4; ++i) {
        if (read_status(link, false)) break;
        if (ch.stop_requested() || ch.vanished()) break;
    }
    if (auto end = interrupted(link)) return *end;
    if (link.facts.status_read_ok) return OpResult::success();
    return failed(link, timedFailureLine());
}

// ---- baud rate ----

// Tells the chip its watchdog pin before the search, when the user asked for it.
OpResult announceWatchdogPin(LinkContext& link) {
    if (!link.facts.offline_board_link) {
        link.message("We are trying to run more rapid ...");
        link.message("Chinese:正在尝试用更高的波特率连接 ...");
    }
    if (send_extern_WDT_address(link)) return OpResult::success();
    if (auto end = interrupted(link)) return *end;
    return failed(link, "Handshake is failed. / 握手失败");
}

// The rate the search settled on and the reload that makes it.
struct BaudChoice {
    long baud = 0;
    int count = -1;
    int doubleBaud = 0;
};

// One round of the search: the rate just below the last candidate is tried (up to three test
// exchanges). Sets `confirmed` when the chip answered at the new rate.
OpResult tryCandidate(LinkContext& link, int& maxNo, BaudChoice& choice, bool& tried,
                      bool& confirmed) {
    SerialChannel& ch = link.channel;
    float errNumb = 0;
    tried = false;
    confirmed = false;
    choice.count = calculate_baud(std::lround(link.facts.clock_hz), maxNo, choice.baud, errNumb,
                                  choice.doubleBaud, link.family(), link.choices.maxBaud);
    // No rate fits this clock: there is no reload to send.
    if (choice.count < 0) return failed(link, timedFailureLine());
    ch.pacing().set_baud_error_percent(errNumb);
    ch.yield_once();
    ch.close_port();
    const std::string remembered = ch.settings();
    const bool accepted = ch.set_settings(fmt::format("{},n,8,1", choice.baud));
    ch.set_settings(remembered);
    if (!accepted) {
        maxNo = std::max(maxNo - 1, 0);
        return OpResult::success();
    }
    tried = true;
    ch.open_port();
    if (choice.count <= 1) maxNo = 0;
    std::uint8_t high = 0, low = 0;
    reloadBytes(choice.count, link.family(), choice.doubleBaud, high, low);
    ch.flush_receive();
    for (int t = 0; t < 3 && !confirmed; ++t) {
        confirmed = test_new_baud(link, std::to_string(choice.baud), high, low);
        if (ch.stop_requested() || ch.vanished()) break;
    }
    if (ch.vanished()) confirmed = false;
    if (auto end = interrupted(link)) return *end;
    // A rate the chip did not confirm three times will not work: the next round tries the next
    // slower candidate instead of the same one again.
    if (!confirmed) maxNo = std::max(maxNo - 1, 0);
    return OpResult::success();
}

// Search for the fastest rate the chip confirms, in at most four rounds. A rate confirmed in
// any allowed round (the last one included) is a pass; a search that confirmed no rate is a
// failure even when it ran out of candidates rather than rounds: the chip was never moved to a
// new rate.
OpResult searchBaud(LinkContext& link, BaudChoice& choice) {
    int maxNo = 100, rounds = 0;
    bool confirmed = false;
    while (!confirmed && maxNo > 0 && rounds <= 3) {
        bool tried = false;
        OpResult r = tryCandidate(link, maxNo, choice, tried, confirmed);
        if (!r.ok()) return r;
        if (tried) ++rounds;
    }
    if (link.channel.stop_requested()) return stopped(link);
    if (!confirmed) return failed(link, timedFailureLine());
    return OpResult::success();
}

// Moves both sides to the chosen rate (up to three switch exchanges).
OpResult switchBaud(LinkContext& link, const BaudChoice& choice) {
    SerialChannel& ch = link.channel;
    ConnectionFacts& facts = link.facts;
    reloadBytes(choice.count, link.family(), choice.doubleBaud, facts.newBaud_H, facts.newBaud_L);
    ch.flush_receive();
    bool switched = false;
    for (int t = 0; t < 3 && !switched; ++t) {
        switched =
            set_new_baud(link, std::to_string(choice.baud), facts.newBaud_H, facts.newBaud_L);
        if (ch.stop_requested() || ch.vanished()) break;
    }
    if (auto end = interrupted(link)) return *end;
    ch.flush_receive();
    if (!switched) return failed(link, timedFailureLine());
    return OpResult::success();
}

// The chip answered: clock or offline board, identification, status report, model check and
// feature flags. `finished` is set when a status-only request is already satisfied.
OpResult takeFirstAnswer(LinkContext& link, const HandshakeRequest& request, bool& finished) {
    finished = false;
    ConnectionFacts& facts = link.facts;
    facts.offline_board_link = false;
    if (!isOfflineBoardAnswer(link.channel.rx_buffer().data())) {
        takeClockFromAnswer(link);
    } else if (OpResult r = reachChipThroughBoard(link); !r.ok()) {
        return r;
    }
    facts.identified_model.clear();
    const HandshakeAnswer answer = parseHandshakeAnswer(link.channel.rx_buffer().data());
    if (answer.identifies()) {
        takeIdentification(link, answer);
        report_status(link, answer.version, answer.option);
        show_status_panel(link, answer.version, answer.option);
        if (request.statusOnly) {
            facts.status_read_ok = true;
            finished = true;
            return OpResult::success();
        }
        if (answer.namesModel() && request.checkModel && !request.checkModel())
            return OpResult::failed("MCU Type is wrong. / MCU 型号错, 请重选");
    }
    takeFeatureFlags(link, answer);
    return OpResult::success();
}

// Finds and switches to the fastest workable rate (not through the offline board).
OpResult moveToFastestRate(LinkContext& link) {
    ConnectionFacts& facts = link.facts;
    if (OpResult r = announceWatchdogPin(link); !r.ok()) return r;
    BaudChoice choice;
    if (!facts.offline_board_link) {
        if (OpResult r = searchBaud(link, choice); !r.ok()) return r;
        if (OpResult r = switchBaud(link, choice); !r.ok()) return r;
    } else if (link.channel.stop_requested()) {
        return stopped(link);
    }
    facts.newbaud = facts.offline_board_link ? 0 : choice.baud;
    derive_alternate_reload(facts);
    return OpResult::success();
}

}  // namespace

OpResult handshake(LinkContext& link, const HandshakeRequest& request) {
    if (OpResult r = openAtSyncRate(link); !r.ok()) return r;
    if (link.choices.powerCycle.enabled()) {
        if (OpResult r = cyclePower(link); !r.ok()) return r;
    }
    if (OpResult r = syncUntilAnswer(link); !r.ok()) return r;
    link.ui.chipAnswered();
    if (OpResult r = settleLine(link); !r.ok()) return r;
    bool finished = false;
    if (OpResult r = takeFirstAnswer(link, request, finished); !r.ok() || finished) return r;
    if (request.statusOnly) return readStatusOnly(link);
    return moveToFastestRate(link);
}

std::string noChipAnswerText(double seconds) {
    return fmt::format("no chip answered within {:g} s / {:g} 秒内没有 MCU 应答", seconds, seconds);
}

}  // namespace qmx
