#include "link/baud.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "catalogue/text_util.h"
#include "link/wire_format.h"

namespace qmx {

BaudFigures baudFigures(BaudGenerator g, double clockHz, long baud) {
    double q = clockHz / 32.0;
    double base;
    switch (g) {
        case BaudGenerator::B:
            base = q / 12.0;
            break;
        case BaudGenerator::C:
            base = q / 6.0;
            break;
        case BaudGenerator::E:
            base = clockHz / 16.0;
            break;
        default:
            base = q;
            break;
    }
    BaudFigures f;
    f.count = static_cast<float>(std::floor(base / static_cast<double>(baud) + 0.5));
    if (f.count <= 0) {
        f.achieved = 0;
        f.errorPercent = 100;
        return f;
    }
    f.achieved = static_cast<float>(base / f.count);
    f.errorPercent = static_cast<float>((f.achieved - static_cast<double>(baud)) /
                                        static_cast<double>(baud) * 100.0);
    return f;
}

int generatorExtraByte(BaudGenerator g) {
    switch (g) {
        case BaudGenerator::B:
            return 0;
        case BaudGenerator::C:
            return 128;
        case BaudGenerator::D:
            return 64;
        case BaudGenerator::E:
            return 192;
        default:
            return 0;
    }
}

int calculate_baud(long crystal_frequency, int& MaxNo, long& baud, float& errNumb, int& double_baud,
                   int family, long userLimit) {
    MaxNo = std::min(MaxNo, 11);
    if (MaxNo <= 0 || crystal_frequency <= 0) return -1;
    const double f = static_cast<double>(crystal_frequency);
    const bool generatorsBE = family == 3 || family == 4;
    for (int i = MaxNo; i >= 0; --i) {
        const long candidate = kBaudCandidates[static_cast<std::size_t>(i)];
        if (candidate > userLimit) continue;
        if (generatorsBE) {
            for (BaudGenerator g :
                 {BaudGenerator::E, BaudGenerator::D, BaudGenerator::C, BaudGenerator::B}) {
                BaudFigures fig = baudFigures(g, f, candidate);
                if (fig.errorPercent > -3.0f && fig.errorPercent < 4.0f && fig.count > 0 &&
                    fig.count < 256) {
                    MaxNo = i;
                    baud = candidate;
                    errNumb = fig.errorPercent;
                    double_baud = generatorExtraByte(g);
                    return static_cast<int>(std::lround(fig.count));
                }
            }
        } else {
            BaudFigures fig = baudFigures(BaudGenerator::A, f, candidate);
            if (fig.errorPercent > -3.2f && fig.errorPercent < 4.0f && fig.count > 2) {
                MaxNo = i;
                baud = candidate;
                errNumb = fig.errorPercent;
                return static_cast<int>(std::lround(fig.count));
            }
        }
    }
    return -1;
}

void reloadBytes(int count, int family, int double_baud, std::uint8_t& newBaud_H,
                 std::uint8_t& newBaud_L) {
    long reload = 65536L - count;
    newBaud_L = static_cast<std::uint8_t>(reload & 0xFF);
    newBaud_H = static_cast<std::uint8_t>((reload >> 8) & 0xFF);
    if (family == 3 || family == 4) {
        newBaud_H = static_cast<std::uint8_t>(double_baud);
        newBaud_L = static_cast<std::uint8_t>((256 - count) & 0xFF);
    }
}

std::uint8_t clockRangeCode(int family, double clockHz) {
    int m = static_cast<int>(clockHz / 1000000.0 + 0.5);
    switch (family) {
        case 1:
            if (m < 5) return 0x83;
            if (m < 15) return 0x82;
            if (m < 30) return 0x81;
            return 0x80;
        case 2:
            if (m <= 5) return 0x83;
            if (m <= 10) return 0x82;
            if (m < 20) return 0x81;
            return 0x80;
        case 3:
        case 4:
            if (m <= 1) return 0x87;
            if (m <= 2) return 0x86;
            if (m <= 3) return 0x85;
            if (m <= 6) return 0x84;
            if (m <= 12) return 0x83;
            if (m <= 20) return 0x82;
            if (m <= 24) return 0x81;
            return 0x80;
        default:
            return 0x80;
    }
}

std::array<std::uint8_t, 6> testBaudPayload(long baud, std::uint8_t newBaud_H,
                                            std::uint8_t newBaud_L, double clockHz, int family) {
    int x = std::min(2 * (256 - newBaud_L), 254);
    long y = std::lround(40.0 - 0.002 * static_cast<double>(baud));
    if (y < 40) y = 40;
    if (clockHz > 68000000.0) y *= 2;
    return {newBaud_H,
            newBaud_L,
            static_cast<std::uint8_t>(0xFF - newBaud_H),
            static_cast<std::uint8_t>(x),
            static_cast<std::uint8_t>(y & 0xFF),
            clockRangeCode(family, clockHz)};
}

std::array<std::uint8_t, 5> setBaudPayload(long baud, std::uint8_t newBaud_H,
                                           std::uint8_t newBaud_L, double clockHz) {
    int x = std::min(2 * (256 - newBaud_L), 255);
    long y = std::max(std::lround(40.0 - 0.002 * static_cast<double>(baud)), 23L);
    if (clockHz > 68000000.0) y *= 2;
    return {newBaud_H, newBaud_L, static_cast<std::uint8_t>(0xFF - newBaud_H),
            static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y & 0xFF)};
}

