#include "offline/offline_board.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <optional>

#include <fmt/core.h>

#include "core/isp_core.h"
#include "link/handshake.h"
#include "link/serial_channel.h"
#include "link/wire_format.h"
#include "ops/download_driver.h"
#include "ops/link_binding.h"

namespace qmx {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPleaseOpenFile = "    Please open file./请打开文件。    ";
constexpr int kBlockTimeoutMs = 600;
constexpr int kStallMs = 200;

// A step either lets the session go on (nothing) or ends it with an outcome it has already
// reported to the user.
using Step = std::optional<Outcome>;

void stopMessage(IspCore& core, int beeps) {
    beep_times(core, beeps);
    core.message("Operation is stop.");
    core.message("操作被停止.");
}

void refuse(IspCore& core, const std::string& text) {
    MessageBoxRequest box;
    box.text = text;
    core.ui().messageBox(box);
}

// A wait that did not bring an answer because of Stop or a lost port ends the session.
Step endUnlessAnswered(IspCore& core, BoardAnswer r, int stopBeeps) {
    if (r == BoardAnswer::Stopped) {
        stopMessage(core, stopBeeps);
        return Outcome::Stopped;
    }
    if (r == BoardAnswer::PortLost) return Outcome::PortLost;
    return {};
}

// The running board session: the channel, the model's family and what the board said. Every
// step returns nothing to go on, or the outcome that ends the session (already reported).
class BoardSession {
  public:
    BoardSession(IspCore& core, long wakeTries)
        : core_(core), ch_(core.channel), family_(core.model->family), wakeTries_(wakeTries) {}

    Step connect();
    Step readBoardInfo();
    Step download(const BoardBytes& image, const ChipCopy& chip);
    const BoardInfo& info() const { return info_; }

  private:
    // Sends `code` up to `tries` times until an answer (with status `want` when it is >= 0);
    // `answered` tells whether one came.
    Step command(wire::Command cmd, int timeoutMs, std::uint8_t param, int tries, bool& answered,
                 int want = -1);
    Step failed(std::initializer_list<const char*> lines);
    Step openPort();
    Step wakeUp();
    Step synchronise(std::uint8_t param, int timeoutMs, int series, int tries, bool anySeries);
    Step readVersion(int timeoutMs);
    Step sendRange(const BoardBytes& image, long from, long to);
    Step sendChunk(const BoardBytes& image, long from, long to, bool again, bool& good);
    Step secondPhase(const BoardBytes& image, const ChipCopy& chip);

