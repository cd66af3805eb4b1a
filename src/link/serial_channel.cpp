#include "link/serial_channel.h"

#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <fmt/core.h>

#include "core/ui.h"
#include "link/crc16.h"
#include "link/port_advice.h"

namespace qmx {

// ---------------------------------------------------------------- settings text

std::optional<PortSettings> PortSettings::parse(const std::string& text) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == ',') {
            parts.push_back(cur);
            cur.clear();
        } else if (c != ' ' && c != '\t') {
            cur += c;
        }
    }
    parts.push_back(cur);
    if (parts.size() != 4) return std::nullopt;
    PortSettings s;
    char* end = nullptr;
    errno = 0;
    long baud = std::strtol(parts[0].c_str(), &end, 10);
    if (parts[0].empty() || *end != '\0' || errno != 0 || baud < 50 || baud > 4000000)
        return std::nullopt;
    s.baud = baud;
    if (parts[1].size() != 1) return std::nullopt;
    char p = static_cast<char>(std::tolower(static_cast<unsigned char>(parts[1][0])));
    if (std::string_view("neoms").find(p) == std::string_view::npos) return std::nullopt;
    s.parity = p;
    if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') return std::nullopt;
    s.dataBits = parts[2][0] - '0';
    if (parts[3] == "1")
        s.stopBits = 1;
    else if (parts[3] == "2" || parts[3] == "1.5")
        s.stopBits = 2;
    else
        return std::nullopt;
    return s;
}

std::string PortSettings::text() const {
    return fmt::format("{},{},{},{}", baud, parity, dataBits, stopBits);
}

// ---------------------------------------------------------------- frames

namespace frames {

std::vector<std::uint8_t> command(std::uint8_t cmd, const std::vector<std::uint8_t>& payload) {
    std::size_t len = payload.size() + 6;
    std::vector<std::uint8_t> f;
    f.reserve(len + 2);
    for (std::uint8_t b :
         {std::uint8_t{0x46}, std::uint8_t{0xB9}, std::uint8_t{0x6A},
          static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len & 0xFF), cmd})
        f.push_back(b);
    for (std::uint8_t b : payload)
        f.push_back(b);
    unsigned sum = 0;
    for (std::size_t i = 2; i < f.size(); ++i)
        sum += f[i];
    f.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    f.push_back(0x16);
    return f;
}

std::vector<std::uint8_t> shortCommandBody(std::uint8_t code) {
    std::uint8_t sum;
    switch (code) {
        case 0x80:
            sum = 0xF0;
            break;
        case 0x81:
            sum = 0xF1;
            break;
        case 0x82:
            sum = 0xF2;
            break;
        case 0x95:
            sum = 0x05;
            break;
        default:
            return {};
    }
    return {0x6A, 0x00, 0x06, code, sum, 0x16};
}

std::vector<std::uint8_t> userFrame(std::uint8_t code) {
    std::vector<std::uint8_t> f{0x5A, 0xA5, 0x00, 0x08, code};
    unsigned sum = 0;
    for (auto b : f)
        sum += b;
    f.push_back(static_cast<std::uint8_t>((sum >> 8) & 0xFF));
    f.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    f.push_back(0x16);
    return f;
}

std::vector<std::uint8_t> boardCommand(std::uint8_t code, std::uint8_t family, std::uint8_t param,
                                       bool crc) {
    std::vector<std::uint8_t> f{0x46, 0xB9,   0x6A, 0x00, static_cast<std::uint8_t>(crc ? 9 : 8),
                                code, family, param};
    if (crc) {
        std::uint16_t c = crc16Modbus(f.data() + 2, 6);
        f.push_back(static_cast<std::uint8_t>(c & 0xFF));
        f.push_back(static_cast<std::uint8_t>(c >> 8));
    } else {
        unsigned sum = 0;
        for (std::size_t i = 2; i < f.size(); ++i)
            sum += f[i];
        f.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    }
    f.push_back(0x16);
    return f;
}

}  // namespace frames

// ---------------------------------------------------------------- channel

SerialChannel::SerialChannel() : port_(makeTermiosPort()) {}
SerialChannel::~SerialChannel() = default;

