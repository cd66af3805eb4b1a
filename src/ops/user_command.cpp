#include "ops/user_command.h"

#include <algorithm>
#include <cmath>

#include <fmt/core.h>

#include "catalogue/text_util.h"
#include "core/isp_core.h"
#include "link/handshake.h"
#include "link/status_report.h"
#include "link/wire_format.h"
#include "ops/download_driver.h"
#include "ops/link_binding.h"
#include "ops/programmer.h"
#include "ops/serial_number_store.h"
#include "ops/session_control.h"

namespace qmx {

// ---------------------------------------------------------------- pure rules

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}
// Separators and line ends (every character below the digits) are skipped between pairs.
bool isSeparator(char c) {
    return static_cast<unsigned char>(c) <= 47;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> parse_user_code(const std::string& text,
                                                         std::string* badToken) {
    std::vector<std::uint8_t> bytes;
    std::string rest(trimBlanks(text));
    while (!rest.empty()) {
        const std::string token = rest.substr(0, 2);
        rest = std::string(trimBlanks(rest.substr(token.size())));
        if (std::all_of(token.begin(), token.end(), isHexDigit)) {
            int v = 0;
            for (char c : token)
                v = v * 16 + hexValue(c);
            bytes.push_back(static_cast<std::uint8_t>(v));
        } else if (!std::all_of(token.begin(), token.end(), isSeparator)) {
            // A letter that is no hex digit, or a digit behind a separator (",3"), would
            // otherwise be sent as a wrong byte or silently lost.
            if (badToken) *badToken = token;
            return std::nullopt;
        }
    }
    return bytes;
}

std::string portSettingsText(const std::string& baud, const std::string& parity,
                             const std::string& dataBits, const std::string& stopBits) {
    const std::string p(trimBlanks(parity));
    return fmt::format("{},{},{},{}", trimBlanks(baud), p.empty() ? "" : p.substr(0, 1),
                       trimBlanks(dataBits), trimBlanks(stopBits));
}

int demoConnectWaitMs(long baud) {
    if (baud < 2400) return 200;
    if (baud < 4800) return 100;
    return 50;
}

const std::vector<DemoModelCode>& demoModelCodes() {
    static const std::vector<DemoModelCode> table{
        {0x0001, "M-084", "F001"}, {0x0002, "M-086", "F002"}, {0x0003, "M-087", "F004"},
        {0x0004, "M-089", "F104"}, {0x0005, "M-092", "F108"}, {0x0006, "M-082", "F110"},
        {0x4001, "M-066", "F001"}, {0x4002, "M-068", "F002"}, {0x4003, "M-070", "F004"},
        {0x4004, "M-072", "F104"}, {0x4005, "M-077", "F108"}, {0x4006, "M-065", "F110"},
        {0x0051, "M-056", "F001"}, {0x0052, "M-057", "F002"}, {0x0053, "M-058", "F004"},
        {0x0054, "M-059", "F104"}, {0x0058, "M-061", "F108"}, {0x0516, "M-055", "F110"},
    };
    return table;
}

const DemoModelCode* demoModelForCode(std::uint16_t code) {
    for (const auto& row : demoModelCodes())
        if (row.code == code) return &row;
    return nullptr;
}

bool demoProgrammable(const ModelEntry& model) {
    return std::any_of(demoModelCodes().begin(), demoModelCodes().end(),
                       [&](const DemoModelCode& row) { return model.idCode == row.idText; });
}

namespace {

// The declared length of a 5A A5 answer when the bytes hold all of it and it reaches at least
// `needed` bytes; 0 otherwise.
std::size_t completeLength(std::span<const std::uint8_t> a, std::size_t needed) {
    if (a.size() < 4 || a[0] != wire::kUserFirst || a[1] != wire::kUserSecond) return 0;
    const auto len = static_cast<std::size_t>(wire::userFrameLength(a));
    return len >= needed && a.size() >= len ? len : 0;
}

}  // namespace

bool demoBlockAnswerAccepts(std::span<const std::uint8_t> answer, std::uint16_t dataSum) {
    // Bytes 5 and 6 must lie before the frame's own sum and end byte.
    if (completeLength(answer, 10) == 0) return false;
    return (answer[5] * 256u + answer[6]) == dataSum;
}

std::optional<DemoModelAnswer> demoModelAnswer(std::span<const std::uint8_t> answer) {
    if (completeLength(answer, 12) == 0) return std::nullopt;
    return DemoModelAnswer{static_cast<std::uint16_t>(answer[6] * 256u + answer[7]), answer[8]};
}

int demoAnswerTimeoutMs(long baud) {
    return answerTimeoutMs(0.0, baud);
}

// ---------------------------------------------------------------- operations

namespace {

constexpr const char* kStopText = "Operation is stop. / 操作被停止.";

bool stopped(const IspCore& core) {
    return core.session.stop_requested || core.session.demo_stop_requested;
}

void showDemoHints(IspCore& core) {
    beep_times(core, 2);
    for (const auto& line : connectionHintLines(true))
        core.message(line);
}

void portFailure(IspCore& core) {
    core.session.demo_port_failed = true;
    beep_times(core, 3);
    core.error("Open COM port failure! / 打开串口失败!");
    core.error("The COM port opened by another Program or no the COM port.");
    core.error("Chinese:串口已被其它程序打开或该串口不存在。");
    for (const std::string& line : core.channel.last_open_advice())
        core.error(line);
}

// Closes the port and opens it again at `settingsText`; reports and fails when the settings
// are refused or the port cannot be opened.
Outcome openAt(IspCore& core, const std::string& settingsText) {
    SerialChannel& ch = core.channel;
    ch.close_port();
    if (!ch.set_settings(settingsText)) {
        MessageBoxRequest box;
        box.text =
            fmt::format("Invalid port settings: {} / 串口参数无效: {}", settingsText, settingsText);
        box.title = "  调试用串口     ";
        box.icon = BoxIcon::Exclamation;
        core.ui().messageBox(box);
        return Outcome::BadInput;
    }
    ch.configure_port();
    if (ch.open_port() != 0) {
        portFailure(core);
        return Outcome::PortLost;
    }
    core.session.demo_port_failed = false;
    return Outcome::Ok;
}

Outcome sendUserCode(IspCore& core, const std::string& codeText, const std::string& settingsText) {
    bind_channel(core);
    core.clearMessages();
    // The code is checked before the port is touched: a typing mistake sends nothing.
    std::string bad;
    const auto bytes = parse_user_code(codeText, &bad);
    if (!bytes || bytes->empty()) {
        beep_times(core, 3);
        if (!bytes)
            core.message(
                fmt::format("The user code holds \"{}\", which is not a hexadecimal byte. / "
                            "自定义命令含非十六进制字符 \"{}\"。",
                            bad, bad));
        else
            core.message("The user code is empty. / 自定义命令为空。");
        return Outcome::BadInput;
    }
    const Outcome opened = openAt(core, settingsText);
    if (opened != Outcome::Ok) return opened;
    SerialChannel& ch = core.channel;
    ch.wait_tx_empty();
    ch.write_bytes(*bytes);
    // Let every byte leave the adapter before anyone closes the port or changes its rate.
    ch.wait_tx_empty();
    ch.wait_ms(20);
    return ch.vanished() ? Outcome::PortLost : Outcome::Ok;
}

// One request of the demo loader and its answer: receiver and queues emptied, the frame sent,
// then a wait for a complete answer frame, ending early on either Stop.
bool demoRequest(IspCore& core, std::uint8_t code, int timeoutMs) {
    SerialChannel& ch = core.channel;
    ch.flush_receive();
    ch.reset_receiver();
    ch.discard_both();
    ch.send_user_frame(code);
    return ch.wait_until(timeoutMs, [&] {
        return ch.user_frame_ready() || core.session.demo_stop_requested;
    }) && ch.user_frame_ready();
}

std::vector<std::uint8_t> receivedFrame(const SerialChannel& ch) {
    const int n = std::clamp(ch.rx_count(), 0, SerialChannel::kRxSize);
    return {ch.rx_buffer().begin(), ch.rx_buffer().begin() + n};
}

void pleaseOpenFile(IspCore& core, const char* text) {
    MessageBoxRequest box;
    box.text = text;
    core.ui().messageBox(box);
}

void wrongModel(IspCore& core) {
    beep_times(core, 3);
    core.error("MCU Type is wrong. / MCU 型号错, 请重选");
    set_button_state(core, kButtonIdle);
    core.buffer.imageLoaded = false;
    MessageBoxRequest box;
    box.text =
        "MCU Type is wrong, please select another MCU and open the file again.\r\n"
        "         Chinese:MCU 型号错。请重选 MCU、重新打开文件。";
    box.icon = BoxIcon::Exclamation;
    core.ui().messageBox(box);
}

}  // namespace

bool send_user_code(IspCore& core, const std::string& codeText, const std::string& settingsText) {
    return sendUserCode(core, codeText, settingsText) == Outcome::Ok;
}

Outcome run_user_code_download(IspCore& core, const UserEntryChoices& choices) {
    core.channel.set_debug_mode(false);  // the debug terminal gives the port back
    if (!core.buffer.imageLoaded || !core.model) {
        pleaseOpenFile(core, "Please open file./请打开文件。");
        return core.session.last_outcome = Outcome::NoFile;
    }
    const Outcome sent = sendUserCode(core, choices.userCode, choices.userCodeSettings);
    if (sent != Outcome::Ok) {
        core.channel.close_port();
        set_button_state(core, kButtonIdle);
        return core.session.last_outcome = sent;
    }
    // The application has jumped into its boot loader: the ordinary download finds it there.
    return run_download_session(core, 0).outcome;
}

bool demo_connect(IspCore& core, const UserEntryChoices& choices) {
    bind_channel(core);
    SerialChannel& ch = core.channel;
    ch.set_user_frame_ready(false);
    set_button_state(core, kButtonBusy);
    reset_status_panel(core.ui(), core.facts);
    if (openAt(core, choices.demoSettings) != Outcome::Ok) {
        set_button_state(core, kButtonIdle);
        return false;
    }
    core.message("We are trying to connect to your MCU ... ");
    core.message("Chinese:正在尝试与 MCU/单片机 握手连接 ... ");

    // Block pacing and answer time-outs belong to this port, not to an earlier boot-loader
    // session: about six bit times per byte at the demo rate.
    const long baud = ch.current_baud();
    ch.pacing().set_pace_loops(
        std::lround(static_cast<double>(ch.pacing().loops_per_ms()) / baud * 6000.0));

    const int wait = demoConnectWaitMs(baud);
    const auto started = std::chrono::steady_clock::now();
    const auto hintsAt = started + std::chrono::milliseconds(4000);
    // The caller's wait limit for a chip (0: wait for ever, as a station does).
    const double limit = core.chipWaitSeconds;
    const auto giveUpAt = started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(limit > 0 ? limit : 0));
    bool hintsShown = false;
    while (!stopped(core) && !ch.vanished()) {
        // A receiver left inside a noise frame would never see the answer: start clean.
        if (demoRequest(core, wire::kUserConnect, wait)) break;
        const auto now = std::chrono::steady_clock::now();
        if (!hintsShown && (now >= hintsAt || (limit > 0 && now >= giveUpAt))) {
            hintsShown = true;
            showDemoHints(core);
        }
        if (limit > 0 && now >= giveUpAt) {
            beep_times(core, 3);
            core.error(noChipAnswerText(limit));
            return false;
        }
    }
    if (stopped(core) || ch.vanished()) return false;

    bool answered = false;
    for (int i = 0; i < 3 && !stopped(core); ++i)
        answered = demoRequest(core, wire::kUserConnect, 200);
    if (stopped(core)) return false;
    if (answered) {
        core.message("Connection is OK... / 握手成功...");
        return true;
    }
    beep_times(core, 3);
    core.error(fmt::format("Handshake is failed. / 握手失败 (End: {})", clockNow()));
    return false;
}

