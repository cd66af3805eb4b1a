#include "runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "monitor_runner.h"
#include "pty_line.h"
#include "uart.h"

namespace qmxsim {

bool writeFileAtomically(const std::string& path, const Bytes& bytes, std::string& error) {
    const std::string tmp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            error = "cannot write " + tmp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = "cannot finish " + tmp + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + tmp + " to " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

namespace {

double monoNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

constexpr double kNever = 1e300;
constexpr int kCtlFlushWrite = 2;  // TIOCPKT_FLUSHWRITE: the host discarded what it had sent
constexpr int kCtlIoctl = 64;      // TIOCPKT_IOCTL: the host changed its termios
// Bytes a UART holds in its transmit FIFO, out of reach of a discard.
constexpr std::size_t kUartFifo = 16;
// Bytes the line holds before the host's writes back up into the terminal.
constexpr std::size_t kRxQueueCap = 4096;

struct RxByte {
    std::uint8_t value;
    double due;      // when its stop bit has arrived
    double rate;     // the rate it was sent at
    bool ambiguous;  // written around a change of rate whose moment is unknown
};

struct TxByte {
    std::uint8_t value;
    double due;
    double rate;
};

// Bytes that were waiting in the terminal when the host changed its rate: they may have been
// written at the old rate, the new one, or one set and left again in between.
struct Segment {
    std::size_t count;
};

struct PendingAnswer {
    ChipAction action;
    double readyAt;
    double deadline;
};

class Simulator {
  public:
    explicit Simulator(const RunnerOptions& o) : opt_(o), faults_(o.fault) {}
    int run();

  private:
    void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    std::string flashPath() const;
    void writeFlash(const char* why);
    void powerOn();
    void powerOff();
    void newChip();
    void takeControl(int control);
    void readLine(double now);
    void deliverDue(double now);
    void handleActions(std::vector<ChipAction>& actions, double now);
    void serviceAnswers(double now);
    void send(const ChipAction& a, double now);
    void writeDue(double now);
    void readStdin();
    void command(const std::string& line);
    double nextWake(double now) const;
    bool wantData(double now) const;
    void vanish();
    // The steps of run().
    enum class Wait { Again, Leave };
    bool openLog();
    int takeSignals();
    bool openLine();
    // Power-on, chip swap, sync window, vanishing, and the bytes and answers that are due;
    // false when the run ends.
    bool runDueEvents(double now);
    // Sleeps until the next due event or input, and takes in what arrived.
    Wait waitForInput(int sigFd);

    RunnerOptions opt_;
    FaultInjector faults_;
    PtyLine line_;
    std::unique_ptr<Chip> chip_;
    std::unique_ptr<App> app_;  // personality `app`: the running application
    int chipNo_ = 1;
    double start_ = 0;
    double powerOnAt_ = kNever;
    double swapAt_ = kNever;
    double exitAt_ = kNever;
    double vanishAt_ = kNever;
    double syncUntil_ = kNever;
    bool quit_ = false;
    bool vanishAfterSend_ = false;
    bool monitorHandOver_ = false;  // the chip now runs the monitor on this line
    int exitCode_ = 0;
    std::FILE* log_ = nullptr;
    std::deque<RxByte> rx_;
    std::deque<TxByte> tx_;
    std::deque<Segment> segments_;
    std::deque<PendingAnswer> answers_;
    double rxWireFree_ = 0;
    bool rxFull_ = false;
    bool garbling_ = false;
    double txWireFree_ = 0;
    double observedRate_ = 0;
    double lastTermiosChange_ = 0;
    long answered_ = 0;
    int stdinFd_ = 0;
    std::string stdinBuf_;
};

void Simulator::log(const char* fmt, ...) {
    if (!log_) return;
    std::fprintf(log_, "%9.3f ", monoNow() - start_);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(log_, fmt, ap);
    va_end(ap);
    std::fputc('\n', log_);
    std::fflush(log_);
}

std::string Simulator::flashPath() const {
    if (opt_.flashOut.empty()) return {};
    return opt_.chipsGiven ? opt_.flashOut + "." + std::to_string(chipNo_) : opt_.flashOut;
}

void Simulator::writeFlash(const char* why) {
    const std::string path = flashPath();
    if (path.empty() || !chip_) return;
    std::string error;
    if (writeFileAtomically(path, chip_->flash(), error)) {
        log("flash of chip %d written to %s (%s)", chipNo_, path.c_str(), why);
    } else {
        std::fprintf(stderr, "qmx-chipsim: %s\n", error.c_str());
        log("%s", error.c_str());
    }
}

void Simulator::powerOn() {
    powerOnAt_ = kNever;
    if (chip_->power() != Power::off) {
        log("power-on: chip %d is already on (%s)", chipNo_, powerName(chip_->power()));
        return;
    }
    chip_->powerOn();
    if (app_) {
        chip_->startUserProgram();
        log("chip %d powered on, running its application", chipNo_);
        return;
    }
    log("chip %d powered on, listening for sync", chipNo_);
    if (opt_.syncWindowMs > 0) syncUntil_ = monoNow() + opt_.syncWindowMs / 1000.0;
}

void Simulator::powerOff() {
    powerOnAt_ = kNever;
    chip_->powerOff();
    tx_.clear();
    answers_.clear();
    log("chip %d powered off", chipNo_);
}

void Simulator::newChip() {
    ChipConfig c = opt_.chip;
    c.seed = opt_.chip.seed + static_cast<std::uint64_t>(chipNo_ - 1);
    chip_ = opt_.makeChip ? opt_.makeChip(c) : std::make_unique<Chip>(c);
    app_ = opt_.app ? std::make_unique<App>(opt_.appConfig, *chip_) : nullptr;
}

void Simulator::takeControl(int control) {
    const double now = monoNow();
    if (control & kCtlFlushWrite) {
        // The host threw away what it had not sent yet: what our line had not begun to carry
        // is gone, except the bytes already handed to the UART's transmit FIFO.
        segments_.clear();
        std::size_t started = 0;
        while (started < rx_.size() && rx_[started].due - byteTime(rx_[started].rate) <= now) {
            ++started;
        }
        const std::size_t keep = std::min(rx_.size(), started + kUartFifo);
        if (keep < rx_.size()) log("host discarded %zu unsent bytes", rx_.size() - keep);
        rx_.resize(keep);
        rxWireFree_ = rx_.empty() ? now : rx_.back().due;
        if (rxFull_) {
            // The host had filled our send queue and the terminal behind it: what waits in the
            // terminal is older than the discard, so it goes too.
            std::uint8_t sink[4096];
            std::size_t left = line_.pending();
            int ctl = 0;
            while (left > 0) {
                const long n = line_.read(sink, std::min(left, sizeof sink), ctl);
                if (n <= 0) break;
                left -= static_cast<std::size_t>(n);
            }
            rxFull_ = false;
        }
    }
    if (control & kCtlIoctl) {
        const double rate = line_.hostRate();
        std::size_t covered = 0;
        for (const auto& s : segments_)
            covered += s.count;
        const std::size_t waiting = line_.pending();
        if (waiting > covered) {
            // Written before the change, just after it, or at a rate set and left in between:
            // these bytes cannot be placed in time.
            segments_.push_back({waiting - covered});
        }
        if (rate != observedRate_) log("host port now at %.0f baud", rate);
        observedRate_ = rate;
        lastTermiosChange_ = now;
    }
}

bool Simulator::wantData(double) const {
    return rx_.size() < kRxQueueCap;
}

void Simulator::readLine(double now) {
    std::uint8_t buf[4096];
    for (int round = 0; round < 64; ++round) {
        // The bytes the host wrote are taken at once into the line's queue (the host's transmit
        // queue, in effect), up to what a serial driver would hold.
        std::size_t cap = wantData(now) ? std::min(sizeof buf, kRxQueueCap - rx_.size()) : 0;
        if (cap == 0) rxFull_ = true;
        int control = 0;
        long n;
        if (cap == 0) {
            // Only take control packets (termios changes, discards).
            struct pollfd p {
                line_.master(), POLLPRI, 0
            };
            if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLPRI)) return;
            n = line_.read(buf, 1, control);
        } else {
            n = line_.read(buf, cap, control);
        }
        if (n == -2) {
            log("line lost");
            quit_ = true;
            return;
        }
        if (n < 0) return;
        if (control) {
            takeControl(control);
            continue;
        }
        if (cap > 0 && static_cast<std::size_t>(n) < cap) rxFull_ = false;  // terminal emptied
        const double current = line_.hostRate();
        for (long i = 0; i < n; ++i) {
            RxByte b{buf[i], now, current, false};
            if (!segments_.empty()) {
                b.ambiguous = true;
                if (--segments_.front().count == 0) segments_.pop_front();
            } else if (current != observedRate_) {
                // Changed without a packet (the host cleared EXTPROC): the moment is unknown.
                b.ambiguous = true;
                observedRate_ = current;
                lastTermiosChange_ = now;
            }
            if (opt_.wireTime) {
                const double startAt = std::max(now, rxWireFree_);
                b.due = startAt + byteTime(b.rate > 0 ? b.rate : 1200);
                rxWireFree_ = b.due;
            }
            rx_.push_back(b);
        }
    }
}

void Simulator::deliverDue(double now) {
    while (!rx_.empty() && rx_.front().due <= now) {
        RxByte b = rx_.front();
        rx_.pop_front();
        const Power p = chip_->power();
        if (p == Power::running && app_) {
            auto actions = app_->receive(b.value, b.rate);
            handleActions(actions, now);
            if (quit_) return;
            continue;
        }
        if (p == Power::off || p == Power::running) continue;
        std::uint8_t v = b.value;
        if (p == Power::bootloader) {
            switch (faults_.decide(true)) {
                case FaultInjector::Fate::drop:
                    log("fault: byte %02X to the chip lost", v);
                    continue;
                case FaultInjector::Fate::corrupt: {
                    const std::uint8_t c = faults_.corruptValue(true, v);
                    log("fault: byte %02X to the chip arrives as %02X", v, c);
                    v = c;
                    break;
                }
                case FaultInjector::Fate::pass:
                    break;
            }
            const double chipRate = chip_->uartRate();
            if (opt_.rateCheck && chipRate > 0 && !b.ambiguous && !ratesMatch(chipRate, b.rate)) {
                if (!garbling_) {
                    log("bytes sent at %.0f baud reach the chip at %.0f baud: garbled", b.rate,
                        chipRate);
                }
                garbling_ = true;
                v = garbled(v, b.rate, chipRate);
            } else {
                garbling_ = false;
            }
        }
        auto actions = chip_->receive(v, b.rate);
        handleActions(actions, now);
        if (quit_) return;
    }
}

void Simulator::handleActions(std::vector<ChipAction>& actions, double now) {
    for (auto& a : actions) {
        switch (a.kind) {
            case ChipAction::Kind::note:
                log("%s", a.note.c_str());
                break;
            case ChipAction::Kind::answer: {
                double ready = now + (opt_.fault.delayMs + a.lateMs) / 1000.0;
                if (opt_.wireTime) ready += a.workMs / 1000.0;
                PendingAnswer pa{std::move(a), ready, ready + 0.6};
                answers_.push_back(std::move(pa));
                break;
            }
            case ChipAction::Kind::run:
                log("%s: chip %d leaves its boot loader", a.note.c_str(), chipNo_);
                writeFlash("run command");
                if (holdsMonitorImage(chip_->flash())) {
                    log("chip %d starts the monitor image", chipNo_);
                    monitorHandOver_ = true;
                    quit_ = true;
                    break;
                }
                if (chipNo_ >= opt_.chips) {
                    // Stay a moment so the host's last words (its stop command) find a line.
                    exitAt_ = now + 0.5;
                } else {
                    swapAt_ = now + opt_.swapDelayMs / 1000.0;
                }
                break;
        }
    }
}

void Simulator::serviceAnswers(double now) {
    while (!answers_.empty()) {
        PendingAnswer& pa = answers_.front();
        if (now < pa.readyAt) return;
        const ChipAction& a = pa.action;
        if (a.awaitHostRate && now < pa.deadline) {
            // Wait until the host has moved its port to the new rate and settled there.
            const double settle = a.settleMs / 1000.0;
            const bool moved = ratesMatch(line_.hostRate(), a.sendRate);
            if (!moved || now < lastTermiosChange_ + settle || now < pa.readyAt + settle) return;
        }
        send(a, now);
        if (a.restoreRate > 0) chip_->setUartRate(a.restoreRate);
        answers_.pop_front();
        if (quit_) return;
    }
}

void Simulator::send(const ChipAction& a, double now) {
    if (opt_.fault.muteAfter >= 0 && answered_ >= opt_.fault.muteAfter) {
        log("mute: answer to \"%s\" not sent", a.note.c_str());
        return;
    }
    ++answered_;
    Bytes noise;
    for (long i = 0; i < opt_.fault.noise; ++i)
        noise.push_back(faults_.noiseByte());
    if (!noise.empty()) log("fault: noise %s before the answer", hexText(noise).c_str());
    log("tx %s  (%s, %.0f baud)", hexText(a.bytes).c_str(), a.note.c_str(), a.sendRate);
    double t = std::max(now, txWireFree_);
    for (std::uint8_t v : noise) {
        if (opt_.wireTime) t += byteTime(a.sendRate);
        tx_.push_back({v, t, a.sendRate});
    }
    for (std::uint8_t v : a.bytes) {
        switch (faults_.decide(false)) {
            case FaultInjector::Fate::drop:
                log("fault: byte %02X to the host lost", v);
                continue;
            case FaultInjector::Fate::corrupt: {
                const std::uint8_t c = faults_.corruptValue(false, v);
                log("fault: byte %02X to the host arrives as %02X", v, c);
                v = c;
                break;
            }
            case FaultInjector::Fate::pass:
                break;
        }
        if (opt_.wireTime) t += byteTime(a.sendRate);
        tx_.push_back({v, t, a.sendRate});
    }
    txWireFree_ = t;
    if (opt_.fault.vanishAfter >= 0 && answered_ >= opt_.fault.vanishAfter) {
        vanishAfterSend_ = true;
    }
}

void Simulator::writeDue(double now) {
    std::uint8_t buf[4096];
    std::size_t n = 0;
    const double host = line_.hostRate();
    while (!tx_.empty() && tx_.front().due <= now && n < sizeof buf) {
        TxByte b = tx_.front();
        tx_.pop_front();
        if (opt_.rateCheck && !ratesMatch(host, b.rate)) {
            if (n == 0) {
                log("answer sent at %.0f baud reaches the host at %.0f baud: garbled", b.rate,
                    host);
            }
            b.value = garbled(b.value, b.rate, host);
        }
        buf[n++] = b.value;
    }
    if (n > 0) {
        const long w = line_.write(buf, n);
        if (w < static_cast<long>(n)) {
            log("%ld of %zu bytes lost: nobody reads the line",
                static_cast<long>(n) - std::max(w, 0L), n);
        }
    }
    if (vanishAfterSend_ && tx_.empty()) {
        // Give the host a moment to take the last answer off the line before it goes. Later
        // answers (the host keeps talking meanwhile) do not put the moment off.
        vanishAfterSend_ = false;
        if (vanishAt_ == kNever) vanishAt_ = now + 0.2;
    }
}

void Simulator::vanish() {
    log("fault: the line vanishes");
    line_.close();
    quit_ = true;
}

void Simulator::command(const std::string& raw) {
    std::string line = raw;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    if (line.empty()) return;
    if (line == "power-on") {
        powerOn();
    } else if (line == "power-off") {
        powerOff();
    } else if (line == "quit") {
        log("quit");
        quit_ = true;
    } else if (line.rfind("dump ", 0) == 0) {
        const std::string path = line.substr(5);
        std::string error;
        if (writeFileAtomically(path, chip_->flash(), error)) {
            log("flash dumped to %s", path.c_str());
        } else {
            std::fprintf(stderr, "qmx-chipsim: %s\n", error.c_str());
        }
    } else {
        std::fprintf(stderr, "qmx-chipsim: unknown control line: %s\n", line.c_str());
    }
}

void Simulator::readStdin() {
    char buf[1024];
    const ssize_t n = ::read(stdinFd_, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        stdinFd_ = -1;  // end of input: keep running without control lines
        return;
    }
    stdinBuf_.append(buf, static_cast<std::size_t>(n));
    std::size_t pos;
    while ((pos = stdinBuf_.find('\n')) != std::string::npos) {
        const std::string l = stdinBuf_.substr(0, pos);
        stdinBuf_.erase(0, pos + 1);
        command(l);
        if (quit_) return;
    }
}

double Simulator::nextWake(double now) const {
    double t = std::min({powerOnAt_, swapAt_, exitAt_, vanishAt_, syncUntil_});
    if (!rx_.empty()) t = std::min(t, rx_.front().due);
    if (!tx_.empty()) t = std::min(t, tx_.front().due);
    if (!answers_.empty()) {
        const auto& pa = answers_.front();
        t = std::min(t, now < pa.readyAt ? pa.readyAt : now + 0.003);
    }
    return t;
}

bool Simulator::openLog() {
    if (opt_.logPath.empty()) return true;
    log_ = std::fopen(opt_.logPath.c_str(), "w");
    if (log_) return true;
    std::fprintf(stderr, "qmx-chipsim: cannot write the log %s: %s\n", opt_.logPath.c_str(),
                 std::strerror(errno));
    return false;
}

int Simulator::takeSignals() {
    // Closed standard descriptors would be handed to the terminal we open; fill them first.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (fd == 0) stdinFd_ = -1;
        }
    }
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return ::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
}

