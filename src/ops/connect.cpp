#include "ops/connect.h"

#include <cmath>

#include <fmt/core.h>

#include "catalogue/model_catalogue.h"
#include "core/isp_core.h"
#include "link/handshake.h"
#include "link/status_report.h"
#include "link/wire_format.h"
#include "ops/link_binding.h"
#include "ops/session_control.h"

namespace qmx {

void stop_command(IspCore& core) {
    set_button_state(core, kButtonIdle);
    core.session.stop_requested = true;
    core.session.connected = false;
    SerialChannel& ch = core.channel;
    if (!ch.vanished()) ch.send_short_command(wire::Command::Stop);
    ch.discard_both();
    ch.close_port();
}

bool chipFitsModel(IspCore& core) {
    return chipFitsModel(core.facts, core.model);
}

std::vector<std::string> modelsFittingChip(const ConnectionFacts& facts) {
    std::vector<std::string> names;
    for (const ModelEntry& m : modelCatalogue())
        if (chipFitsModel(facts, &m)) names.push_back(m.name);
    return names;
}

bool chipFitsModel(const ConnectionFacts& f, const ModelEntry* m) {
    if (!m) return true;
    const std::string& s = f.firmware_suffix;
    if (s == "A") return m->blockSize == 128;
    if (s == "B") {
        if (m->family != 1) return false;
        if (!f.identified_model.empty() && !identifiedModelFits(f.identified_model, *m))
            return false;
        return true;
    }
    if (s == "C" || s == "D" || s == "E") {
        const int family = s == "C" ? 2 : s == "D" ? 3 : 4;
        if (m->family != family) return false;
        return f.chip_id1_text + f.chip_id2_text == m->idCode;
    }
    return true;
}

bool check_model(IspCore& core) {
    if (chipFitsModel(core)) return true;
    beep_times(core, 3);
    // Name the models that would fit, when the chip narrows them down to a few; the verdict
    // itself comes last, as the closing words of the attempt (the window's state line shows it).
    const std::vector<std::string> fits = modelsFittingChip(core.facts);
    if (!fits.empty() && fits.size() <= 8) {
        std::string list;
        for (const std::string& name : fits)
            list += (list.empty() ? "" : ", ") + name;
        core.error(
            fmt::format("This chip fits the model(s): {} / 该芯片对应的型号: {}", list, list));
    }
    core.error("MCU Type is wrong. / MCU 型号错, 请重选");
    set_button_state(core, kButtonIdle);
    core.buffer.imageLoaded = false;
    MessageBoxRequest box;
    box.text =
        "MCU Type is wrong, please select another MCU and open the file again.\r\n"
        "         Chinese:MCU 型号错。请重选 MCU、重新打开文件。";
    box.icon = BoxIcon::Exclamation;
    core.ui().messageBox(box);
    return false;
}

void show_clock(IspCore& core) {
    const ConnectionFacts& f = core.facts;
    const double hz = f.clock_hz;
    const std::string x = clockMHzText(hz);
    if (f.firmware_suffix == "B") {
        core.message("Internal clock:" + x + "MHz./内部时钟频率:" + x + "M.");
    } else if (f.firmware_suffix == "D" || f.firmware_suffix == "E") {
        core.message("Clock:" + x + "MHz./时钟频率:" + x + "M.");
    } else {
        core.message("Internal clock:" + x + "MHz./内部时钟频率:" + x + "M.");
        const std::string y = f.double_speed ? clockMHzText(hz / 2) : x;
        core.message("External clock:" + y + "MHz./外部时钟频率:" + y + "M.");
    }
}

namespace {

OpResult reportStopped(IspCore& core) {
    beep_times(core, 1);
    core.message("Operation is stop. / 操作被停止.");
    return OpResult::stopped();
}

// The chip's synchronisation phase ends with five 80 commands; the answers are not looked at.
void endSynchronisation(IspCore& core) {
    SerialChannel& ch = core.channel;
    for (int i = 0; i < 5; ++i) {
        ch.flush_receive();
        ch.set_user_frame_ready(false);
        core.session.demo_stop_requested = false;
        ch.discard_both();
        ch.send_short_command(wire::Command::Continue);
        ch.wait_response(200);
    }
}

// A chip whose first answer carried no identification is asked for its status.
OpResult readMissingStatus(IspCore& core, LinkContext& link) {
    SerialChannel& ch = core.channel;
    for (int i = 0; i < 4; ++i) {
        if (read_status(link, false)) break;
        if (core.session.stop_requested || ch.vanished()) break;
    }
    if (core.session.stop_requested) return reportStopped(core);
    if (core.facts.status_read_ok) return OpResult::success();
    beep_times(core, 3);
    stop_command(core);
    const std::string line = timedFailureLine();
    core.message(line);
    return ch.vanished() ? OpResult::portLost(line) : OpResult::failed(line);
}

// Handshake through model check; the window's buttons follow the result.
OpResult connectSteps(IspCore& core, bool status_only) {
    SerialChannel& ch = core.channel;
    CoreLink coreLink(core);
    LinkContext& link = coreLink.context();
    HandshakeRequest request;
    request.statusOnly = status_only;
    request.checkModel = [&core] { return check_model(core); };
    if (OpResult r = handshake(link, request); !r.ok()) {
        set_button_state(core, kButtonIdle);
        return r;
    }
    endSynchronisation(core);
    if (status_only) {
        set_button_state(core, kButtonIdle);
        core.session.connected = true;
        return OpResult::success();
    }
    if (core.session.stop_requested) return reportStopped(core);
    if (!core.facts.chip_identified) {
        if (OpResult r = readMissingStatus(core, link); !r.ok()) return r;
    }
    if (!core.facts.chip_identified) {
        // An old loader's answer carries no identification: say that the selection was taken
        // on trust rather than checking it against values of some other chip.
        core.message(
            "MCU model not verified by the chip (its loader does not identify itself). / "
            "MCU 未报告型号, 所选型号未经核对。");
    }
    show_clock(core);
    const long newbaud = core.facts.newbaud;
    core.message(fmt::format("Now baud is: / 当前波特率为: {} bps.", newbaud));
    if (!core.facts.offline_board_link) ch.compute_pacing(fmt::format("{},n,8,1", newbaud));
    if (!check_model(core)) return OpResult::failed("MCU Type is wrong. / MCU 型号错, 请重选");
    set_button_state(core, kButtonIdentified);
    core.session.connected = true;
    return OpResult::success();
}

}  // namespace

OpResult connect_chip(IspCore& core, bool status_only) {
    bind_channel(core);
    set_button_state(core, kButtonBusy);
    reset_status_panel(core.ui(), core.facts);
    core.message("We are trying to connect to your MCU ... ");
    core.message("Chinese:正在尝试与 MCU/单片机 握手连接 ... ");
    core.session.connected = false;
    OpResult r = connectSteps(core, status_only);
    // A port that vanished is what the user must hear about, whatever step noticed it.
    if (!r.ok() && core.channel.vanished()) r.outcome = Outcome::PortLost;
    return r;
}

OpResult read_chip_options(IspCore& core) {
    bind_channel(core);
    core.channel.set_debug_mode(false);
    set_button_state(core, kButtonReady);
    core.session.stop_requested = core.session.stop_for_good.load();
    OpResult result;
    if (!core.session.connected) {
        core.clearMessages();
        result = connect_chip(core, true);
    }
    if (result.ok() && core.session.connected) {
        show_clock(core);
        if (core.facts.status_read_ok) {
            run_user_program(core);
            const std::string& s = core.facts.firmware_suffix;
            if (s.empty() || s.back() != 'B')
                core.message("Read Chip Lock OK. / 读选项成功.");
            else
                core.message("Read MCU Firmware Version OK. / 读版本号成功.");
        } else {
            core.error("Failed to read Options. / 读选项失败.");
            result = OpResult::failed("Failed to read Options. / 读选项失败.");
        }
    }
    stop_command(core);
    return result;
}

}  // namespace qmx