bool demo_read_model(IspCore& core) {
    core.message("We are read MCU Firmware Version ...");
    reset_status_panel(core.ui(), core.facts);
    std::optional<DemoModelAnswer> got;
    for (int i = 0; i < 3 && !got && !stopped(core); ++i) {
        // Only an answer long enough to hold the code and option byte counts.
        if (demoRequest(core, wire::kUserModel, 2000))
            got = demoModelAnswer(receivedFrame(core.channel));
    }
    if (stopped(core)) return false;
    if (!got) {
        beep_times(core, 3);
        core.error(
            fmt::format("Read MCU Option is failed. / 读 Option 失败 (End: {})", clockNow()));
        return false;
    }
    const DemoModelCode* row = demoModelForCode(got->code);
    const std::string id = row ? row->idText : "";
    core.facts.identified_model = row ? row->model : "";
    core.facts.chip_id1_text = id.substr(0, std::min<std::size_t>(2, id.size()));
    core.facts.chip_id2_text = id.size() > 2 ? id.substr(2) : "";
    if (core.model && !id.empty() && id == core.model->idCode) {
        core.facts.option_byte = got->option;
        return true;
    }
    wrongModel(core);
    return false;
}

bool demo_erase(IspCore& core) {
    core.message("We are erasing application flash...");
    core.message("正在擦除应用程序区...");
    bool answered = false;
    for (int i = 0; i < 3 && !answered && !stopped(core); ++i)
        answered = demoRequest(core, wire::kUserErase, 5000);
    if (stopped(core)) return false;
    if (answered) return true;
    beep_times(core, 3);
    core.error(fmt::format("Erase application is failed. / 擦除失败 (End: {})", clockNow()));
    return false;
}