bool Simulator::openLine() {
    std::string error;
    if (!line_.open(opt_.link, error)) {
        std::fprintf(stderr, "qmx-chipsim: %s\n", error.c_str());
        return false;
    }
    observedRate_ = line_.hostRate();
    newChip();
    log("chip %s, clock %.0f Hz, firmware %X.%X%c, %s", opt_.chip.model.name.c_str(),
        opt_.chip.clockHz, opt_.chip.firmware.version >> 4, opt_.chip.firmware.version & 0xF,
        opt_.chip.firmware.letter, line_.slavePath().c_str());
    if (opt_.powerOnDelayMs <= 0) {
        powerOn();
    } else {
        powerOnAt_ = start_ + opt_.powerOnDelayMs / 1000.0;
    }
    std::printf("ready %s\n", opt_.link.c_str());
    std::fflush(stdout);
    if (opt_.monitorOnly) {
        monitorHandOver_ = true;
        quit_ = true;
    }
    return true;
}

bool Simulator::runDueEvents(double now) {
    if (now >= powerOnAt_) powerOn();
    if (now >= swapAt_) {
        swapAt_ = kNever;
        ++chipNo_;
        newChip();
        rx_.clear();
        tx_.clear();
        answers_.clear();
        log("chip %d of %d put in", chipNo_, opt_.chips);
        powerOn();
    }
    if (now >= exitAt_) return false;
    if (now >= syncUntil_) {
        syncUntil_ = kNever;
        if (chip_->power() == Power::listening) {
            chip_->startUserProgram();
            log("no sync within %d ms: chip %d runs its user program", opt_.syncWindowMs, chipNo_);
        }
    }
    if (now >= vanishAt_) {
        vanish();
        return false;
    }
    deliverDue(now);
    if (quit_) return false;
    serviceAnswers(now);
    if (quit_) return false;
    writeDue(now);
    return !quit_;
}