    IspCore& core_;
    SerialChannel& ch_;
    int family_;
    long wakeTries_;
    BoardInfo info_;
    int stopBeeps_ = 1;  // one beep for a Stop while connecting or erasing, two while sending
    long sent_ = 0;
};

Step BoardSession::command(wire::Command cmd, int timeoutMs, std::uint8_t param, int tries,
                           bool& answered, int want) {
    answered = false;
    for (int i = 0; i < tries && !answered; ++i) {
        send_board_command(ch_, family_, wire::code(cmd), param);
        const BoardAnswer r = wait_board_answer(ch_, timeoutMs);
        if (Step end = endUnlessAnswered(core_, r, stopBeeps_)) return end;
        answered = r == BoardAnswer::Answer && (want < 0 || ch_.rx_buffer()[3] == want);
    }
    return {};
}

Step BoardSession::failed(std::initializer_list<const char*> lines) {
    beep_times(core_, 3);
    for (const char* line : lines)
        core_.error(line);
    return Outcome::Failed;
}

Step BoardSession::openPort() {
    ch_.close_port();
    ch_.set_port_path(core_.portPath);
    ch_.set_settings("115200,n,8,1");
    if (ch_.open_port() != 0) {
        failed({"Open COM port is failure!",
                "The COM port opened by another Program or no the COM port.", "", "打开串口失败!",
                "串口已被其它程序打开或不存在。"});
        for (const std::string& line : ch_.last_open_advice())
            core_.error(line);
        return Outcome::PortLost;
    }
    ch_.discard_both();
    return {};
}

Step BoardSession::wakeUp() {
    static const std::uint8_t kWake = 0xAA;
    for (long i = 0; i < wakeTries_; ++i) {
        ch_.wait_tx_empty();
        ch_.reset_receiver();
        ch_.set_frame_error(false);
        ch_.set_receive_armed(true);
        ch_.write_bytes(&kWake, 1);
        const BoardAnswer r = wait_board_answer(ch_, 1000);
        if (Step end = endUnlessAnswered(core_, r, stopBeeps_)) return end;
        if (r == BoardAnswer::Answer) return {};
    }
    return failed({"Communication is failure!", "连接失败。"});
}

// `series` series of up to `tries` commands 80; with `anySeries` one answered series is
// enough, otherwise every series must be answered.
Step BoardSession::synchronise(std::uint8_t param, int timeoutMs, int series, int tries,
                               bool anySeries) {
    for (int s = 0; s < series; ++s) {
        bool answered = false;
        if (Step end = command(wire::Command::BoardSync, timeoutMs, param, tries, answered))
            return end;
        if (answered && anySeries) return {};
        if (!answered && !anySeries) break;
        if (answered && s == series - 1) return {};
    }
    return failed({"Communication is failure!", "连接失败。"});
}

Step BoardSession::readVersion(int timeoutMs) {
    bool answered = false;
    if (Step end = command(wire::Command::BoardVersion, timeoutMs, 0, 4, answered,
                           wire::code(wire::Command::BoardVersion)))
        return end;
    if (!answered) return failed({"Communication is failure!", "连接失败。"});
    info_.version = decodeBoardVersion(ch_.rx_buffer()[4]);
    return {};
}

Step BoardSession::connect() {
    if (Step end = openPort()) return end;
    core_.clearMessages();
    core_.message("We are connecting ... ");
    for (const char* line : {"正在连接...", "Please turn power on.", "请给脱机下载板上电。"})
        core_.message(line);
    if (Step end = wakeUp()) return end;
    if (Step end = synchronise(0xF3, 20, 11, 200, false)) return end;
    if (Step end = readVersion(3000)) return end;
    core_.message("Version: " + info_.version.text);
    core_.message("脱机下载固件版本号: " + info_.version.text);
    return {};
}

Step BoardSession::readBoardInfo() {
    bool answered = false;
    if (Step end = command(wire::Command::BoardInfo, 300, 0, 4, answered)) return end;
    if (!answered) return failed({"Communication is failure!", "连接失败。"});
    info_.extended = ch_.rx_buffer()[4] != 0;
    info_.capacity = static_cast<long>(ch_.rx_buffer()[5]) * 1024;
    return readVersion(300);
}

Step BoardSession::sendChunk(const BoardBytes& image, long from, long to, bool again, bool& good) {
    good = false;
    for (long at = from; at <= to; at += 128) {
        const std::size_t n = static_cast<std::size_t>(std::min(to - at + 1, 128L));
        ch_.reset_receiver();
        ch_.set_frame_error(false);
        ch_.set_receive_armed(true);
        const std::span<const std::uint8_t> data(&image[static_cast<std::size_t>(at)], n);
        ch_.write_bytes(wire::boardBlockFrame(again && at == from, at, data).bytes);
        const BoardAnswer r = wait_board_answer(ch_, kBlockTimeoutMs);
        if (Step end = endUnlessAnswered(core_, r, stopBeeps_)) return end;
        if (r != BoardAnswer::Answer || ch_.rx_buffer()[3] != wire::kAccepted) return {};
    }
    good = true;
    return {};
}

Step BoardSession::sendRange(const BoardBytes& image, long from, long to) {
    const long chunk = core_.model->blockSize > 0 ? core_.model->blockSize : 128;
    const int total = static_cast<int>((to - from + chunk) / chunk);
    int done = 0;
    Ui& ui = core_.ui();
    ui.setProgress(0, 0, total, true);
    for (long at = from; at <= to; at += chunk) {
        const long last = std::min(at + chunk - 1, to);
        bool good = false;
        for (int attempt = 0; attempt < 6 && !good; ++attempt) {
            if (Step end = sendChunk(image, at, last, attempt > 0, good)) {
                ui.setProgress(done, 0, total, false);
                return end;
            }
        }
        if (!good) {
            ui.setProgress(done, 0, total, false);
            return failed({"Download is failure!", "下载失败。"});
        }
        sent_ += last - at + 1;
        ui.setProgress(++done, 0, total, true);
        ui.setKbyteLabel(fmt::format("{:.3f}K", static_cast<double>(sent_) / 1024.0));
    }
    ui.setProgress(total, 0, total, false);
    return {};
}

Step BoardSession::secondPhase(const BoardBytes& image, const ChipCopy& chip) {
    bool answered = false;
    if (Step end = command(wire::Command::BoardEraseSecond, 600, 0, 6, answered)) return end;
    if (!answered) return failed({"Erase application is failed.", "下载失败。"});
    if (Step end = synchronise(0xF1, 50, 6, 6, true)) return end;
    if (!info_.extended) return sendRange(image, board::kSecondPartStart, board::kSecondPartEnd);
    // The rest of the chip (0xAC00-0xF3FF) from the same prepared copy the CRC table was
    // computed from.
    BoardBytes second = image;
    std::copy(chip.begin() + board::kExtendedChipStart, chip.begin() + board::kExtendedChipEnd + 1,
              second.begin() + board::kFirstPartStart);
    return sendRange(second, board::kFirstPartStart, board::kExtendedBoardEnd);
}

Step BoardSession::download(const BoardBytes& image, const ChipCopy& chip) {
    core_.message("We are erasing all ...");
    core_.message("正在擦除全片内容...");
    bool answered = false;
    if (Step end = command(wire::Command::Erase, 4000, 0, 6, answered)) return end;
    if (!answered) return failed({"Erase application is failed.", "擦除失败"});
    core_.message("We are download ...");
    core_.message("正在下载 ...");
    stopBeeps_ = 2;
    const int v = info_.version.number;
    if (Step end = sendRange(image, board::kFirstPartStart, v >= 17 ? 0xF7FF : 0xF3FF)) return end;
    if ((v == 15 || v >= 17) && !info_.extended) return {};
    return secondPhase(image, chip);
}

// The last chip address a board delivers to its chips.
long deliverableEnd(const BoardInfo& info) {
    if (info.extended) return board::kExtendedChipEnd;
    const int v = info.version.number;
    return v == 15 || v >= 17 ? board::kSecondChipStart - 1 : board::kSecondChipEnd;
}

// Everything checked before the port is touched: a loaded image, the count limit and the
// serial-number parameters. Sets the limit and the serial parameters.
Step checkBeforeConnect(IspCore& core, const std::string& limitText, long& limit,
                        BoardSerial& serial) {
    if (!core.buffer.imageLoaded || !core.model) {
        refuse(core, kPleaseOpenFile);
        return Outcome::NoFile;
    }
    const CountLimit count = readCountLimit(limitText);
    if (!count.error.empty()) {
        refuse(core, count.error);
        return Outcome::BadInput;
    }
    limit = count.value;
    if (core.model->family < 2) {
        refuse(core,
               "The offline board takes models of families 2 to 4 only. / "
               "脱机下载板不支持此型号。");
        return Outcome::BadInput;
    }
    const std::string error = checkBoardSerial(core.serial, *core.model, limit, serial);
    if (!error.empty()) {
        refuse(core, error);
        return Outcome::BadInput;
    }
    return {};
}

// The last chip address of the image the board is to program: viewEnd, cut to what the board
// holds; refused when the board holds nothing of it or could not deliver all of it.
Step programEndFor(IspCore& core, const BoardInfo& info, long& end) {
    const long c = info.capacity;
    if (!info.version.known) {
        refuse(core, "The board reports firmware version " + info.version.text +
                         ", which this program does not know; nothing was sent. / "
                         "脱机下载板固件版本号无法识别, 未下载。");
        return Outcome::Failed;
    }
    if (c <= 0 || c - 1 < core.buffer.viewStart) {
        refuse(core, fmt::format("The board reports a capacity of {}K, too small for this "
                                 "image; nothing was sent. / 脱机下载板容量为 {}K, 无法存放程序, "
                                 "未下载。",
                                 c / 1024, c / 1024));
        return Outcome::Failed;
    }
    end = core.buffer.viewEnd;
    if (end >= c) {
        refuse(core, capacityText(c));
        end = c - 1;
    }
    const long limit = deliverableEnd(info);
    if (end > limit) {
        refuse(core, fmt::format("This board (firmware {}{}) cannot deliver chip addresses "
                                 "{:04X}-{:04X} of the image; nothing was sent. / "
                                 "此脱机下载板不能下载 {:04X}-{:04X} 的程序, 未下载。",
                                 info.version.text, info.extended ? ", extended" : "", limit + 1,
                                 end, limit + 1, end));
        return Outcome::Failed;
    }
    return {};
}

BoardImageInput imageInput(IspCore& core, long limit, const BoardSerial& serial, long programEnd) {
    BoardImageInput in;
    in.model = core.model;
    in.options = buildOptionSet(core.options, *core.model);
    in.serial = serial;
    in.limit = limit;
    in.programEnd = programEnd;
    return in;
}

Step connectAndDownload(IspCore& core, BoardSession& session, long limit,
                        const BoardSerial& serial) {
    if (Step end = session.connect()) return end;
    if (Step end = session.readBoardInfo()) return end;
    core.message("Connect OK. / 连接成功。");
    long programEnd = 0;
    if (Step end = programEndFor(core, session.info(), programEnd)) return end;
    if (core.session.stop_requested) {
        stopMessage(core, 1);
        return Outcome::Stopped;
    }
    core.message("we are  processing data, please wait...");
    core.message("正在处理数据，请稍候...");
    core.ui().setProgress(0, 0, 511, true);
    const ChipCopy chip = prepareChipCopy(core.buffer, serial);
    const BoardBytes image = buildBoardImage(imageInput(core, limit, serial, programEnd), chip);
    core.ui().setProgress(511, 0, 511, false);
    if (Step end = session.download(image, chip)) return end;
    core.message("Download OK. / 下载成功。");
    return Outcome::Ok;
}

// Ends the board session on every path: answers are summed again, the session is no longer
// running and, once the port was used, the Stop command resets the line and the buttons.
struct SessionEnd {
    IspCore& core;
    bool portUsed = false;
    ~SessionEnd() {
        core.channel.set_crc_check(false);
        core.session.session_running = false;
        if (portUsed)
            stop_download(core);
        else
            set_button_state(core, kStateIdle);
    }
};

}  // namespace