std::uint8_t watchdogPinByte(const std::string& pinText) {
    if (pinText.size() != 4) return 0xFF;
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : 0; };
    return static_cast<std::uint8_t>((digit(pinText[3]) * 16 + digit(pinText[1])) & 0xFF);
}

namespace {

std::string rateSettings(const std::string& new_baud) {
    return std::string(trimBlanks(new_baud)) + ",n,8,1";
}

}  // namespace

bool test_new_baud(LinkContext& link, const std::string& new_baud, std::uint8_t newBaud_H,
                   std::uint8_t newBaud_L) {
    SerialChannel& ch = link.channel;
    double f = link.facts.clock_hz;
    if (link.facts.double_speed) f /= 2;
    ch.flush_receive();
    long baud = std::atol(new_baud.c_str());
    if (!ch.is_open()) ch.open_port();
    ch.wait_ms(20);
    auto payload = testBaudPayload(baud, newBaud_H, newBaud_L, f, link.family());
    ch.send_frame(wire::frame(wire::Command::TestBaud, payload));
    ch.close_port();
    std::string remembered = ch.settings();
    if (ch.set_settings(rateSettings(new_baud)) && ch.open_port() == 0) {
        long ms = std::max(std::lround(300.0 - 0.008 * static_cast<double>(baud)), 950L);
        ch.wait_response(static_cast<int>(ms));
    }
    bool answered = ch.frame_ready();
    ch.close_port();
    ch.set_settings(remembered);
    ch.open_port();
    return answered;
}

bool set_new_baud(LinkContext& link, const std::string& new_baud, std::uint8_t newBaud_H,
                  std::uint8_t newBaud_L) {
    SerialChannel& ch = link.channel;
    ch.clear_rx_count();
    ch.set_frame_ready(false);
    ch.close_port();
    ch.set_settings("1200,n,8,1");
    ch.open_port();
    ch.wait_ms(1);
    long baud = std::atol(new_baud.c_str());
    auto payload = setBaudPayload(baud, newBaud_H, newBaud_L, link.facts.clock_hz);
    ch.send_frame(wire::frame(wire::Command::SwitchBaud, payload));
    ch.close_port();
    if (!ch.set_settings(rateSettings(new_baud))) return false;
    if (ch.open_port() != 0) return false;
    long ms = std::max(std::lround(800.0 - 0.008 * static_cast<double>(baud)), 800L);
    return ch.wait_response(static_cast<int>(ms));
}

bool send_extern_WDT_address(LinkContext& link) {
    if (!link.choices.watchdogPinCommand) return true;
    SerialChannel& ch = link.channel;
    std::uint8_t p = watchdogPinByte(link.choices.watchdogPin);
    if (!ch.is_open()) ch.open_port();
    for (int attempt = 0; attempt < 3; ++attempt) {
        ch.clear_rx_count();
        ch.set_frame_ready(false);
        ch.wait_ms(20);
        ch.send_frame(wire::frame(wire::Command::WatchdogPin, {p}));
        if (ch.wait_response(500)) return true;
        if (ch.stop_requested() || ch.vanished()) break;
    }
    ch.close_port();
    return false;
}

void derive_alternate_reload(ConnectionFacts& f) {
    long e = f.newBaud_H * 256L + f.newBaud_L;
    long count = 65536L - e;
    if (f.double_speed) {
        f.altBaud_H = f.newBaud_H;
        f.altBaud_L = f.newBaud_L;
        long half = std::lrint(static_cast<double>(count) / 2.0);  // halves go to even
        long cur = (65536L - half) & 0xFFFF;
        f.newBaud_H = static_cast<std::uint8_t>(cur >> 8);
        f.newBaud_L = static_cast<std::uint8_t>(cur & 0xFF);
    } else {
        long alt = (65536L - 2 * count) & 0xFFFF;
        f.altBaud_H = static_cast<std::uint8_t>(alt >> 8);
        f.altBaud_L = static_cast<std::uint8_t>(alt & 0xFF);
    }
}

}  // namespace qmx