bool send_demo_block(IspCore& core, long address, int count, bool retry, bool fast) {
    SerialChannel& ch = core.channel;
    if (count <= 0) return true;
    if (address < 0 || address + count > static_cast<long>(core.buffer.bytes.size())) return false;
    std::span<const std::uint8_t> data(core.buffer.bytes.data() + address,
                                       static_cast<std::size_t>(count));
    unsigned dataSum = 0;
    for (std::uint8_t b : data)
        dataSum += b;
    const auto frame = wire::userBlockFrame(address, data, retry);

    // Input is emptied before the frame, never after it: a fast loader may answer before the
    // last byte has left the host, and that answer must count.
    ch.flush_receive();
    ch.reset_receiver();
    ch.discard_input();
    if (fast) {
        ch.write_bytes(frame);
    } else {
        for (std::size_t i = 0; i < frame.size(); ++i)
            ch.send_paced_byte(frame[i], ch.pacing().pace_loops());
    }
    ch.wait_tx_empty();  // the whole frame leaves; nothing of it is discarded
    const bool answered = ch.wait_until(demoAnswerTimeoutMs(ch.current_baud()), [&] {
        return ch.user_frame_ready() || core.session.demo_stop_requested;
    }) && ch.user_frame_ready();
    if (!answered) return false;
    ch.set_frame_ready(true);
    return demoBlockAnswerAccepts(receivedFrame(ch), static_cast<std::uint16_t>(dataSum));
}