void send_board_command(SerialChannel& channel, int family, std::uint8_t code, std::uint8_t param) {
    channel.reset_receiver();
    channel.set_frame_error(false);
    channel.set_receive_armed(true);
    channel.write_bytes(
        wire::boardCommand(code, static_cast<std::uint8_t>(family), param, channel.crc_check())
            .bytes);
}

BoardAnswer wait_board_answer(SerialChannel& channel, int timeoutMs) {
    int lastCount = channel.rx_count();
    auto lastChange = Clock::now();
    channel.wait_until(timeoutMs, [&] {
        if (channel.frame_ready() || channel.frame_error()) return true;
        if (channel.rx_count() != lastCount) {
            lastCount = channel.rx_count();
            lastChange = Clock::now();
        } else if (lastCount > 0 &&
                   Clock::now() - lastChange >= std::chrono::milliseconds(kStallMs)) {
            channel.set_frame_error(true);  // a stalled answer ends the wait
            return true;
        }
        return false;
    });
    if (channel.frame_ready()) return BoardAnswer::Answer;
    if (channel.vanished()) return BoardAnswer::PortLost;
    if (channel.stop_requested()) return BoardAnswer::Stopped;
    return BoardAnswer::None;
}

BoardVersion decodeBoardVersion(std::uint8_t byte) {
    BoardVersion v;
    const int hi = byte >> 4, lo = byte & 0x0F;
    v.known = hi <= 9 && lo <= 9;
    v.number = v.known ? hi * 10 + lo : 0;
    v.text = v.known ? fmt::format("{}.{}", hi, lo) : fmt::format("{:02X}", byte);
    return v;
}

