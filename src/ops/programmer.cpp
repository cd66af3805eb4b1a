#include "ops/programmer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fmt/core.h>

#include "core/isp_core.h"
#include "link/wire_format.h"
#include "ops/session_control.h"
#include "ops/user_command.h"

namespace qmx {

// ---------------------------------------------------------------- pure rules

double versionValue(const std::string& text) {
    // Read the leading number the way a version text is meant ("3.6", " 2.8", "3.6C").
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t')
        ++s;
    char* endp = nullptr;
    double v = std::strtod(s, &endp);
    if (endp == s || !std::isfinite(v)) return 0.0;
    return v;
}

int versionTimesTen(const std::string& text) {
    return static_cast<int>(std::floor(versionValue(text) * 10.0 + 0.5));
}

int bootAreaForVersionIndex(int v) {
    switch (v) {
        case 19:
        case 20:
        case 21:
        case 22:
        case 23:
        case 24:
        case 26:
            return 1024;
        default:
            // 0 … 39 and anything newer: the 2 KB loader.
            return 2048;
    }
}

int erasePageCount(const std::string& modelName, int bootArea) {
    const ModelEntry* model = findModel(modelName);
    return model ? erasePagesFor(*model, bootArea) : 255;
}

std::uint8_t eraseCountByte(const std::string& modelName, int bootArea,
                            const std::string& firmwareVersion, const std::string& firmwareSuffix,
                            long viewEnd) {
    int n = erasePageCount(modelName, bootArea);
    if (versionTimesTen(firmwareVersion) >= 28 && firmwareSuffix == "C") {
        long needed = (viewEnd < 0 ? 0 : viewEnd) / 512 + 1;
        if (needed > n) n = static_cast<int>(needed);
    }
    return static_cast<std::uint8_t>(n & 0xFF);
}

std::vector<AddressRange> rangesForFamily(int family, long viewStart, long viewEnd, long programEnd,
                                          long dataStart, long dataEnd, std::uint8_t extOption2) {
    const long s = viewStart < 0 ? 0 : viewStart;
    const long e = viewEnd;
    if (family < 3) return {{s, e}};

    const long p = programEnd, d0 = dataStart, d1 = dataEnd;
    long e2 = std::max(e, p);               // the program area is always written to its end
    if ((extOption2 & 0x02) == 0) e2 = d1;  // the chip clears its data area: write all of it
    e2 = std::min(e2, d1);
    if (e2 < d0) {
        if (s > p) return {};
        return {{s, std::min(e2, p)}};
    }
    if (s > p) {
        long from = std::max(s, d0);
        if (from > d1) return {};
        return {{from, e2}};
    }
    return {{s, p}, {d0, e2}};
}

std::vector<FramePlan> splitIntoFrames(long start, long end) {
    std::vector<FramePlan> frames;
    if (end < start) return frames;
    long at = start;
    while (at <= end) {
        long count = std::min<long>(128, end - at + 1);
        frames.push_back({at, static_cast<int>(count)});
        at = (at / 128 + 1) * 128;
    }
    return frames;
}

bool blockAnswerAccepts(std::span<const std::uint8_t> answer, std::uint8_t dataSum) {
    if (wire::answerCode(answer) != wire::kAccepted) return false;
    if (wire::answerLength(answer) == 6) return true;
    return answer.size() > 4 && answer[4] == dataSum;
}

int answerTimeoutMs(double clockHz, long baud) {
    int ms;
    if (clockHz < 3e6)
        ms = 4000;
    else if (clockHz < 4e6)
        ms = 3000;
    else if (clockHz < 6e6)
        ms = 2000;
    else if (clockHz < 8e6)
        ms = 1500;
    else if (clockHz < 12e6)
        ms = 1200;
    else
        ms = 1000;
    int byBaud = ms;
    if (ms < 5000 && baud < 1201)
        byBaud = 5000;
    else if (ms < 3000 && baud < 2401)
        byBaud = 3000;
    else if (ms < 2000 && baud < 4801)
        byBaud = 2000;
    else if (ms < 1500 && baud < 9601)
        byBaud = 1500;
    return std::max(ms, byBaud);
}

long firmwareSizeLimit(long dataEnd, int bootArea) {
    if (bootArea <= 1024) return -1;
    return dataEnd + 1024 - bootArea;
}

std::string kbyteLabelText(long bytes) {
    std::string s = fmt::format("{:.3f}", static_cast<double>(bytes) / 1024.0);
    if (s.rfind("0.", 0) == 0) s.erase(0, 1);
    return s + "K";
}

std::string clockText(std::chrono::system_clock::time_point t) {
    std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// ---------------------------------------------------------------- operations

namespace {

constexpr const char* kStopText = "Operation is stop. / 操作被停止.";
constexpr const char* kLowerBaud = "Try to use the lower baud. / 请尝试用稍低的波特率下载。";

int family(const IspCore& core) {
    return core.model ? core.model->family : 0;
}
int blockSize(const IspCore& core) {
    int bs = core.model ? core.model->blockSize : 128;
    return bs > 0 ? bs : 128;
}
std::string modelName(const IspCore& core) {
    return core.model ? core.model->name : std::string();
}

// Progress state of one programming run: the bar's scale and the label's reference point.
struct Progress {
    bool scaled = false;
    int minimum = 0;
    int maximum = 1;
    void setScale(long start, long end) {
        scaled = start > 32767 || end > 32767;
        minimum = static_cast<int>(scaled ? start / 256 : start);
        maximum = static_cast<int>(scaled ? end / 256 + 1 : end + 1);
    }
    int position(long address) const { return static_cast<int>(scaled ? address / 256 : address); }
};

void showLabel(IspCore& core, long start, long lastWritten) {
    core.ui().setKbyteLabel(kbyteLabelText(lastWritten - start + 1));
}

}  // namespace

void boot_area_from_version(IspCore& core) {
    core.facts.boot_area_size =
        bootAreaForVersionIndex(versionTimesTen(core.facts.firmware_version));
}

int set_answer_timeout(const IspCore& core, const ChipLink& link) {
    return answerTimeoutMs(core.facts.clock_hz, link.baud());
}

void erase_application(IspCore& core, ChipLink& link) {
    core.message("We are erasing application flash...");
    core.message("正在擦除应用程序区...");
    link.reopenPort();
    link.flushReceive();
    for (int attempt = 0; attempt < 3; ++attempt) {
        link.armReceive();
        link.waitMs(50);
        if (family(core) != 0 && !core.facts.boot_area_from_chip) boot_area_from_version(core);
        const std::uint8_t n =
            eraseCountByte(modelName(core), core.facts.boot_area_size, core.facts.firmware_version,
                           core.facts.firmware_suffix, core.buffer.viewEnd);
        link.sendCommand(wire::frame(wire::Command::Erase, {n}), 1, 0);
        // Any answer means the chip has erased.
        if (link.waitAnswer(5000)) break;
        if (core.session.stop_requested || link.portLost()) break;
    }
    link.waitMs(100);
}

OpResult step_failure(const IspCore& core, const ChipLink& link) {
    if (link.portLost()) return OpResult::portLost();
    if (core.session.stop_requested) return OpResult::stopped();
    return OpResult::failed();
}

OpResult connect_and_erase(IspCore& core, ChipLink& link) {
    core.clearMessages();
    core.session.connected = false;
    const OpResult connected = link.connectChip(false);
    if (!core.session.connected) return connected.ok() ? step_failure(core, link) : connected;
    if (versionValue(core.facts.firmware_version) <= 0.2) return OpResult::success();

    erase_application(core, link);
    if (core.session.stop_requested) {
        core.ui().beep(1);
        core.message(kStopText);
        stop_download(core, link);
        return OpResult::stopped();
    }
    if (link.frameReady()) return OpResult::success();
    core.ui().beep(3);
    core.error(fmt::format("Erase application is failed. / 擦除失败 (End: {})", clockNow()));
    // A lower baud rate cannot help once the port itself is gone.
    if (!link.portLost()) core.error(kLowerBaud);
    return step_failure(core, link);
}

bool send_block(IspCore& core, ChipLink& link, long address, int count, bool retry, bool fast) {
    // Through a loader inside the user's application the blocks travel in 5A A5 frames.
    if (link.userCommandMode()) return send_demo_block(core, address, count, retry, fast);
    if (count <= 0) return true;
    const long last = address + count - 1;
    if (address < 0 || last >= static_cast<long>(core.buffer.bytes.size())) return false;
    std::span<const std::uint8_t> data(core.buffer.bytes.data() + address,
                                       static_cast<std::size_t>(count));
    std::uint8_t dataSum = 0;
    for (std::uint8_t b : data)
        dataSum = static_cast<std::uint8_t>(dataSum + b);

    // The link drops whatever arrived before the frame's end byte, so only an answer to this
    // frame can confirm it.
    link.flushReceive();
    link.armReceive();
    link.sendBlockFrame(wire::blockFrame(address, data, retry), fast);
    const int timeout = set_answer_timeout(core, link);
    const bool answered = link.waitAnswer(timeout);
    if (answered && blockAnswerAccepts(link.answer(), dataSum)) return true;
    // Not confirmed: a late answer may still be on its way. The next frame goes out only once
    // the line is quiet, so that answer cannot be taken for the next frame's.
    if (!core.session.stop_requested && !link.portLost()) link.waitLineQuiet(timeout);
    return false;
}

bool send_block_frames(IspCore& core, ChipLink& link, bool chunked, long start, long end,
                       bool retry, bool fast) {
    if (!chunked)
        return send_block(core, link, start, static_cast<int>(end - start + 1), retry, fast);
    bool first = true;
    for (const FramePlan& f : splitIntoFrames(start, end)) {
        if (!send_block(core, link, f.address, f.count, first && retry, fast)) return false;
        first = false;
        if (core.session.stop_requested) return false;
    }
    return true;
}

namespace {

// A range to program, its block numbers and how its frames go.
struct RangePlan {
    long start = 0;
    long end = 0;
    int blockSize = 128;
    bool chunked = false;
    long firstBlock() const { return start / blockSize; }
    long lastBlock() const { return end / blockSize; }
};

// A family-2 chip (or a model whose catalogue row says the same limit applies) whose boot area
// leaves less room than the image takes: the end is cut to the limit and the user told.
// Returns the end to program to.
long cut_to_firmware_size_limit(IspCore& core, ChipLink& link, Progress& bar, long start,
                                long end) {
    auto& session = core.session;
    const int fam = family(core);
    if (fam != 2 && !reportedWithSizeLimit(core.facts.identified_model)) return end;
    if (fam != 0 && !core.facts.boot_area_from_chip) boot_area_from_version(core);
    session.downloaded_only_note_cn.clear();
    const long limit =
        core.model ? firmwareSizeLimit(core.model->dataEnd, core.facts.boot_area_size) : -1;
    if (limit < 0 || link.userCommandMode() || end <= limit) return end;
    core.ui().beep(2);
    bar.setScale(start, limit);
    const long k = (limit + 511) / 1024;
    core.message(fmt::format("Enable {}K file size for this Version firmware.", k));
    session.downloaded_only_note_cn = "(有一部分数据未下载)。";
    core.message("");
    core.message(fmt::format("Chinese:此版本固件最多可编程 {}K, 您的文件已超长，", k));
    core.message("        超长部分不下载。");
    core.message("");
    return limit;
}

// A range inside one block: sent like any other, whatever the model, up to three times; a
// range counts as written only once its bytes went out and the chip confirmed them.
bool program_lone_block(IspCore& core, ChipLink& link, const RangePlan& plan, const Progress& bar) {
    auto& session = core.session;
    bool ok = false;
    for (int attempt = 1; attempt <= 3 && !ok; ++attempt) {
        if (session.stop_requested) return false;
        ok = send_block_frames(core, link, plan.chunked, plan.start, plan.end, attempt > 1, false);
        if (ok && attempt > 1) ++session.blocks_retried;
        if (!ok && link.portLost()) return false;
    }
    if (!ok) return false;
    core.ui().setProgress(bar.maximum, bar.minimum, bar.maximum, true);
    showLabel(core, plan.start, plan.end);
    return true;
}

// The range's last block, up to six tries.
bool write_last_block(IspCore& core, ChipLink& link, const RangePlan& plan) {
    for (int attempt = 1; attempt <= 6; ++attempt) {
        if (core.session.stop_requested || link.portLost()) return false;
        if (send_block_frames(core, link, plan.chunked, plan.lastBlock() * plan.blockSize, plan.end,
                              attempt > 1, false)) {
            if (attempt > 1) ++core.session.blocks_retried;
            return true;
        }
    }
    return false;
}

// Every block before the last, fast until three failures in a row, given up after six.
bool write_leading_blocks(IspCore& core, ChipLink& link, const RangePlan& plan,
                          const Progress& bar) {
    auto& session = core.session;
    bool fast = true;
    int failures = 0;
    for (long b = plan.firstBlock(); b < plan.lastBlock(); ++b) {
        const long blockStart = b == plan.firstBlock() ? plan.start : b * plan.blockSize;
        const long blockEnd = (b + 1) * plan.blockSize - 1;
        for (int attempt = 1;; ++attempt) {
            if (send_block_frames(core, link, plan.chunked, blockStart, blockEnd, attempt > 1,
                                  fast)) {
                if (attempt > 1) ++session.blocks_retried;
                failures = 0;
                break;
            }
            ++failures;
            if (session.stop_requested || link.portLost()) return false;
            if (failures >= 3) fast = false;  // slow down for the rest of the range
            if (failures >= 6) return false;
        }
        core.ui().setProgress(bar.position(blockEnd + 1), bar.minimum, bar.maximum, true);
        showLabel(core, plan.start, blockEnd);
    }
    return true;
}

}  // namespace

bool program_range(IspCore& core, ChipLink& link, bool chunked, long start, long end) {
    Ui& ui = core.ui();
    end = std::max(end, 639L);
    Progress bar;
    bar.setScale(start, end);
    end = cut_to_firmware_size_limit(core, link, bar, start, end);
    if (end < start) return true;  // nothing left below the limit

    const RangePlan plan{start, end, blockSize(core), chunked};
    if (plan.firstBlock() == plan.lastBlock()) return program_lone_block(core, link, plan, bar);
    // Families 1 to 4 write the last block first, family 0 after the others.
    const int fam = family(core);
    if (fam >= 1) {
        ui.setProgress(bar.minimum, bar.minimum, bar.maximum, false);
        if (!write_last_block(core, link, plan)) return false;
    }
    ui.setProgress(bar.minimum, bar.minimum, bar.maximum, true);
    if (!write_leading_blocks(core, link, plan, bar)) return false;
    if (fam == 0 && !write_last_block(core, link, plan)) return false;
    ui.setProgress(bar.maximum, bar.minimum, bar.maximum, true);
    showLabel(core, start, end);
    return true;
}

OpResult program_image(IspCore& core, ChipLink& link) {
    auto& session = core.session;
    Ui& ui = core.ui();
    session.program_ok = false;
    session.downloaded_only_note_cn.clear();
    session.blocks_retried = 0;
    set_button_state(core, kStateProgramming);
    session.program_start_time = std::chrono::system_clock::now();
    ui.setProgress(0, 0, 1, true);
    core.message(fmt::format("Programming.../ 正在下载... ( Begin: {} )",
                             clockText(session.program_start_time)));

    bool programmed = true;
    const int fam = family(core);
    if (!core.model) {
        programmed = false;
    } else {
        const auto& m = *core.model;
        const std::uint8_t ext2 = core.facts.ext_option_bytes[2];
        const auto ranges = rangesForFamily(fam, core.buffer.viewStart, core.buffer.viewEnd,
                                            m.programEnd, m.dataStart, m.dataEnd, ext2);
        const bool chunked = fam >= 3 || blockSize(core) > 128;
        for (const AddressRange& r : ranges) {
            programmed = program_range(core, link, chunked, r.start, r.end);
            if (!programmed) break;
        }
    }

    if (programmed) {
        session.program_ok = true;
        return OpResult::success();
    }
    if (session.stop_requested) {
        ui.beep(2);
        core.message(kStopText);
    } else {
        ui.beep(3);
        core.error(fmt::format("Program is failure. / 下载失败 (End: {})", clockNow()));
        if (!link.portLost()) core.error(kLowerBaud);
        set_button_state(core, kStateIdle);
    }
    return step_failure(core, link);
}

OpResult program_image(IspCore& core) {
    auto link = makeChannelLink(core);
    return program_image(core, *link);
}

}  // namespace qmx
