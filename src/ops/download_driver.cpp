#include "ops/download_driver.h"

#include <sys/stat.h>

#include <cstdlib>
#include <optional>

#include <fmt/core.h>

#include "catalogue/option_set.h"
#include "catalogue/text_util.h"
#include "core/isp_core.h"
#include "image/hex_loader.h"
#include "link/serial_channel.h"
#include "ops/options_writer.h"
#include "ops/programmer.h"
#include "ops/serial_number_store.h"
#include "ops/shared_production.h"
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

const char* resultText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok:
            return "ok";
        case Outcome::Stopped:
            return "stopped";
        case Outcome::PortLost:
            return "port lost";
        default:
            return "failed";
    }
}

// The production-log line of the chip just finished.
ChipRecord chipRecord(IspCore& core, Outcome outcome, const std::string& serial,
                      std::chrono::steady_clock::time_point began) {
    const ConnectionFacts& f = core.facts;
    ChipRecord r;
    r.time = recordTimeNow();
    r.host = hostName();
    r.port = core.portPath;
    r.model = core.model ? core.model->name : "";
    r.chipModel = f.identified_model;
    r.chipId = f.chip_id1_text + (f.chip_id2_text.empty() ? "" : " " + f.chip_id2_text);
    r.firmware = f.firmware_version + f.firmware_suffix;
    r.clockHz = f.clock_hz;
    r.baud = f.newbaud;
    r.image = core.buffer.currentPath;
    r.checksum = std::string(trimBlanks(core.buffer.checksumText));
    // The number as a plain decimal: the box pads it to its storage width only after advances.
    r.serial = serial;
    while (r.serial.size() > 1 && r.serial.front() == '0')
        r.serial.erase(0, 1);
    if (core.model && outcome == Outcome::Ok) {
        for (std::uint8_t b : buildOptionSet(core.options, *core.model).bytes)
            r.options.push_back(b);
    }
    r.result = resultText(outcome);
    const std::string& pane = core.pane.text();
    const std::size_t cut = pane.rfind("\r\n");
    r.message = cut == std::string::npos ? pane : pane.substr(cut + 2);
    r.durationMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - began)
                                         .count());
    return r;
}

// Appends the chip's line to the production log, if one is kept. False (reported) when the
// record could not be written.
bool logChip(IspCore& core, Outcome outcome, const std::string& serial,
             std::chrono::steady_clock::time_point began) {
    if (!core.productionLog) return true;
    const std::string error = core.productionLog->append(chipRecord(core, outcome, serial, began));
    if (error.empty()) return true;
    core.message(error);
    core.ui().beep(3);
    return false;
}

// Before a gang station touches its next chip: is there a number left for it?
bool gangSerialAvailable(IspCore& core, SharedProduction& shared) {
    std::string error;
    if (shared.canReserve(error)) return true;
    core.message(error);
    core.ui().beep(3);
    return false;
}

// A gang station takes the next number of the shared stream and writes it into its image.
// False (reported) when the stream has run out of numbers that fit.
bool reserveGangSerial(IspCore& core, SharedProduction& shared, SerialTicket& reserved) {
    std::string error;
    const auto ticket = shared.reserveSerial(error);
    if (!ticket) {
        core.message(error);
        core.ui().beep(3);
        return false;
    }
    core.serial.nextValueText = ticket->value;
    if (writeSerialNumber(core.serial, core.buffer, core.ui())) {
        core.ui().bufferChanged();
        reserved = *ticket;
        return true;
    }
    shared.releaseSerial(*ticket);
    return false;
}