void stop_isp_demo(IspCore& core) {
    core.session.stop_requested = true;
    core.session.demo_stop_requested = true;
}

namespace {

// The countdown between two chips of a series; false when a Stop ended it.
bool demoCountdown(IspCore& core) {
    SerialChannel& ch = core.channel;
    ch.discard_both();
    ch.close_port();
    const std::string kept = core.pane.text();
    for (int i = core.download.seriesDelaySeconds(); i >= 1; --i) {
        const std::string text = countdownPaneText(kept, i);
        core.pane.clear();
        core.pane.append(text);
        core.ui().replaceMessages(text);
        for (int tenth = 0; tenth < 10 && !stopped(core); ++tenth)
            ch.wait_ms(100);
        if (stopped(core)) return false;
    }
    core.clearMessages();
    return true;
}

// One chip through the in-application loader: connect, model, erase, program, finish, report.
bool demoCycle(IspCore& core, const UserEntryChoices& choices) {
    SerialChannel& ch = core.channel;
    if (!core.serial.active && core.serial.enabled)
        serialCheckBoxChanged(core.serial, true, core.buffer, *core.model, core.settings,
                              core.ui());
    ch.set_user_command_mode(true);
    if (!demo_connect(core, choices) || !demo_read_model(core) || !demo_erase(core)) return false;
    ch.wait_ms(100);
    if (!program_image(core).ok()) return false;
    core.ui().setProgress(0, 0, 1, false);
    ch.send_user_frame(wire::kUserFinish);
    ch.send_user_frame(wire::kUserFinish);
    ch.wait_tx_empty();
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now() - core.session.program_start_time);
    core.message("Program OK / 下载 OK");
    core.message("Verify  OK / 校验 OK  ( Total: " + totalTimeText(elapsed.count()) + " )");
    if (core.download.beepOnSuccess) beep_times(core, 1);
    return true;
}