void SerialChannel::setPort(std::unique_ptr<SerialPort> port) {
    port_ = port ? std::move(port) : makeTermiosPort();
}

bool SerialChannel::is_open() const {
    return port_ && port_->isOpen();
}

long SerialChannel::current_baud() const {
    auto s = PortSettings::parse(settings);
    return s ? s->baud : 0;
}

void SerialChannel::configure_port() {
    discard_both();
    lineBusyUntil_ = Clock::now();
}

int SerialChannel::open_port() {
    close_port();
    int rc;
    auto s = PortSettings::parse(settings);
    if (port_path.empty())
        rc = ENOENT;
    else if (!s)
        rc = EINVAL;
    else
        rc = port_->open(port_path, *s);
    last_open_error_ = rc;
    if (rc == 0) {
        vanished_ = false;
        lineBusyUntil_ = Clock::now();
    }
    return rc == 0 && is_open() ? 0 : (rc ? rc : -1);
}

std::vector<std::string> SerialChannel::last_open_advice() const {
    if (last_open_error_ == 0) return {};
    if (port_path.empty()) return {"No serial port was chosen. / 没有选择串口。"};
    if (const std::string detail = port_ ? port_->openFailureDetail() : ""; !detail.empty())
        return {detail};
    return openFailureAdvice(port_path, last_open_error_);
}

bool SerialChannel::close_port() {
    for (int i = 0; i < 3 && is_open(); ++i) {
        // A real port's close lets the output leave first; do the same on every device so that
        // a frame written just before a rate change goes out at the old rate.
        if (!vanished_) wait_tx_empty();
        port_->close();
    }
    pending_.clear();
    pendingPos_ = 0;
    return is_open();
}

void SerialChannel::reopen_port() {
    close_port();
    if (is_open()) close_port();
    open_port();
    for (int i = 0; i < 2 && !is_open(); ++i)
        open_port();
}

bool SerialChannel::set_settings(const std::string& text) {
    auto s = PortSettings::parse(text);
    if (!s) return false;
    if (is_open() && !port_->apply(*s)) {
        if (auto old = PortSettings::parse(settings)) port_->apply(*old);
        return false;
    }
    if (ui_ && text != settings) ui_->traceSettings(text);
    settings = text;
    return true;
}

void SerialChannel::discard_input() {
    if (is_open()) port_->discard(true, false);
    pending_.clear();
    pendingPos_ = 0;
}

void SerialChannel::discard_output() {
    if (is_open()) port_->discard(false, true);
    lineBusyUntil_ = Clock::now();
}

int SerialChannel::in_queue() {
    return is_open() ? port_->inQueue() : 0;
}
int SerialChannel::out_queue() {
    return is_open() ? port_->outQueue() : 0;
}

void SerialChannel::flush_receive() {
    if (is_open()) {
        std::uint8_t sink[512];
        for (int i = 0; i < 64; ++i) {
            long n = port_->read(sink, sizeof sink);
            if (n > 0 && ui_) ui_->traceBytes(false, sink, static_cast<std::size_t>(n));
            if (n < 0 && isVanishedError(static_cast<int>(-n))) {
                markVanished(static_cast<int>(-n));
                break;
            }
            if (n <= 0) break;
        }
    }
    pending_.clear();
    pendingPos_ = 0;
    rx_count = 0;
    frame_ready = false;
    header_46_seen = false;
}

void SerialChannel::reset_receiver() {
    rx_count = 0;
    frame_ready = false;
    user_frame_ready = false;
    header_46_seen = false;
    header_B9_seen = false;
}

void SerialChannel::markVanished(int err) {
    if (port_) port_->close();
    if (vanished_) return;
    vanished_ = true;
    if (message_) {
        message_(fmt::format("The COM port {} is lost ({}). / 串口已断开。", port_path,
                             std::strerror(err)));
    }
}

// ---------------------------------------------------------------- waits

namespace {

void sleepUntil(std::chrono::steady_clock::time_point t) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    struct timespec ts {
        static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)
    };
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

constexpr auto kPollSlice = std::chrono::milliseconds(10);

}  // namespace