Outcome run_offline_board_session(IspCore& core, const std::string& limitText, long wakeTries) {
    // The session is busy from start to end, so Stop works throughout.
    core.channel.set_debug_mode(false);
    core.session.stop_requested = core.session.stop_for_good.load();
    core.session.connected = false;
    core.session.session_running = true;
    set_button_state(core, kStateBusy);
    SessionEnd end{core};
    long limit = 0;
    BoardSerial serial;
    if (Step refused = checkBeforeConnect(core, limitText, limit, serial))
        return core.session.last_outcome = *refused;
    bind_channel(core);
    end.portUsed = true;
    // Board answers carry a CRC and need no header, whatever the last chip left behind.
    core.channel.set_crc_check(true);
    core.channel.set_header_expected(false);
    BoardSession session(core, wakeTries);
    return core.session.last_outcome = *connectAndDownload(core, session, limit, serial);
}

std::string build_board_image_for(IspCore& core, const std::string& limitText, long capacity,
                                  BoardBytes& image) {
    if (!core.buffer.imageLoaded || !core.model) return kPleaseOpenFile;
    const CountLimit limit = readCountLimit(limitText);
    if (!limit.error.empty()) return limit.error;
    BoardSerial serial;
    const std::string error = checkBoardSerial(core.serial, *core.model, limit.value, serial);
    if (!error.empty()) return error;
    long programEnd = core.buffer.viewEnd;
    if (programEnd >= capacity) {
        refuse(core, capacityText(capacity));
        programEnd = capacity - 1;
    }
    image = buildBoardImage(imageInput(core, limit.value, serial, programEnd),
                            prepareChipCopy(core.buffer, serial));
    return {};
}

}  // namespace qmx