Outcome failedCycleOutcome(IspCore& core) {
    if (stopped(core)) {
        // Programming reports its own Stop; every other step leaves it to us.
        const std::string& text = core.pane.text();
        if (text.size() < std::string(kStopText).size() ||
            text.compare(text.size() - std::string(kStopText).size(), std::string::npos,
                         kStopText) != 0) {
            beep_times(core, 1);
            core.message(kStopText);
        }
        return Outcome::Stopped;
    }
    if (core.session.demo_port_failed || core.channel.vanished()) return Outcome::PortLost;
    return Outcome::Failed;
}

Outcome demoCycles(IspCore& core, const UserEntryChoices& choices, bool series) {
    auto& session = core.session;
    for (;;) {
        if (!demoCycle(core, choices)) return failedCycleOutcome(core);
        ++session.chips_done;
        // A demo download does not count in the success counter.
        if (stopped(core)) return Outcome::Stopped;
        if (core.serial.enabled && core.serial.active)
            serialAfterSuccess(core.serial, core.buffer, core.settings, core.ui());
        const bool more = series && (core.download.seriesLimit <= 0 ||
                                     session.chips_done < core.download.seriesLimit);
        if (!more) return Outcome::Ok;
        if (!demoCountdown(core)) {
            beep_times(core, 1);
            core.message(kStopText);
            return Outcome::Stopped;
        }
    }
}

}  // namespace

Outcome run_isp_demo(IspCore& core, const UserEntryChoices& choices, bool series) {
    auto& session = core.session;
    SerialChannel& ch = core.channel;
    bind_channel(core);
    ch.set_debug_mode(false);
    ch.set_user_command_mode(false);
    // Both Stop flags are cleared once, here: a Stop pressed at any later moment (a wait, the
    // countdown, between two steps) ends the demo.
    session.stop_requested = session.stop_for_good.load();
    session.demo_stop_requested = false;
    if (!core.buffer.imageLoaded || !core.model) {
        pleaseOpenFile(core, " Please open file./请打开文件。");
        return session.last_outcome = Outcome::NoFile;
    }
    if (!demoProgrammable(*core.model)) {
        beep_times(core, 3);
        core.message(fmt::format(
            "{}: this model cannot be programmed through the ISP demo. / 此型号不能用 ISP DEMO "
            "下载。",
            core.model->name));
        return session.last_outcome = Outcome::BadInput;
    }
    const RunningSession running(session);
    session.chips_done = 0;
    core.clearMessages();
    Outcome outcome = Outcome::Ok;
    if (choices.demoSendUserCode) {
        ch.set_user_frame_ready(false);
        outcome = sendUserCode(core, choices.demoUserCode, choices.demoUserCodeSettings);
        if (outcome != Outcome::Ok) set_button_state(core, kButtonIdle);
    }
    if (outcome == Outcome::Ok) {
        core.facts.isp_demo_framing = true;
        outcome = demoCycles(core, choices, series);
    }
    ch.close_port();
    stop_download(core);
    ch.set_user_command_mode(false);
    core.facts.isp_demo_framing = false;
    return session.last_outcome = outcome;
}

}  // namespace qmx