void SerialChannel::readAvailable() {
    std::uint8_t buf[1024];
    for (;;) {
        long n = port_->read(buf, sizeof buf);
        if (n < 0) {
            if (isVanishedError(static_cast<int>(-n))) markVanished(static_cast<int>(-n));
            return;
        }
        if (n == 0) return;
        if (ui_) ui_->traceBytes(false, buf, static_cast<std::size_t>(n));
        pending_.insert(pending_.end(), buf, buf + n);
        if (static_cast<std::size_t>(n) < sizeof buf) return;
    }
}

void SerialChannel::pump(Clock::time_point deadline, bool returnOnInput) {
    for (;;) {
        auto now = Clock::now();
        auto slice =
            std::min<Clock::duration>(std::max<Clock::duration>(deadline - now, {}), kPollSlice);
        if (!is_open()) {
            sleepUntil(now + slice);
        } else {
            long us = std::chrono::duration_cast<std::chrono::microseconds>(slice).count();
            int r = port_->waitReadable(us);
            if (r < 0) {
                if (isVanishedError(-r))
                    markVanished(-r);
                else
                    sleepUntil(now + slice);
            } else if (r > 0) {
                readAvailable();
                if (pending() > 0) on_receive();
                if (returnOnInput) return;
            }
        }
        if (Clock::now() >= deadline) return;
        if (returnOnInput) return;
    }
}

void SerialChannel::yield_once() {
    if (!is_open()) return;
    if (port_->waitReadable(0) > 0) readAvailable();
    if (pending() > 0) on_receive();
}

void SerialChannel::wait_ms(int n) {
    if (n <= 0) return;
    pump(Clock::now() + std::chrono::milliseconds(n), false);
}

bool SerialChannel::wait_until(int ms, const std::function<bool()>& pred) {
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (;;) {
        if (pred()) return true;
        if (stop_requested() || vanished_) return pred();
        if (Clock::now() >= deadline) return pred();
        pump(deadline, true);
    }
}

bool SerialChannel::wait_response(int ms) {
    return wait_until(ms, [this] { return frame_ready; });
}

void SerialChannel::wait_tx_empty() {
    // The line is busy until the bytes written have had time to leave at the current rate
    // (pseudo-terminals report an empty queue at once), and while the driver still holds any.
    auto giveUp = std::max(lineBusyUntil_, Clock::now()) + std::chrono::seconds(5);
    for (;;) {
        if (!is_open() || vanished_) return;
        auto now = Clock::now();
        if (now >= giveUp) return;
        if (now < lineBusyUntil_) {
            pump(lineBusyUntil_, false);
            continue;
        }
        int q = port_->outQueue();
        if (q <= 0) return;
        pump(now + std::chrono::milliseconds(1), false);
    }
}

// ---------------------------------------------------------------- transmit

void SerialChannel::noteSent(std::size_t count) {
    long baud = current_baud();
    if (baud <= 0) return;
    auto now = Clock::now();
    if (lineBusyUntil_ < now) lineBusyUntil_ = now;
    lineBusyUntil_ += std::chrono::microseconds(static_cast<long long>(count) * 10'000'000 / baud);
}

