#include "monitor/softice.h"

#include <fmt/core.h>

#include "core/isp_core.h"
#include "monitor/monitor_image.h"
#include "ops/chip_link.h"
#include "ops/download_driver.h"
#include "ops/programmer.h"

namespace qmx {

namespace {

constexpr const char* kStopText = "Operation is stop. / 操作被停止.";

void notice(IspCore& core, const std::string& text) {
    MessageBoxRequest box;
    box.text = text;
    box.icon = BoxIcon::Exclamation;
    core.ui().messageBox(box);
}

bool askYes(IspCore& core, const std::string& text) {
    MessageBoxRequest box;
    box.text = text;
    box.buttons = BoxButtons::YesNo;
    box.defaultAnswer = BoxAnswer::No;
    box.icon = BoxIcon::Question;
    return core.ui().messageBox(box) == BoxAnswer::Yes;
}

// Finds and reads one monitor file; raises the box naming what is missing.
bool loadMonitorFile(IspCore& core, const std::string& name, const std::vector<std::string>& dirs,
                     std::vector<std::uint8_t>& bytes) {
    const std::string path = findMonitorFile(name, dirs);
    if (path.empty()) {
        notice(core, missingMonitorFileText(name, dirs));
        return false;
    }
    if (!readMonitorFile(path, bytes)) {
        notice(core,
               fmt::format("Cannot read the file {}.\r\nChinese:无法读取文件 {}。", path, path));
        return false;
    }
    return true;
}

// Notes on monitor files that do not fill their place exactly.
void reportFileSizes(IspCore& core, const MonitorImageBuild& b, const std::string& modelFile) {
    auto shortNote = [&](const std::string& name, long missing, int slot) {
        core.message(
            fmt::format("{} is {} bytes short of {}: the rest is FF. / {} 文件少 {} 字节, "
                        "不足部分写 FF。",
                        name, missing, slot, name, missing));
    };
    auto longNote = [&](const std::string& name, int slot) {
        core.message(
            fmt::format("{} is longer than {} bytes: only the first {} are used. / {} "
                        "超过 {} 字节, 只用前 {} 字节。",
                        name, slot, slot, name, slot, slot));
    };
    if (b.coreShortBy > 0) shortNote(kMonitorCoreFile, b.coreShortBy, kMonitorCoreBytes);
    if (b.coreLong) longNote(kMonitorCoreFile, kMonitorCoreBytes);
    if (b.modelShortBy > 0) shortNote(modelFile, b.modelShortBy, kModelMonitorBytes);
    if (b.modelLong) longNote(modelFile, kModelMonitorBytes);
}

// The two programming passes; false (after the failure is reported) when one fails.
bool programMonitor(IspCore& core, ChipLink& link) {
    set_button_state(core, kStateProgramming);
    core.session.program_start_time = std::chrono::system_clock::now();
    core.ui().setProgress(0, 0, 1, true);
    core.message(fmt::format("Programming.../ 正在下载... ( Begin: {} )",
                             clockText(core.session.program_start_time)));
    if (program_range(core, link, false, kMonitorBodyStart, kMonitorBodyEnd) &&
        program_range(core, link, false, 0, kMonitorVectorEnd))
        return true;
    if (core.session.stop_requested) {
        core.ui().beep(2);
        core.message(kStopText);
    } else {
        core.ui().beep(3);
        core.error(fmt::format("Program is failure. / 下载失败 (End: {})", clockNow()));
    }
    return false;
}

// About six seconds for the monitor to start, shown on the progress bar.
void waitForMonitorStart(IspCore& core, ChipLink& link) {
    Ui& ui = core.ui();
    for (int step = 0; step <= 300; ++step) {
        if (core.session.stop_requested) break;
        link.waitMs(20);
        ui.setProgress(step, 0, 300, true);
    }
    ui.setProgress(0, 0, 300, false);
}

Outcome failureOutcome(IspCore& core, ChipLink& link) {
    if (link.portLost()) return Outcome::PortLost;
    if (core.session.stop_requested) return Outcome::Stopped;
    return Outcome::Failed;
}

// Erase, the two passes and Run, with the image in the code buffer.
Outcome writeImage(IspCore& core, ChipLink& link, const MonitorImageBuild& build,
                   const std::string& modelFile) {
    core.buffer.bytes = build.image;
    core.buffer.viewStart = kMonitorBodyStart;
    core.buffer.viewEnd = kMonitorBodyEnd;
    core.channel.set_header_expected(false);
    if (!connect_and_erase(core, link).ok()) return failureOutcome(core, link);
    reportFileSizes(core, build, modelFile);
    if (!programMonitor(core, link)) return failureOutcome(core, link);
    run_user_program(core, link);
    waitForMonitorStart(core, link);
    core.message("Download Soft_ICE is succeed /下载 Soft_ICE 成功");
    MessageBoxRequest box;
    box.text = "Download Soft_ICE is succeed.\r\nChinese:下载 Soft_ICE 成功。";
    box.icon = BoxIcon::Information;
    core.ui().messageBox(box);
    return Outcome::Ok;
}

}  // namespace

Outcome downloadSoftIce(IspCore& core, ChipLink& link, const std::string& monitorDir) {
    auto& session = core.session;
    // The debug port gives the port back first.
    core.channel.set_debug_mode(false);
    core.channel.set_debug_sink(nullptr);
    if (!core.model || !core.model->monitorCapable) {
        notice(core, fmt::format("The model {} cannot take the monitor.\r\nChinese:{} 不能下载 "
                                 "SoftICE 仿真程序。",
                                 core.model ? core.model->name : "-",
                                 core.model ? core.model->name : "-"));
        return session.last_outcome = Outcome::BadInput;
    }
    const std::string modelFile = core.model->monitorImage;
    const auto dirs = monitorSearchDirs(monitorDir);
    std::vector<std::uint8_t> coreBytes, modelBytes;
    if (!loadMonitorFile(core, kMonitorCoreFile, dirs, coreBytes) ||
        !loadMonitorFile(core, modelFile, dirs, modelBytes))
        return session.last_outcome = Outcome::BadInput;

    if (!askYes(core,
                "Write SoftICE program, the DownLoad Code will be erased!\r\n Chinese: 烧录 "
                "SoftICE 程序, 将会删除下载引导码。\r\n\r\n          Continue?/ 继续吗?  (Y/N)") ||
        !askYes(core,
                "Please check MCU type / 请确认 MCU 型号是否正确\r\n\r\n        Continue?/ "
                "继续吗?  (Y/N)"))
        return session.last_outcome = Outcome::Stopped;

    // An earlier Stop must not end this command before it starts.
    session.stop_requested = session.stop_for_good.load();
    const RunningSession running(session);
    set_button_state(core, kStateBusy);
    const MonitorImageBuild build = buildMonitorImage(coreBytes, modelBytes, modelFile);
    // The user's buffer and file state come back unchanged whatever happens.
    const CodeBuffer saved = core.buffer;
    const Outcome outcome = writeImage(core, link, build, modelFile);
    core.buffer = saved;
    stop_download(core, link);
    return session.last_outcome = outcome;
}

Outcome downloadSoftIce(IspCore& core, const std::string& monitorDir) {
    auto link = makeChannelLink(core);
    return downloadSoftIce(core, *link, monitorDir);
}

}  // namespace qmx
