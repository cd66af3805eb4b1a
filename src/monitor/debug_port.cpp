#include "monitor/debug_port.h"

#include <cstring>
#include <deque>
#include <utility>

#include <fmt/core.h>

#include "catalogue/text_util.h"
#include "core/isp_core.h"
#include "link/wire_format.h"

namespace qmx {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDebugPortTitle = "  调试用串口     ";

// Opens the channel's port with the debug settings; raises the box on failure.
bool openDebugPort(IspCore& core) {
    const int rc = core.channel.open_port();
    if (rc == 0) return true;
    const std::string why = rc > 0 ? std::strerror(rc) : "the port did not open";
    MessageBoxRequest box;
    box.text = fmt::format(
        "Cannot open the debug port {} ({}): {}\r\nChinese:无法打开调试用串口 {}",
        core.channel.port_path(), core.channel.settings(), why, core.channel.port_path());
    box.title = kDebugPortTitle;
    box.icon = BoxIcon::Exclamation;
    core.ui().messageBox(box);
    return false;
}

// Sends a monitor command, only while the port is open.
void sendCommand(IspCore& core, char letter) {
    if (!core.channel.is_open()) return;
    core.channel.write_bytes(wire::monitorCommand(letter));
}

struct Arrival {
    ReportReceiver::Event event;
    std::vector<std::uint8_t> frame;
};

}  // namespace

std::string debugSettingsText(const std::string& baud, const std::string& parity,
                              const std::string& dataBits, const std::string& stopBits) {
    const std::string p(trimBlanks(parity));
    return fmt::format("{},{},{},{}", trimBlanks(baud),
                       p.empty() ? std::string("N") : p.substr(0, 1), trimBlanks(dataBits),
                       trimBlanks(stopBits));
}

void ReportReceiver::reset() {
    state_ = State::Hunt;
    frame_.clear();
}

void ReportReceiver::feed(const std::uint8_t* data, std::size_t count, const Handler& handler) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        switch (state_) {
            case State::Hunt:
                if (b == 0xA5) state_ = State::GotA5;
                break;
            case State::GotA5:
                state_ = b == 0x5A ? State::SeekAA : (b == 0xA5 ? State::GotA5 : State::Hunt);
                break;
            case State::SeekAA:
                if (b == 0xAA) {
                    frame_.assign(1, b);
                    state_ = State::Collect;
                }
                break;
            case State::Collect: {
                frame_.push_back(b);
                if (frame_.size() < 3) break;
                const std::size_t length = (static_cast<std::size_t>(frame_[1]) << 8) | frame_[2];
                // AA, the two length bytes, the type and the checksum at the least.
                if (length > kMaxReportLength || length < 5) {
                    const std::vector<std::uint8_t> dropped = std::move(frame_);
                    reset();
                    handler(Event::Discarded, dropped);
                    break;
                }
                if (frame_.size() < length) break;
                std::uint8_t sum = 0;
                for (std::size_t k = 0; k + 1 < length; ++k)
                    sum = static_cast<std::uint8_t>(sum + frame_[k]);
                const bool good = sum == frame_[length - 1];
                const std::vector<std::uint8_t> done = std::move(frame_);
                reset();
                handler(good ? Event::Frame : Event::BadChecksum, done);
                break;
            }
        }
    }
}

void RetryTimer::badFrame(Clock::time_point now) {
    left_ = 3;
    running_ = true;
    due_ = now + interval_;
}

bool RetryTimer::tick(Clock::time_point now) {
    if (!running_ || now < due_) return false;
    if (left_ > 3) left_ = 3;
    running_ = false;
    if (left_ <= 0) return false;
    running_ = true;
    due_ = now + interval_;
    --left_;
    return true;
}

Outcome runDebugPort(IspCore& core, const DebugPortRequest& request, DebugViews& views,
                     DebugPortControl& control, const DebugPortEvents& events) {
    SerialChannel& ch = core.channel;
    // A Stop left over from an earlier operation must not end the port at once.
    core.session.stop_requested = core.session.stop_for_good.load();
    ch.setStopFlag(&core.session.stop_requested);
    ch.set_user_command_mode(false);
    ch.set_debug_mode(false);
    ch.set_port_path(request.portPath);
    ch.set_settings_for_next_open(request.settings);
    if (!openDebugPort(core)) return Outcome::PortLost;

    ReportReceiver rx;
    RetryTimer retry;
    std::deque<Arrival> arrivals;
    Clock::time_point lastByte = Clock::now();
    ch.set_debug_sink([&](const std::uint8_t* data, std::size_t n) {
        lastByte = Clock::now();
        rx.feed(data, n, [&](ReportReceiver::Event e, const std::vector<std::uint8_t>& f) {
            arrivals.push_back({e, f});
        });
    });
    ch.set_debug_mode(true);
    if (events.opened) events.opened();
    if (request.continueAtStart) sendCommand(core, 'T');

    Outcome outcome = Outcome::Ok;
    for (;;) {
        if (control.close || core.session.stop_requested) break;
        if (ch.vanished()) {
            core.message("The debug port is gone (unplugged?). / 调试用串口已断开。");
            outcome = Outcome::PortLost;
            break;
        }
        if (control.continueRun.exchange(false)) {
            // Continue reopens the port with the current settings, then sends "T".
            rx.reset();
            retry.stop();
            if (!openDebugPort(core)) {
                outcome = Outcome::PortLost;
                break;
            }
            sendCommand(core, 'T');
        }
        ch.wait_until(20,
                      [&] { return !arrivals.empty() || control.close || control.continueRun; });
        const auto now = Clock::now();
        while (!arrivals.empty()) {
            Arrival a = std::move(arrivals.front());
            arrivals.pop_front();
            if (a.event == ReportReceiver::Event::Frame) {
                retry.stop();
                if (events.frame) events.frame(a.frame);
                const ReportEffect effect = views.apply(a.frame.data(), a.frame.size());
                if (events.report && effect.view != DebugView::None) events.report(views, effect);
                sendCommand(core, 'P');
            } else if (a.event == ReportReceiver::Event::BadChecksum) {
                retry.badFrame(now);
            }
        }
        if (rx.inFrame()) {
            retry.stop();
            // A frame that stopped arriving is given up and asked for again.
            if (now - lastByte > request.byteTimeout) {
                rx.reset();
                retry.badFrame(now);
            }
        }
        if (retry.tick(now)) sendCommand(core, 'R');
    }
    ch.set_debug_sink(nullptr);
    ch.set_debug_mode(false);
    ch.close_port();
    if (events.closed) events.closed();
    return outcome;
}

}  // namespace qmx
