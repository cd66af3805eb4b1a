#include "link/serial_channel.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fmt/core.h>

#include "core/ui.h"
#include "link/crc16.h"
#include "link/port_advice.h"

namespace qmx {

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
    auto s = PortSettings::parse(settings_);
    return s ? s->baud : 0;
}

void SerialChannel::configure_port() {
    discard_both();
    lineBusyUntil_ = Clock::now();
}

int SerialChannel::open_port() {
    close_port();
    int rc;
    auto s = PortSettings::parse(settings_);
    if (portPath_.empty())
        rc = ENOENT;
    else if (!s)
        rc = EINVAL;
    else
        rc = port_->open(portPath_, *s);
    last_open_error_ = rc;
    if (rc == 0) {
        vanished_ = false;
        lineBusyUntil_ = Clock::now();
        // A USB adapter holds received bytes up to its latency timer (often 16 ms) unless its
        // driver is told otherwise; stop-and-wait block writes pay that per answer.
        const std::string lowLatency = port_->requestLowLatency();
        if (portPath_ != lowLatencyNoted_) {
            lowLatencyNoted_ = portPath_;
            if (ui_) ui_->detailMessage("Low-latency mode of " + portPath_ + ": " + lowLatency);
        }
    }
    return rc == 0 && is_open() ? 0 : (rc ? rc : -1);
}

std::vector<std::string> SerialChannel::last_open_advice() const {
    if (last_open_error_ == 0) return {};
    if (portPath_.empty()) return {"No serial port was chosen. / 没有选择串口。"};
    if (const std::string detail = port_ ? port_->openFailureDetail() : ""; !detail.empty())
        return {detail};
    return openFailureAdvice(portPath_, last_open_error_);
}

bool SerialChannel::close_port() {
    for (int i = 0; i < 3 && is_open(); ++i) {
        // A real port's close lets the output leave first; do the same on every device so that
        // a frame written just before a rate change goes out at the old rate.
        if (!vanished_) wait_tx_empty();
        port_->close();
    }
    rx_.drop_pending();
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
        if (auto old = PortSettings::parse(settings_)) port_->apply(*old);
        return false;
    }
    if (ui_ && text != settings_) ui_->traceSettings(text);
    settings_ = text;
    return true;
}

void SerialChannel::discard_input() {
    if (is_open()) port_->discard(true, false);
    rx_.drop_pending();
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
    rx_.clear_after_flush();
}

void SerialChannel::markVanished(int err) {
    if (port_) port_->close();
    if (vanished_) return;
    vanished_ = true;
    if (message_) {
        message_(fmt::format("The COM port {} is lost ({}). / 串口已断开。", portPath_,
                             std::strerror(err)));
    }
}

// ---------------------------------------------------------------- waits

namespace {

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
        rx_.push(buf, static_cast<std::size_t>(n));
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
    return wait_until(ms, [this] { return rx_.frame_ready(); });
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
    txSum_ = (txSum_ + value) % 256;
    wait_tx_empty();
    wait_ms(delay);
    write_bytes(&value, 1);
}

void SerialChannel::send_sum() {
    wait_tx_empty();
    auto b = static_cast<std::uint8_t>(txSum_ & 0xFF);
    write_bytes(&b, 1);
}

void SerialChannel::send_frame(const wire::Frame& frame, int delay, int headerDelay) {
    if (headerDelay < 0) headerDelay = delay;
    for (std::uint8_t b : frame.head())
        send_byte(b, headerDelay);
    txSum_ = 0;
    rx_.set_receive_armed(true);
    rx_.set_frame_ready(false);
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

bool SerialChannel::send_short_command(wire::Command command) {
    const auto frame = wire::shortCommand(command);
    if (!frame) return false;
    configure_port();
    if (!is_open() && open_port() != 0) return false;
    rx_.clear_count();
    rx_.set_frame_ready(false);
    for (std::uint8_t b : frame->head())
        send_byte(b, 0);
    // The rest leaves in one write.
    write_bytes(frame->bytes.data() + wire::kHeadSize, frame->bytes.size() - wire::kHeadSize);
    return true;
}

void SerialChannel::send_user_frame(std::uint8_t code) {
    wait_tx_empty();
    wait_ms(20);
    write_bytes(wire::userFrame(code));
}

void SerialChannel::send_paced_byte(std::uint8_t value, long loops) {
    pacedSum_ = (pacedSum_ + value) % 256;
    wait_tx_empty();
    pacing_.gap(loops);
    write_bytes(&value, 1);
}

void SerialChannel::send_paced_sum() {
    auto b = static_cast<std::uint8_t>(pacedSum_ & 0xFF);
    wait_tx_empty();
    pacing_.gap(pacing_.pace_loops());
    write_bytes(&b, 1);
}

void SerialChannel::send_paced_end(std::uint8_t value) {
    pacedSum_ = (pacedSum_ + value) % 256;
    wait_tx_empty();
    pacing_.gap(pacing_.pace_loops());
    flush_receive();
    reset_receiver();
    rx_.set_receive_armed(true);
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
        pacedSum_ = sum;
        write_bytes(bytes);
    } else {
        for (std::uint8_t b : frame.head())
            send_byte(b, 0);
        pacedSum_ = 0;
        for (std::uint8_t b : body)
            send_paced_byte(b, pacing_.pace_loops());
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
                rx_.drop_pending();
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
    rx_.push(data, count);
    on_receive();
}

void SerialChannel::on_receive() {
    if (rx_.consume()) flush_receive();
}

}  // namespace qmx