// The gang's one success counter: counted and saved under its lock.
void countGangSuccess(IspCore& core, SharedProduction& shared) {
    std::string error;
    core.download.writeOkCount = shared.countSuccess(error);
    core.ui().successCountChanged(core.download.writeOkCount);
    if (!error.empty()) core.message(error);
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

// The chip a session is working on: when it began, the serial number it carries, the gang's
// number it holds until it is counted, and whether it still needs its log line.
struct ChipInHand {
    std::chrono::steady_clock::time_point began = std::chrono::steady_clock::now();
    std::string serial;
    SerialTicket reserved;
    bool pending = false;
};

// Connects, erases, programs, writes the options and starts the program of one chip. False
// when a step failed or was stopped (the step has said why).
bool program_one_chip(IspCore& core, ChipLink& link, SharedProduction* shared, ChipInHand& chip) {
    const bool gangNumbers = shared && shared->numbering();
    if (gangNumbers && !gangSerialAvailable(core, *shared)) return false;
    chip.pending = true;
    core.channel.set_header_expected(false);
    if (!connect_and_erase(core, link).ok()) return false;
    // A gang's number is taken only once a chip is there and erased, so a port with no chip or
    // a wrong one holds up no number.
    if (gangNumbers && !reserveGangSerial(core, *shared, chip.reserved)) return false;
    chip.serial = core.serial.enabled && core.serial.active ? core.serial.nextValueText : "";
    if (!program_image(core, link).ok()) return false;
    core.ui().setProgress(0, 0, 1, false);
    core.ui().setKbyteLabel("");
    if (core.model->family != 1 && !write_options(core, link).ok()) return false;
    run_user_program(core, link);
    return true;
}

// A good chip: its closing lines, the success counter (or the gang's), the beep, and the
// serial number moved on. False when the next number could not be prepared.
bool count_good_chip(IspCore& core, SharedProduction* shared, ChipInHand& chip) {
    auto& session = core.session;
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now() - session.program_start_time);
    core.message(blockRetryLine(session.blocks_retried));
    for (const std::string& line :
         successReportLines(session.downloaded_only_note_cn, totalTimeText(elapsed.count())))
        core.message(line);
    if (shared) {
        countGangSuccess(core, *shared);
    } else {
        core.download.writeOkCount = std::to_string(numericValue(core.download.writeOkCount) + 1);
        saveWriteOkCount(core);
    }
    if (core.download.beepOnSuccess) core.ui().beep(1);
    session.last_serial_written = chip.serial;
    bool nextNumberOk = true;
    if (shared && chip.reserved.held()) {
        // The gang's next number is checked when the next chip reserves it.
        if (const std::string error = shared->commitSerial(chip.reserved); !error.empty())
            core.message(error);
        chip.reserved = {};
    } else if (core.serial.enabled && core.serial.active) {
        nextNumberOk = serialAfterSuccess(core.serial, core.buffer, core.settings, core.ui());
    }
    ++session.chips_done;
    chip.pending = false;
    return nextNumberOk;
}

// How a session that did not end well ended, with the chip in hand logged and its gang number
// given back.
OpResult end_unsuccessful_session(IspCore& core, ChipLink& link, SharedProduction* shared,
                                  ChipInHand& chip) {
    Outcome outcome = Outcome::Failed;
    if (link.portLost())
        outcome = Outcome::PortLost;
    else if (core.session.stop_requested)
        outcome = Outcome::Stopped;
    // A Stop while no chip had answered (the end of a series) is no chip's record.
    if (chip.pending && (outcome != Outcome::Stopped || core.facts.clock_hz > 0))
        logChip(core, outcome, chip.serial, chip.began);
    if (shared && chip.reserved.held()) shared->releaseSerial(chip.reserved);
    stop_download(core, link);
    return finish(core.session, {outcome, {}});
}

}  // namespace

OpResult run_download_session(IspCore& core, ChipLink& link, int index, SharedProduction* shared) {
    auto& session = core.session;
    core.channel.set_debug_mode(false);  // the debug terminal gives the port back
    if (const auto refused = refused_before_start(core)) return finish(session, {*refused, {}});

    session.stop_requested = session.stop_for_good.load();
    const RunningSession running(session);
    session.chips_done = 0;
    session.last_serial_written.clear();
    const bool series = index == 1;
    ChipInHand chip;
    for (;;) {
        chip.began = std::chrono::steady_clock::now();
        chip.serial.clear();
        if (!program_one_chip(core, link, shared, chip)) break;
        const bool nextNumberOk = count_good_chip(core, shared, chip);
        // Production does not go on without its records.
        if (!logChip(core, Outcome::Ok, chip.serial, chip.began)) break;

        const bool more = series && (core.download.seriesLimit <= 0 ||
                                     session.chips_done < core.download.seriesLimit);
        if (!more) {
            stop_download(core, link);
            stop_download(core, link);
            return finish(session, OpResult::success());
        }
        if (!nextNumberOk) {
            // The next chip would carry a number already used (or none): the series ends here.
            core.message(serialSeriesStoppedText(core.serial.nextValueText));
            core.ui().beep(3);
            break;
        }
        if (!count_down_to_next_chip(core, link)) {
            core.message("Operation is stop. / 操作被停止.");
            break;
        }
    }
    return end_unsuccessful_session(core, link, shared, chip);
}

OpResult run_download_session(IspCore& core, int index, SharedProduction* shared) {
    auto link = makeChannelLink(core);
    return run_download_session(core, *link, index, shared);
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