bool SerialChannel::write_bytes(const std::uint8_t* data, std::size_t count) {
    if (!is_open() || vanished_) return false;
    std::size_t done = 0;
    auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (done < count) {
        long n = port_->write(data + done, count - done);
        if (n < 0) {
            if (isVanishedError(static_cast<int>(-n))) markVanished(static_cast<int>(-n));
            break;
        }
        if (n > 0) {
            if (ui_) ui_->traceBytes(true, data + done, static_cast<std::size_t>(n));
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (Clock::now() >= giveUp) break;
        int w = port_->waitWritable(2000);
        if (w < 0) {
            if (isVanishedError(-w)) markVanished(-w);
            break;
        }
        yield_once();
    }
    noteSent(done);
    return done == count;
}

void SerialChannel::send_byte(std::uint8_t value, int delay) {
    tx_sum = (tx_sum + value) % 256;
    wait_tx_empty();
    wait_ms(delay);
    write_bytes(&value, 1);
}

void SerialChannel::send_sum() {
    wait_tx_empty();
    auto b = static_cast<std::uint8_t>(tx_sum & 0xFF);
    write_bytes(&b, 1);
}

void SerialChannel::send_command_frame(std::uint8_t cmd, const std::vector<std::uint8_t>& payload,
                                       int delay, int headerDelay) {
    if (headerDelay < 0) headerDelay = delay;
    send_byte(0x46, headerDelay);
    send_byte(0xB9, headerDelay);
    tx_sum = 0;
    receive_armed = true;
    frame_ready = false;
    std::size_t len = payload.size() + 6;
    send_byte(0x6A, delay);
    send_byte(static_cast<std::uint8_t>(len >> 8), delay);
    send_byte(static_cast<std::uint8_t>(len & 0xFF), delay);
    send_byte(cmd, delay);
    for (auto b : payload)
        send_byte(b, delay);
    send_sum();
    send_byte(0x16, delay);
}

int SerialChannel::send_short_command(std::uint8_t code) {
    configure_port();
    if (!is_open() && open_port() != 0) return -1;
    rx_count = 0;
    frame_ready = false;
    send_byte(0x46, 0);
    send_byte(0xB9, 0);
    auto body = frames::shortCommandBody(code);
    if (body.empty()) return -1;
    write_bytes(body);
    return 0;
}

void SerialChannel::send_user_frame(std::uint8_t code) {
    wait_tx_empty();
    wait_ms(20);
    write_bytes(frames::userFrame(code));
}

void SerialChannel::calibrate_loops() {
    // Paced gaps are slept, not spun: ask the kernel for the finest timer slack.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    loops_per_ms = 1000;
}

void SerialChannel::compute_pacing(const std::string& settingsText) {
    long baud = std::atol(settingsText.substr(0, settingsText.find(',')).c_str());
    if (baud <= 0) return;
    double factor = baud_error_percent >= 0 ? 1.0 : 1.0 + 0.2 * std::fabs(baud_error_percent + 1.0);
    pace_loops = std::lround(static_cast<double>(loops_per_ms) / static_cast<double>(baud) *
                             6000.0 * factor);
}

void SerialChannel::pacedGap(long loops) {
    const auto gap = std::chrono::microseconds((loops + 1) * 1000 / loops_per_ms);
    sleepUntil(Clock::now() + gap);
    paced_gap_total += gap;
}

void SerialChannel::send_paced_byte(std::uint8_t value, long loops) {
    paced_sum = (paced_sum + value) % 256;
    wait_tx_empty();
    pacedGap(loops);
    write_bytes(&value, 1);
}

void SerialChannel::send_paced_sum() {
    auto b = static_cast<std::uint8_t>(paced_sum & 0xFF);
    wait_tx_empty();
    pacedGap(pace_loops);
    write_bytes(&b, 1);
}

void SerialChannel::send_paced_end(std::uint8_t value) {
    paced_sum = (paced_sum + value) % 256;
    wait_tx_empty();
    pacedGap(pace_loops);
    flush_receive();
    reset_receiver();
    receive_armed = true;
    write_bytes(&value, 1);
}

bool SerialChannel::wait_quiet(int quietMs, int maxMs) {
    const auto giveUp = Clock::now() + std::chrono::milliseconds(std::max(maxMs, 0));
    auto quietUntil = Clock::now() + std::chrono::milliseconds(std::max(quietMs, 0));
    bool quiet = false;
    while (!stop_requested() && !vanished_ && is_open()) {
        const auto now = Clock::now();
        if (now >= quietUntil) {
            quiet = true;
            break;
        }
        if (now >= giveUp) break;
        const auto until = std::min(quietUntil, giveUp);
        const long us = std::chrono::duration_cast<std::chrono::microseconds>(until - now).count();
        const int r = port_->waitReadable(std::min(us, 10000L));
        if (r < 0) {
            if (isVanishedError(-r)) markVanished(-r);
            break;
        }
        if (r > 0) {
            readAvailable();
            if (pending() > 0) {
                pending_.clear();
                pendingPos_ = 0;
                quietUntil = Clock::now() + std::chrono::milliseconds(quietMs);
            }
        }
    }
    flush_receive();
    reset_receiver();
    return quiet;
}

// ---------------------------------------------------------------- receive

void SerialChannel::feed(const std::uint8_t* data, std::size_t count) {
    pending_.insert(pending_.end(), data, data + count);
    on_receive();
}

void SerialChannel::on_receive() {
    if (user_command_mode)
        user_command_receive();
    else if (!debug_mode)
        boot_loader_receive();
    else {
        if (debug_sink && pending() > 0) debug_sink(pending_.data() + pendingPos_, pending());
        pending_.clear();
        pendingPos_ = 0;
    }
    if (pendingPos_ >= pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
    }
}

void SerialChannel::check_boot_frame() {
    if (rx_count <= 2) return;
    int L = rx_buffer[1] * 256 + rx_buffer[2];
    if (L < 1 || rx_count < L) return;
    if (rx_buffer[static_cast<std::size_t>(L - 1)] != 0x16) {
        rx_buffer[0] = 0;
        reset_receiver();
        return;
    }
    if (!crc_check) {
        unsigned sum = 0;
        for (int i = 0; i <= L - 3; ++i)
            sum += rx_buffer[static_cast<std::size_t>(i)];
        if (L >= 2 && (sum & 0xFF) == rx_buffer[static_cast<std::size_t>(L - 2)]) {
            frame_ready = true;
            header_46_seen = false;
            header_B9_seen = false;
        } else {
            frame_error = true;
            reset_receiver();
        }
    } else {
        if (L < 3) {
            frame_error = true;
            return;
        }
        std::uint16_t c = crc16Modbus(rx_buffer.data(), static_cast<std::size_t>(L - 3));
        if (rx_buffer[static_cast<std::size_t>(L - 3)] == (c & 0xFF) &&
            rx_buffer[static_cast<std::size_t>(L - 2)] == (c >> 8))
            frame_ready = true;
        else
            frame_error = true;
    }
}

void SerialChannel::boot_loader_receive() {
    // Bytes are taken one at a time, as a port raising an event per received byte delivers
    // them; a frame dropped for a bad end byte or sum therefore does not take the bytes that
    // arrived behind it in the same read.
    while (pending() > 0) {
        if (header_expected && rx_count == 0 && !(header_46_seen && header_B9_seen)) {
            std::uint8_t b = pending_[pendingPos_++];
            if (!header_46_seen) {
                if (b == 0x46) {
                    header_46_seen = true;
                    header_B9_seen = false;
                }
            } else if (b == 0xB9) {
                header_B9_seen = true;
            } else {
                header_46_seen = false;
                header_B9_seen = false;
            }
            continue;
        }
        if (!receive_armed) {
            pendingPos_ = pending_.size();
            return;
        }
        std::uint8_t b = pending_[pendingPos_++];
        if (rx_count == 0 && b != 0x68) continue;
        if (rx_count < kRxSize) rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
        check_boot_frame();
    }
}

void SerialChannel::user_command_receive() {
    // Taken one byte at a time: a header whose declared length cannot be a frame (noise on the
    // line) is dropped at once, so an answer right behind it is still recognised.
    constexpr int kShortestUserFrame = 7;  // 5A A5 LL LL sumH sumL 16
    while (pending() > 0) {
        const std::uint8_t b = pending_[pendingPos_++];
        if (rx_count == 0) {
            if (b == 0x5A) rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
            continue;
        }
        if (rx_count == 1) {
            if (b == 0xA5) {
                rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
            } else {
                rx_count = 0;
                if (b == 0x5A) rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
            }
            continue;
        }
        if (rx_count < kRxSize) rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
        if (rx_count <= 3) continue;
        const int L = rx_buffer[2] * 256 + rx_buffer[3];
        if (L < kShortestUserFrame || L > kRxSize) {
            reset_receiver();
            continue;
        }
        if (rx_count < L || user_frame_ready) continue;
        if (rx_buffer[static_cast<std::size_t>(L - 1)] == 0x16) {
            unsigned sum = 0;
            for (int i = 0; i <= L - 4; ++i)
                sum += rx_buffer[static_cast<std::size_t>(i)];
            const unsigned got = rx_buffer[static_cast<std::size_t>(L - 3)] * 256u +
                                 rx_buffer[static_cast<std::size_t>(L - 2)];
            if ((sum & 0xFFFF) == got)
                user_frame_ready = true;
            else
                reset_receiver();
        } else {
            flush_receive();
            reset_receiver();
        }
    }
}

}  // namespace qmx
