#include "ops/download_driver.h"

#include <sys/stat.h>

#include <cstdlib>
#include <optional>

#include <fmt/core.h>

#include "catalogue/text_util.h"
#include "core/isp_core.h"
#include "image/hex_loader.h"
#include "link/serial_channel.h"
#include "ops/options_writer.h"
#include "ops/programmer.h"
#include "ops/serial_number_store.h"
#include "settings/settings_keys.h"

namespace qmx {

namespace {

constexpr const char* kPleaseOpenFile = "    Please open file./请打开文件。    ";

// The numeric value of a decimal text box: its leading number, 0 when there is none.
long numericValue(const std::string& text) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t')
        ++s;
    char* endp = nullptr;
    double v = std::strtod(s, &endp);
    if (endp == s || !(v == v)) return 0;
    if (v > 2147483647.0) return 2147483647L;
    if (v < -2147483647.0) return -2147483647L;
    return static_cast<long>(v);
}

// The reload that belongs to a session (the reload option, the file watch). Unlike Open File
// it keeps a ticked auto-increment ticked: the number is written again before the session, so
// no chip of a production run goes without its number.
LoadResult reloadForSession(IspCore& core) {
    const bool serialTicked = core.serial.enabled;
    LoadResult r = loadSelectedFile(core.buffer, *core.model, core.serial, core.ui());
    core.serial.enabled = serialTicked;
    return r;
}

// Records how the session ended for faces that report an exit status.
OpResult finish(SessionState& session, OpResult result) {
    session.last_outcome = result.outcome;
    return result;
}

}  // namespace

std::string totalTimeText(long seconds) {
    if (seconds < 0) seconds = 0;
    return fmt::format("{:02d}:{:02d}", (seconds / 60) % 100, seconds % 60);
}

std::vector<std::string> successReportLines(const std::string& note, const std::string& total) {
    return {"Program OK / 下载 OK" + note, "Verify  OK / 校验 OK  ( Total: " + total + " )",
            "Have already encrypt. / 已加密"};
}

std::string blockRetryLine(int blocksRetried) {
    return fmt::format("Blocks sent again before the MCU confirmed them: {} / 重发后才确认的块: {}",
                       blocksRetried, blocksRetried);
}

std::string serialSeriesStoppedText(const std::string& nextValue) {
    return "The next serial number " + nextValue +
           " does not fit the serial-number cells; the series stops before the next chip. / "
           "下一个序列号 " +
           nextValue + " 超出自动增量的范围, 连续下载已停止。";
}

std::string countdownPaneText(const std::string& kept, int secondsLeft) {
    return fmt::format(
        "{}\r\n\r\nProgram succeed. / 下载成功.\r\n\r\nAfter a few seconds re-connect will "
        "continue.  {}\r\n\r\nChinese:几秒钟后将继续下载下一个 MCU...  {}",
        kept, secondsLeft, secondsLeft);
}

void saveWriteOkCount(IspCore& core) {
    core.ui().successCountChanged(core.download.writeOkCount);
    // The counter is written through at once: a production count must survive a crash.
    storeWriteOkCount(core.settings, std::string(trimBlanks(core.download.writeOkCount)));
    const std::string error = core.settings.saveWarnOnce();
    if (!error.empty()) core.message(error);
}

void clear_success_count(IspCore& core) {
    if (numericValue(core.download.writeOkCount) > 0) {
        MessageBoxRequest box;
        box.text = "您要把下载成功计数清0吗(Y/N)? ";
        box.buttons = BoxButtons::YesNo;
        box.defaultAnswer = BoxAnswer::No;
        box.icon = BoxIcon::Question;
        if (core.ui().messageBox(box) == BoxAnswer::Yes) core.download.writeOkCount = "0";
    }
    saveWriteOkCount(core);
}

namespace {

// Why a session cannot start (no image, an image that no longer loads, a serial number that
// cannot be applied); nothing when it can.
std::optional<Outcome> refused_before_start(IspCore& core) {
    Ui& ui = core.ui();
    if (!core.buffer.imageLoaded || !core.model) {
        MessageBoxRequest box;
        box.text = kPleaseOpenFile;
        ui.messageBox(box);
        return Outcome::NoFile;
    }
    if (core.download.reloadFile) {
        const LoadResult r = reloadForSession(core);
        if (!r.loaded() || !core.buffer.imageLoaded) return Outcome::BadInput;
        if (r.needsConsent() && core.download.refuseBadRecords) return Outcome::BadInput;
    }
    // A ticked auto-increment whose number cannot be applied stops here, before a chip is
    // programmed without its number.
    if (!core.serial.active && core.serial.enabled &&
        !serialCheckBoxChanged(core.serial, true, core.buffer, *core.model, core.settings, ui))
        return Outcome::BadInput;
    return std::nullopt;
}

// The pause between two chips of a series: the port closed, a countdown in the pane.
// The pause between two chips of a series, counted down on the pane second by second. A Stop
// ends it at once (false) rather than after the remaining seconds.
bool count_down_to_next_chip(IspCore& core, ChipLink& link) {
    link.discardQueues();
    link.closePort();
    const std::string kept = core.pane.text();
    for (int i = core.download.seriesDelaySeconds(); i >= 1; --i) {
        const std::string text = countdownPaneText(kept, i);
        core.pane.clear();
        core.pane.append(text);
        core.ui().replaceMessages(text);
        for (int slice = 0; slice < 20; ++slice) {
            if (core.session.stop_requested) return false;
            link.waitMs(50);
        }
    }
    if (core.session.stop_requested) return false;
    core.clearMessages();
    return true;
}

}  // namespace

