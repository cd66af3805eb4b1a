#include "link/serial_channel.h"

#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <fmt/core.h>


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
            if (n > 0 && trace_) trace_(false, sink, static_cast<std::size_t>(n));
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
        if (trace_) trace_(false, buf, static_cast<std::size_t>(n));
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
            if (trace_) trace_(true, data + done, static_cast<std::size_t>(n));
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

void SerialChannel::send_frame(const wire::Frame& frame, int delay, int headerDelay) {
    if (headerDelay < 0) headerDelay = delay;
    for (std::uint8_t b : frame.head())
        send_byte(b, headerDelay);
    tx_sum = 0;
    receive_armed = true;
    frame_ready = false;
    for (std::uint8_t b : frame.body())
        send_byte(b, delay);
    if (frame.check == wire::Check::Sum) {
        send_sum();
    } else {
        for (std::uint8_t b : frame.trailer().first(frame.checkSize())) {
            wait_tx_empty();
            write_bytes(&b, 1);
        }
    }
    send_byte(wire::kEnd, delay);
}

int SerialChannel::send_short_command(std::uint8_t code) {
    const auto frame = wire::shortCommand(code);
    if (!frame) return -1;
    configure_port();
    if (!is_open() && open_port() != 0) return -1;
    rx_count = 0;
    frame_ready = false;
    for (std::uint8_t b : frame->head())
        send_byte(b, 0);
    // The rest leaves in one write.
    write_bytes(frame->bytes.data() + wire::kHeadSize, frame->bytes.size() - wire::kHeadSize);
    return 0;
}

void SerialChannel::send_user_frame(std::uint8_t code) {
    wait_tx_empty();
    wait_ms(20);
    write_bytes(wire::userFrame(code));
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

void SerialChannel::send_paced_frame(const wire::Frame& frame, bool fast) {
    const auto body = frame.body();
    if (fast) {
        std::vector<std::uint8_t> bytes(
            frame.bytes.begin(),
            frame.bytes.begin() + static_cast<long>(wire::kHeadSize + body.size()));
        std::uint8_t sum = 0;
        for (std::uint8_t b : body)
            sum = static_cast<std::uint8_t>(sum + b);
        paced_sum = sum;
        write_bytes(bytes);
    } else {
        for (std::uint8_t b : frame.head())
            send_byte(b, 0);
        paced_sum = 0;
        for (std::uint8_t b : body)
            send_paced_byte(b, pace_loops);
    }
    send_paced_sum();
    send_paced_end(wire::kEnd);
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
    const std::span<const std::uint8_t> stored(rx_buffer.data(),
                                               static_cast<std::size_t>(rx_count));
    switch (wire::checkAnswer(stored, crc_check ? wire::Check::Crc : wire::Check::Sum)) {
        case wire::AnswerCheck::Incomplete:
            return;
        case wire::AnswerCheck::BadEnd:
            rx_buffer[0] = 0;
            reset_receiver();
            return;
        case wire::AnswerCheck::BadCheck:
            frame_error = true;
            // A CRC'd answer stays where it is: the offline board's waits look at it.
            if (!crc_check) reset_receiver();
            return;
        case wire::AnswerCheck::Good:
            frame_ready = true;
            if (!crc_check) {
                header_46_seen = false;
                header_B9_seen = false;
            }
            return;
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
                if (b == wire::kHeadFirst) {
                    header_46_seen = true;
                    header_B9_seen = false;
                }
            } else if (b == wire::kHeadSecond) {
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
        if (rx_count == 0 && b != wire::kFromChip) continue;
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
            if (b == wire::kUserFirst) rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
            continue;
        }
        if (rx_count == 1) {
            if (b == wire::kUserSecond) {
                rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
            } else {
                rx_count = 0;
                if (b == wire::kUserFirst) rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
            }
            continue;
        }
        if (rx_count < kRxSize) rx_buffer[static_cast<std::size_t>(rx_count++)] = b;
        const std::span<const std::uint8_t> stored(rx_buffer.data(),
                                                   static_cast<std::size_t>(rx_count));
        if (rx_count <= 3) continue;
        const int L = wire::userFrameLength(stored);
        if (L < kShortestUserFrame || L > kRxSize) {
            reset_receiver();
            continue;
        }
        if (user_frame_ready) continue;
        switch (wire::checkUserFrame(stored)) {
            case wire::AnswerCheck::Incomplete:
                break;
            case wire::AnswerCheck::Good:
                user_frame_ready = true;
                break;
            case wire::AnswerCheck::BadCheck:
                reset_receiver();
                break;
            case wire::AnswerCheck::BadEnd:
                flush_receive();
                reset_receiver();
                break;
        }
    }
}

}  // namespace qmx