Simulator::Wait Simulator::waitForInput(int sigFd) {
    double now = monoNow();
    const double wake = nextWake(now);
    struct timespec ts {};
    struct timespec* tsp = nullptr;
    if (wake < kNever) {
        const double d = std::max(0.0, wake - now);
        ts.tv_sec = static_cast<time_t>(d);
        ts.tv_nsec = static_cast<long>((d - static_cast<double>(ts.tv_sec)) * 1e9);
        tsp = &ts;
    }
    struct pollfd fds[3];
    nfds_t nf = 0;
    fds[nf++] = {line_.master(), static_cast<short>(wantData(now) ? (POLLIN | POLLPRI) : POLLPRI),
                 0};
    fds[nf++] = {sigFd, POLLIN, 0};
    const bool haveStdin = stdinFd_ >= 0;
    if (haveStdin) fds[nf++] = {stdinFd_, POLLIN, 0};
    const int r = ::ppoll(fds, nf, tsp, nullptr);
    if (r < 0) {
        if (errno == EINTR) return Wait::Again;
        std::fprintf(stderr, "qmx-chipsim: poll: %s\n", std::strerror(errno));
        return Wait::Leave;
    }
    now = monoNow();
    if (fds[1].revents & POLLIN) {
        struct signalfd_siginfo si {};
        if (::read(sigFd, &si, sizeof si) > 0) {
            log("signal %u: writing the flash and leaving", si.ssi_signo);
            return Wait::Leave;
        }
    }
    if (fds[0].revents & (POLLIN | POLLPRI)) readLine(now);
    if (haveStdin && (fds[2].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) readStdin();
    return Wait::Again;
}

int Simulator::run() {
    start_ = monoNow();
    if (!openLog()) return 2;
    const int sigFd = takeSignals();
    if (!openLine()) return 1;
    while (!quit_) {
        if (!runDueEvents(monoNow())) break;
        if (waitForInput(sigFd) == Wait::Leave) break;
    }
    if (monitorHandOver_) exitCode_ = runMonitorOnLine(line_, opt_.monitor, log_, sigFd);
    writeFlash("exit");
    line_.close();
    if (sigFd >= 0) ::close(sigFd);
    if (log_) std::fclose(log_);
    return exitCode_;
}

}  // namespace

int runSimulator(const RunnerOptions& options) {
    Simulator s(options);
    return s.run();
}

}  // namespace qmxsim
