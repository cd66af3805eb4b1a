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

namespace {

// The faults with a bounded number (a time, a byte count or a rate); false when `key` is none.
bool applyBounded(const std::string& key, const std::string& value, FaultSpec& spec,
                  std::string& error) {
    long n = 0;
    if (key == "delay") {
        if (!parseCount(value, n) || n > 60000)
            error = "delay wants milliseconds (0-60000), got " + value;
        else
            spec.delayMs = static_cast<int>(n);
    } else if (key == "noise") {
        if (!parseCount(value, n) || n > 1000)
            error = "noise wants a byte count (0-1000), got " + value;
        else
            spec.noise = n;
    } else if (key == "late-ms") {
        if (!parseCount(value, n) || n > 60000)
            error = "late-ms wants milliseconds (0-60000), got " + value;
        else
            spec.lateMs = static_cast<int>(n);
    } else if (key == "max-rate") {
        if (!parseCount(value, n) || n > 10000000)
            error = "max-rate wants a baud rate, got " + value;
        else
            spec.maxRate = n;
    } else {
        return false;
    }
    return true;
}

// The faults that count frames or commands; nothing when `key` is none of them.
long* countOf(const std::string& key, FaultSpec& spec) {
    if (key == "late-answer") return &spec.lateAnswer;
    if (key == "lose-write") return &spec.loseWrite;
    if (key == "mute-after") return &spec.muteAfter;
    if (key == "vanish-after") return &spec.vanishAfter;
    if (key == "option-ignore") return &spec.optionIgnore;
    if (key == "option-busy") return &spec.optionBusy;
    return nullptr;
}

// One item key=value; the error, empty when it was taken.
std::string applyFaultItem(const std::string& key, const std::string& value, FaultSpec& spec) {
    std::string error;
    if (key == "drop" || key == "corrupt") {
        double d = 0;
        if (!parseNumber(value, d) || d < 0 || d > 1)
            return key + " wants a chance from 0 to 1, got " + value;
        (key == "drop" ? spec.drop : spec.corrupt) = d;
    } else if (applyBounded(key, value, spec, error)) {
        return error;
    } else if (long* count = countOf(key, spec)) {
        long n = 0;
        if (!parseCount(value, n)) return key + " wants a count, got " + value;
        *count = n;
    } else if (key == "seed") {
        char* end = nullptr;
        const unsigned long long s = std::strtoull(value.c_str(), &end, 0);
        if (value.empty() || !end || *end != '\0') return "seed wants a number, got " + value;
        spec.seed = s;
    } else {
        return "unknown fault: " + key;
    }
    return {};
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
        error = applyFaultItem(item.substr(0, eq), item.substr(eq + 1), spec);
        if (!error.empty()) return std::nullopt;
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