OpResult run_download_session(IspCore& core, ChipLink& link, int index) {
    Ui& ui = core.ui();
    auto& session = core.session;
    core.channel.set_debug_mode(false);  // the debug terminal gives the port back
    if (const auto refused = refused_before_start(core)) return finish(session, {*refused, {}});

    session.stop_requested = false;
    const RunningSession running(session);
    session.chips_done = 0;
    const bool series = index == 1;
    for (;;) {
        core.channel.set_header_expected(false);
        if (!connect_and_erase(core, link).ok()) break;
        if (!program_image(core, link).ok()) break;
        ui.setProgress(0, 0, 1, false);
        ui.setKbyteLabel("");
        if (core.model->family != 1 && !write_options(core, link).ok()) break;
        run_user_program(core, link);

        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now() - session.program_start_time);
        core.message(blockRetryLine(session.blocks_retried));
        for (const std::string& line :
             successReportLines(session.downloaded_only_note_cn, totalTimeText(elapsed.count())))
            core.message(line);

        core.download.writeOkCount = std::to_string(numericValue(core.download.writeOkCount) + 1);
        saveWriteOkCount(core);
        if (core.download.beepOnSuccess) ui.beep(1);
        const bool numbered = core.serial.enabled && core.serial.active;
        const bool nextNumberOk =
            !numbered || serialAfterSuccess(core.serial, core.buffer, core.settings, ui);
        ++session.chips_done;

        const bool more = series && (core.download.seriesLimit <= 0 ||
                                     session.chips_done < core.download.seriesLimit);
        if (more && !nextNumberOk) {
            // The next chip would carry a number already used (or none): the series ends here.
            core.message(serialSeriesStoppedText(core.serial.nextValueText));
            ui.beep(3);
            break;
        }
        if (more) {
            if (!count_down_to_next_chip(core, link)) {
                core.message("Operation is stop. / 操作被停止.");
                break;
            }
            continue;
        }
        stop_download(core, link);
        stop_download(core, link);
        return finish(session, OpResult::success());
    }

    Outcome outcome = Outcome::Failed;
    if (link.portLost())
        outcome = Outcome::PortLost;
    else if (session.stop_requested)
        outcome = Outcome::Stopped;
    stop_download(core, link);
    return finish(session, {outcome, {}});
}

OpResult run_download_session(IspCore& core, int index) {
    auto link = makeChannelLink(core);
    return run_download_session(core, *link, index);
}

std::string fileStamp(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
    return fmt::format("{}.{:09d}:{}", static_cast<long long>(st.st_mtim.tv_sec),
                       static_cast<long>(st.st_mtim.tv_nsec), static_cast<long long>(st.st_size));
}

bool FileWatch::tick(const CodeBuffer& buffer, bool enabled, bool sessionRunning) {
    if (!enabled || !buffer.imageLoaded || buffer.currentPath.empty()) {
        pending_ = false;
        return false;
    }
    if (buffer.currentPath != path_) {
        path_ = buffer.currentPath;
        stamp_ = fileStamp(path_);
        pending_ = false;
        return false;
    }
    const std::string now = fileStamp(path_);
    // A file that is missing for a moment (an editor replacing it) is waited for.
    if (!now.empty() && now != stamp_) {
        stamp_ = now;
        pending_ = true;
    }
    if (pending_ && !sessionRunning) {
        pending_ = false;
        return true;
    }
    return false;
}

OpResult reloadAndDownload(IspCore& core) {
    if (!core.model) return {Outcome::NoFile, {}};
    const LoadResult r = reloadForSession(core);
    if (!r.loaded() || !core.buffer.imageLoaded) return {Outcome::BadInput, {}};
    if (r.needsConsent() && core.download.refuseBadRecords) return {Outcome::BadInput, {}};
    return run_download_session(core, 0);
}

}  // namespace qmx
