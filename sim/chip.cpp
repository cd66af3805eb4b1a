#include "chip.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "uart.h"

namespace qmxsim {

const char* powerName(Power p) {
    switch (p) {
        case Power::off:
            return "off";
        case Power::listening:
            return "listening";
        case Power::bootloader:
            return "boot loader";
        case Power::running:
            return "running";
    }
    return "?";
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<Firmware> parseFirmware(const std::string& text, char defaultLetter) {
    // d.d followed by an optional letter
    if (text.size() < 3 || text.size() > 4 || text[1] != '.') return std::nullopt;
    const int hi = hexDigit(text[0]);
    const int lo = hexDigit(text[2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    Firmware fw;
    fw.version = static_cast<std::uint8_t>(hi * 16 + lo);
    fw.letter = defaultLetter;
    if (text.size() == 4) {
        if (!std::isalpha(static_cast<unsigned char>(text[3]))) return std::nullopt;
        fw.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[3])));
    }
    return fw;
}

Firmware typicalFirmware(int family) {
    switch (family) {
        case 0:
            return {0x21, 'A'};
        case 1:
            return {0x32, 'B'};
        case 2:
            return {0x36, 'C'};
        case 3:
            return {0x35, 'D'};
        default:
            return {0x36, 'E'};
    }
}

std::array<std::uint8_t, 5> erasedOptions(int family) {
    // Family 0 keeps the 12-clock mode in bit 3 (clear); every other bit reads 1 when erased.
    if (family == 0) return {0xF7, 0xFF, 0xFF, 0xFF, 0xFF};
    return {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
}

std::uint8_t bootAreaCode(const ChipModel&) {
    // Every part's flash map leaves 1 KB at the top for the loader (F0xx parts: program and data
    // end at 3800 of 3C00; F1xx: at F800 of FC00; family 1: at FC00 of 10000).
    return 0;
}

Chip::Chip(ChipConfig config)
    : config_(std::move(config)),
      options_(config_.options),
      optionBusyLeft_(config_.optionBusy),
      optionIgnoreLeft_(config_.optionIgnore),
      jitter_(config_.seed ^ 0xC0FFEEULL),
      flash_(config_.model.lastAddress() + 1, 0xFF) {}

void Chip::powerOn() {
    power_ = Power::listening;
    uartRate_ = 0;
    receiver_.reset();
    const int f = config_.model.family;
    if (f == 0) {
        doubleSpeed_ = (options_[0] & 0x08) != 0;
    } else if (f == 2) {
        doubleSpeed_ = (options_[0] & 0x01) == 0;
    } else {
        doubleSpeed_ = false;
    }
}

void Chip::powerOff() {
    power_ = Power::off;
    uartRate_ = 0;
    receiver_.reset();
}

void Chip::startUserProgram() {
    power_ = Power::running;
    receiver_.reset();
}

double Chip::machineClock() const {
    return config_.clockHz * (doubleSpeed_ ? 2.0 : 1.0);
}

std::uint8_t Chip::featureFlags() const {
    if (config_.flags) return *config_.flags;
    return static_cast<std::uint8_t>(0x80 | bootAreaCode(config_.model));
}

bool Chip::headerOnAnswers() const {
    // The host learns of the header only from a status frame that carries meaningful flags.
    if (config_.shortStatus || config_.firmware.version <= 0x25) return false;
    return (featureFlags() & 0x80) != 0;
}

Bytes Chip::statusFrame(double hostRate) {
    const bool ext = config_.firmware.letter == 'D' || config_.firmware.letter == 'E';
    Bytes body;
    body.push_back(0x00);  // not looked at by the host; never 20 (the download board's marker)
    // Eight timing counts of the sync byte: the host takes clock = (average + 6) * 2061 at 1200
    // baud; a faster sync byte gives proportionally smaller counts.
    const double rate = hostRate > 0 ? hostRate : 1200.0;
    const double base = machineClock() / 2061.0 * (1200.0 / rate) - 6.0;
    for (int i = 0; i < 8; ++i) {
        long c = std::lround(base) + jitter_.between(-2, 2);
        c = std::clamp(c, 0L, 0xFFFFL);
        body.push_back(static_cast<std::uint8_t>(c >> 8));
        body.push_back(static_cast<std::uint8_t>(c & 0xFF));
    }
    body.push_back(config_.firmware.version);
    body.push_back(static_cast<std::uint8_t>(config_.firmware.letter));
    if (config_.shortStatus) return buildAnswer(body, false);  // L = 24
    body.push_back(options_[0]);
    body.push_back(config_.model.id1);
    body.push_back(config_.model.id2);  // L = 27 so far
    if (config_.firmware.version > 0x25 || ext) {
        body.push_back(config_.firmware.version > 0x25 ? featureFlags() : 0x00);  // L = 28
        if (ext) body.insert(body.end(), options_.begin(), options_.end());       // L = 33
    }
    return buildAnswer(body, false);
}

ChipAction Chip::ack(const std::string& note, std::uint8_t code) const {
    ChipAction a;
    a.kind = ChipAction::Kind::answer;
    a.note = note;
    a.bytes = buildAnswer({code}, headerOnAnswers());
    a.sendRate = uartRate_;
    return a;
}

std::vector<ChipAction> Chip::receive(std::uint8_t b, double hostRate) {
    std::vector<ChipAction> out;
    switch (power_) {
        case Power::off:
        case Power::running:
            return out;
        case Power::listening: {
            if (b != 0x7F) return out;
            // Auto-baud: the loader times the sync byte and takes its rate for its own.
            uartRate_ = hostRate > 0 ? hostRate : 1200.0;
            power_ = Power::bootloader;
            ChipAction a;
            a.kind = ChipAction::Kind::answer;
            a.note = "sync 7F: status frame";
            a.bytes = statusFrame(uartRate_);
            a.sendRate = uartRate_;
            out.push_back(std::move(a));
            return out;
        }
        case Power::bootloader:
            break;
    }
    switch (receiver_.feed(b)) {
        case CommandReceiver::Result::none:
            break;
        case CommandReceiver::Result::rejected: {
            static const char* why[] = {"", "bad length", "bad end byte", "bad sum"};
            ChipAction a;
            a.note = std::string("rx ") + hexText(receiver_.rejectedBytes()) +
                     "  (dropped: " + why[static_cast<int>(receiver_.fault())] + ")";
            out.push_back(std::move(a));
            break;
        }
        case CommandReceiver::Result::frame: {
            ChipAction a;
            a.note = "rx " + hexText(receiver_.frame().raw);
            out.push_back(std::move(a));
            auto more = handle(receiver_.frame());
            out.insert(out.end(), more.begin(), more.end());
            break;
        }
    }
    return out;
}

bool Chip::keepsDataFlash() const {
    const int f = config_.model.family;
    if (f == 2) return (options_[0] & 0x08) != 0;            // bit 3 clear: erase data flash too
    if (f == 3 || f == 4) return (options_[2] & 0x02) != 0;  // E2 bit 1 clear: clear it
    return false;
}

void Chip::erasePages(unsigned pages) {
    const std::size_t end =
        std::min<std::size_t>(static_cast<std::size_t>(pages) * 512, flash_.size());
    const bool keep = config_.model.hasDataFlash() && keepsDataFlash();
    for (std::size_t a = 0; a < end; ++a) {
        if (keep && a >= config_.model.dataStart && a <= config_.model.dataEnd) continue;
        flash_[a] = 0xFF;
    }
}

std::optional<ChipAction> Chip::shortCommand(std::uint8_t code) const {
    char note[40];
    std::snprintf(note, sizeof note, "short command %02X", code);
    return ack(note);
}

std::optional<ChipAction> Chip::watchdogPin(const Bytes& p) {
    if (p.size() != 1) return std::nullopt;
    wdtPin_ = p[0];
    char note[40];
    std::snprintf(note, sizeof note, "watchdog pin %02X", p[0]);
    return ack(note);
}

std::optional<ChipAction> Chip::statusAnswer() const {
    const int family = config_.model.family;
    const std::uint8_t head[] = {0x80,
                                 config_.model.id1,
                                 config_.model.id2,
                                 static_cast<std::uint8_t>(headerOnAnswers() ? featureFlags() : 0),
                                 0,
                                 0,
                                 0,
                                 0,
                                 config_.firmware.version,
                                 static_cast<std::uint8_t>(config_.firmware.letter)};
    // Families 3 and 4 report all five option bytes, the others the first.
    const std::size_t optionCount = family == 3 || family == 4 ? options_.size() : 1;
    Bytes body(sizeof head + optionCount);
    std::copy(std::begin(head), std::end(head), body.begin());
    std::copy_n(options_.begin(), optionCount, body.begin() + sizeof head);
    ChipAction a = ack("status request");
    a.bytes = buildAnswer(body, headerOnAnswers());
    return a;
}

std::optional<ChipAction> Chip::baudCommand(std::uint8_t code, const Bytes& p) {
    // Baud test (8F, answered at the new rate, then back) and switch (8E, for good).
    if (p.size() < 5 || p[2] != static_cast<std::uint8_t>(0xFF - p[0])) return std::nullopt;
    const double rate = reloadRate(config_.model.family, machineClock(), p[0], p[1]);
    char note[160];
    std::snprintf(note, sizeof note, "%s reload %02X %02X: %.0f baud",
                  code == 0x8F ? "baud test" : "baud switch", p[0], p[1], rate);
    if (rate <= 0) return std::nullopt;
    if (config_.maxRate > 0 && rate > config_.maxRate * 1.03) {
        // Beyond what this chip's UART can do: it never answers at that rate.
        ChipAction a;
        a.note = std::string(note) + " (beyond this chip: no answer)";
        return a;
    }
    ChipAction a = ack(note);
    a.sendRate = rate;
    a.awaitHostRate = true;
    a.settleMs = std::clamp<int>(p[4], 20, 100);
    a.restoreRate = code == 0x8F ? uartRate_ : 0;
    uartRate_ = rate;
    return a;
}

std::optional<ChipAction> Chip::erase(const Bytes& p) {
    if (p.size() != 1) return std::nullopt;
    erasePages(p[0]);
    char note[40];
    std::snprintf(note, sizeof note, "erase %u pages", p[0]);
    ChipAction a = ack(note);
    a.workMs = p[0];  // about a millisecond a page
    return a;
}

std::optional<ChipAction> Chip::blockWrite(std::uint8_t code, const Bytes& p) {
    if (p.size() < 6) return std::nullopt;
    const std::uint32_t addr = (static_cast<std::uint32_t>(p[0]) << 24) |
                               (static_cast<std::uint32_t>(p[1]) << 16) |
                               (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
    const std::size_t n = static_cast<std::size_t>(p[4]) * 256 + p[5];
    if (p.size() != 6 + n) return std::nullopt;
    ++writesSeen_;
    char note[160];
    if (writesSeen_ == config_.loseWrite) {
        // The frame was hit on the line: the loader drops it and stays silent.
        std::snprintf(note, sizeof note, "fault: block write %ld at %04X lost on the line",
                      writesSeen_, addr);
        ChipAction lost;
        lost.note = note;
        return lost;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t a = static_cast<std::uint64_t>(addr) + i;
        if (a < flash_.size() && config_.model.hasFlashAt(a)) flash_[a] = p[6 + i];
    }
    const std::uint8_t dataSum = sum8(p.data() + 6, n);
    std::snprintf(note, sizeof note, "%s %04X..%04X (%zu bytes), data sum %02X",
                  code == 0 ? "write" : "write again", addr,
                  static_cast<unsigned>(addr + (n ? n - 1 : 0)), n, dataSum);
    ChipAction a = ack(note);
    a.bytes = config_.shortBlockAnswers ? buildAnswer({0x80}, headerOnAnswers())
                                        : buildAnswer({0x80, dataSum}, headerOnAnswers());
    if (writesSeen_ == config_.lateAnswer) {
        a.lateMs = config_.lateMs;
        a.note += " (fault: answered late)";
    }
    return a;
}

std::optional<ChipAction> Chip::setFiveOptionBytes(const Bytes& p) {
    if (optionBusyLeft_ > 0) {
        --optionBusyLeft_;
        return ack("options: busy", 0x81);
    }
    std::copy(p.begin(), p.begin() + 5, options_.begin());
    clockField_ = (static_cast<std::uint32_t>(p[5]) << 24) |
                  (static_cast<std::uint32_t>(p[6]) << 16) |
                  (static_cast<std::uint32_t>(p[7]) << 8) | p[8];
    char note[160];
    std::snprintf(note, sizeof note, "options %02X %02X %02X %02X %02X, clock %08X", p[0], p[1],
                  p[2], p[3], p[4], clockField_);
    return ack(note);
}

std::optional<ChipAction> Chip::setOptions(const Bytes& p) {
    const int family = config_.model.family;
    char note[160];
    if (optionIgnoreLeft_ > 0 && (family == 0 || family >= 2)) {
        // A chip whose option bytes are write-protected: it acknowledges and keeps its old
        // bytes, which the status request then shows.
        --optionIgnoreLeft_;
        return ack("options: acknowledged, not kept");
    }
    if (family == 0 && p.size() == 1) {
        // Once the 6-clock mode is burnt in, only a parallel programmer clears it; the new mode
        // takes effect at the next power-on.
        options_[0] = static_cast<std::uint8_t>(p[0] | (options_[0] & 0x08));
        std::snprintf(note, sizeof note, "options %02X", options_[0]);
        return ack(note);
    }
    if (family == 2 && p.size() == 3) {
        // The new clock mode applies at once, with the reload that keeps the line's rate.
        options_[0] = p[0];
        doubleSpeed_ = (p[0] & 0x01) == 0;
        const double rate = reloadRate(family, machineClock(), p[1], p[2]);
        if (rate > 0) uartRate_ = rate;
        std::snprintf(note, sizeof note, "options %02X, reload %02X %02X: %.0f baud", p[0], p[1],
                      p[2], rate);
        return ack(note);
    }
    if ((family == 3 || family == 4) && p.size() == 9) return setFiveOptionBytes(p);
    return std::nullopt;
}

std::optional<ChipAction> Chip::runUserProgram() {
    power_ = Power::running;
    receiver_.reset();
    ChipAction a;
    a.kind = ChipAction::Kind::run;
    a.note = "run user program";
    return a;
}

std::vector<ChipAction> Chip::handle(const CommandFrame& f) {
    const Bytes& p = f.payload;
    std::optional<ChipAction> done;
    switch (f.command) {
        case 0x80:
        case 0x81:
        case 0x82:
        case 0x95:
            done = shortCommand(f.command);
            break;
        case 0x86:
            done = watchdogPin(p);
            break;
        case 0x50:
            done = statusAnswer();
            break;
        case 0x8F:
        case 0x8E:
            done = baudCommand(f.command, p);
            break;
        case 0x84:
            done = erase(p);
            break;
        case 0x00:
        case 0x30:
            done = blockWrite(f.command, p);
            break;
        case 0x8D:
            done = setOptions(p);
            break;
        case 0x52:
            done = runUserProgram();
            break;
        default:
            break;
    }
    if (!done) {
        char note[40];
        std::snprintf(note, sizeof note, "command %02X not taken", f.command);
        done.emplace();
        done->note = note;
    }
    return {std::move(*done)};
}

}  // namespace qmxsim
