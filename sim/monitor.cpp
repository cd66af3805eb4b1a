#include "monitor.h"

#include <cstdio>

namespace qmxsim {

namespace {

constexpr double kNever = 1e300;

// Appends the 16-byte header: AA, the length (filled in later), type, and the type's fields.
Bytes header(int type) {
    Bytes f(16, 0x00);
    f[0] = 0xAA;
    f[3] = static_cast<std::uint8_t>(type);
    return f;
}

void finish(Bytes& f) {
    const std::size_t length = f.size() + 1;  // with the checksum
    f[1] = static_cast<std::uint8_t>(length >> 8);
    f[2] = static_cast<std::uint8_t>(length & 0xFF);
    f.push_back(sum8(f));
    f.insert(f.begin(), {0xA5, 0x5A});
}

}  // namespace

Cpu8051::Cpu8051() {
    // Reset values of the core registers, and a program that has set up its timers and UART.
    for (int a : {0x80, 0x90, 0xA0, 0xB0})
        sfr[static_cast<std::size_t>(a)] = 0xFF;
    sfr[0x81] = 0x07;  // SP
    sfr[0x89] = 0x21;  // TMOD
    sfr[0x8D] = 0xFD;  // TH1: 9600 baud at 11.0592 MHz
    sfr[0x8B] = 0xFD;  // TL1
    sfr[0x88] = 0x50;  // TCON
    sfr[0x98] = 0x50;  // SCON
    sfr[0xA8] = 0x82;  // IE
    sfr[0x83] = 0x12;  // DPH
    sfr[0x82] = 0x34;  // DPL
    sfr[0xF0] = 0x5A;  // B
    for (std::size_t i = 0; i < idata.size(); ++i)
        idata[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    for (std::size_t i = 0; i < xdata.size(); ++i)
        xdata[i] = static_cast<std::uint8_t>((i * 3) ^ (i >> 8));
}

void Cpu8051::run() {
    ++cycles;
    const auto c = static_cast<std::uint8_t>(cycles);
    sfr[0xE0] = c;                                                 // ACC: the loop counter
    sfr[0x8A] = static_cast<std::uint8_t>(cycles * 7);             // TL0 counts
    sfr[0x90] = static_cast<std::uint8_t>(~(1u << (cycles % 8)));  // P1: a walking zero
    sfr[0xD0] = static_cast<std::uint8_t>((c & 1) ? 0x01 : 0x00);  // PSW parity of ACC's bit 0
    idata[0x30] = c;
    idata[0] = static_cast<std::uint8_t>(0x30);  // R0 points at the counter
    xdata[0] = c;
}

std::optional<char> MonitorCommandReceiver::feed(std::uint8_t b) {
    if (stage_ == 1) {
        letter_ = b;
        stage_ = 2;
        return std::nullopt;
    }
    if (stage_ == 2) {
        stage_ = 0;
        fe_ = b == 0xFE ? 1 : 0;
        const bool ok = (letter_ == 'P' && b == 0xFA) || (letter_ == 'R' && b == 0xFC) ||
                        (letter_ == 'T' && b == 0xFE);
        if (ok) {
            fe_ = 0;
            return static_cast<char>(letter_);
        }
        return std::nullopt;
    }
    if (b == 0xFE) {
        ++fe_;
    } else if (b == 0xAA && fe_ >= 6) {
        stage_ = 1;
        fe_ = 0;
    } else {
        fe_ = 0;
    }
    return std::nullopt;
}

Bytes reportFrame(const Cpu8051& cpu, int type, long windowBase) {
    Bytes f = header(type);
    switch (type) {
        case 0:
            // The run of registers from 80 to FF; the header repeats the ones the monitor saves
            // on entry: PSW, ACC, TCON, T2CON, CCON, IE, SP.
            f[6] = 0x80;
            f[7] = cpu.sfr[0xD0];
            f[8] = cpu.sfr[0xE0];
            f[9] = cpu.sfr[0x88];
            f[10] = cpu.sfr[0xC8];
            f[11] = cpu.sfr[0xD8];
            f[12] = cpu.sfr[0xA8];
            f[13] = cpu.sfr[0x81];
            f.insert(f.end(), cpu.sfr.begin() + 0x80, cpu.sfr.end());
            break;
        case 1:
            // R1 and R0 in the header; internal RAM from address 2 on as values.
            f[14] = cpu.idata[1];
            f[15] = cpu.idata[0];
            f.insert(f.end(), cpu.idata.begin() + 2, cpu.idata.end());
            break;
        case 2:
            f.insert(f.end(), cpu.xdata.begin(), cpu.xdata.begin() + 1024);
            break;
        default: {
            const long base = windowBase & 0xFE00;
            f[5] = static_cast<std::uint8_t>(base >> 8);
            f[6] = static_cast<std::uint8_t>(base & 0xFF);
            f.insert(f.end(), cpu.xdata.begin() + base, cpu.xdata.begin() + base + 512);
            break;
        }
    }
    finish(f);
    return f;
}

MonitorChip::MonitorChip(const MonitorConfig& config) : config_(config), rng_(config.seed) {}

std::string MonitorChip::takeNote() {
    std::string n;
    n.swap(note_);
    return n;
}

Bytes MonitorChip::sendCurrent(double now, const char* why) {
    Bytes f = reportFrame(cpu_, type_, config_.windowBase);
    const bool corrupt = config_.corruptFrames > 0 && rng_.unit() < config_.corruptFrames;
    if (corrupt) f.back() = static_cast<std::uint8_t>(f.back() ^ 0x5A);
    char buf[128];
    std::snprintf(buf, sizeof buf, "report type %d, %zu bytes (%s)%s", type_, f.size() - 2, why,
                  corrupt ? ", checksum spoilt" : "");
    note_ = buf;
    resendAt_ = now + config_.ackTimeoutMs / 1000.0;
    return f;
}

Bytes MonitorChip::tick(double now) {
    if (!started_) {
        started_ = true;
        runUntil_ = now + config_.reportPeriodMs / 1000.0;
    }
    if (phase_ == Phase::running && now >= runUntil_) {
        cpu_.run();
        phase_ = Phase::reporting;
        type_ = 0;
        return sendCurrent(now, "new cycle");
    }
    if (phase_ == Phase::reporting && now >= resendAt_) return sendCurrent(now, "no answer");
    return {};
}

Bytes MonitorChip::receive(std::uint8_t b, double now) {
    const auto letter = commands_.feed(b);
    if (!letter) return {};
    if (*letter == 'T') {
        note_ = "T: the program goes on";
        if (phase_ == Phase::paused) {
            phase_ = Phase::running;
            runUntil_ = now + config_.reportPeriodMs / 1000.0;
        }
        return {};
    }
    if (phase_ != Phase::reporting) {
        note_ = std::string(1, *letter) + " outside a report: ignored";
        return {};
    }
    if (*letter == 'R') return sendCurrent(now, "asked again");
    // P: the next frame of the cycle, or the end of the cycle.
    if (type_ < 3) {
        ++type_;
        return sendCurrent(now, "next");
    }
    resendAt_ = kNever;
    const bool pause = config_.breakpointAfter > 0 &&
                       cpu_.cycles % static_cast<unsigned>(config_.breakpointAfter) == 0;
    phase_ = pause ? Phase::paused : Phase::running;
    runUntil_ = now + config_.reportPeriodMs / 1000.0;
    note_ = pause ? "P: cycle done, paused at the breakpoint until T" : "P: cycle done";
    return {};
}

double MonitorChip::nextWake() const {
    if (phase_ == Phase::running) return started_ ? runUntil_ : 0;
    if (phase_ == Phase::reporting) return resendAt_;
    return kNever;
}

}  // namespace qmxsim
