#include "faults.h"

#include <cstdlib>
#include <sstream>

namespace qmxsim {

std::uint64_t Rng::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double Rng::unit() {
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

int Rng::between(int lo, int hi) {
    if (hi <= lo) return lo;
    const auto span = static_cast<std::uint64_t>(hi - lo + 1);
    return lo + static_cast<int>(next() % span);
}

namespace {

bool parseNumber(const std::string& s, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return end && *end == '\0';
}

bool parseCount(const std::string& s, long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtol(s.c_str(), &end, 10);
    return end && *end == '\0' && out >= 0;
}

}  // namespace

std::optional<FaultSpec> parseFaultSpec(const std::string& text, std::string& error) {
    FaultSpec spec;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty()) continue;
        const auto eq = item.find('=');
        if (eq == std::string::npos) {
            error = "fault item without a value: " + item;
            return std::nullopt;
        }
        const std::string key = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        double d = 0;
        long n = 0;
        if (key == "drop" || key == "corrupt") {
            if (!parseNumber(value, d) || d < 0 || d > 1) {
                error = key + " wants a chance from 0 to 1, got " + value;
                return std::nullopt;
            }
            (key == "drop" ? spec.drop : spec.corrupt) = d;
        } else if (key == "delay") {
            if (!parseCount(value, n) || n > 60000) {
                error = "delay wants milliseconds (0-60000), got " + value;
                return std::nullopt;
            }
            spec.delayMs = static_cast<int>(n);
        } else if (key == "noise") {
            if (!parseCount(value, n) || n > 1000) {
                error = "noise wants a byte count (0-1000), got " + value;
                return std::nullopt;
            }
            spec.noise = n;
        } else if (key == "max-rate") {
            if (!parseCount(value, n) || n > 10000000) {
                error = "max-rate wants a baud rate, got " + value;
                return std::nullopt;
            }
            spec.maxRate = n;
        } else if (key == "mute-after" || key == "vanish-after" || key == "option-busy" ||
                   key == "option-ignore") {
            if (!parseCount(value, n)) {
                error = key + " wants a count, got " + value;
                return std::nullopt;
            }
            if (key == "mute-after") {
                spec.muteAfter = n;
            } else if (key == "vanish-after") {
                spec.vanishAfter = n;
            } else if (key == "option-ignore") {
                spec.optionIgnore = n;
            } else {
                spec.optionBusy = n;
            }
        } else if (key == "seed") {
            char* end = nullptr;
            const unsigned long long s = std::strtoull(value.c_str(), &end, 0);
            if (value.empty() || !end || *end != '\0') {
                error = "seed wants a number, got " + value;
                return std::nullopt;
            }
            spec.seed = s;
        } else {
            error = "unknown fault: " + key;
            return std::nullopt;
        }
    }
    return spec;
}

FaultInjector::FaultInjector(const FaultSpec& spec)
    : spec_(spec), toChip_(spec.seed * 2 + 1), toHost_(spec.seed * 2 + 2) {}

FaultInjector::Fate FaultInjector::decide(bool toChip) {
    if (spec_.drop <= 0 && spec_.corrupt <= 0) return Fate::pass;
    Rng& r = toChip ? toChip_ : toHost_;
    const double x = r.unit();
    if (x < spec_.drop) return Fate::drop;
    if (x < spec_.drop + spec_.corrupt) return Fate::corrupt;
    return Fate::pass;
}

std::uint8_t FaultInjector::corruptValue(bool toChip, std::uint8_t b) {
    Rng& r = toChip ? toChip_ : toHost_;
    // Flip one to eight bits, at least one.
    std::uint8_t mask = static_cast<std::uint8_t>(r.between(1, 255));
    return static_cast<std::uint8_t>(b ^ mask);
}

std::uint8_t FaultInjector::noiseByte() {
    for (;;) {
        const auto b = static_cast<std::uint8_t>(toHost_.between(0, 255));
        if (b != 0x46 && b != 0x68) return b;
    }
}

}  // namespace qmxsim
