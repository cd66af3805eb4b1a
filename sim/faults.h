// Line and chip faults for reliability tests, all drawn from one seed so a run can be repeated.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qmxsim {

// A small deterministic generator (splitmix64): the same seed gives the same draws everywhere.
class Rng {
  public:
    explicit Rng(std::uint64_t seed = 1) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [0, 1).
    double unit();
    // Uniform integer in [lo, hi].
    int between(int lo, int hi);

  private:
    std::uint64_t state_;
};

struct FaultSpec {
    double drop = 0;        // chance that a byte is lost on the line
    double corrupt = 0;     // chance that a byte arrives changed
    int delayMs = 0;        // extra time before every answer
    long muteAfter = -1;    // after this many answers the chip answers nothing more
    long vanishAfter = -1;  // after this many answers the line disappears
    std::uint64_t seed = 1;
    long optionBusy = 0;    // the first N option commands of families 3/4 answer 81 (busy)
    long noise = 0;         // bytes of line noise on the line before every answer
    long maxRate = 0;       // the chip's UART cannot run faster than this (0: no limit)
    long optionIgnore = 0;  // the first N option commands are acknowledged but not kept

    bool any() const {
        return drop > 0 || corrupt > 0 || delayMs > 0 || muteAfter >= 0 || vanishAfter >= 0 ||
               optionBusy > 0 || noise > 0 || maxRate > 0 || optionIgnore > 0;
    }
};

// Parses "drop=P,corrupt=P,delay=MS,mute-after=N,vanish-after=N,seed=S,option-busy=N,noise=N,
// max-rate=BAUD,option-ignore=N".
// Returns nothing and fills error on a bad item.
std::optional<FaultSpec> parseFaultSpec(const std::string& text, std::string& error);

// Applies the byte faults of a spec. Each direction draws from its own stream so that what the
// host sends does not change what happens to the chip's answers.
class FaultInjector {
  public:
    explicit FaultInjector(const FaultSpec& spec);
    enum class Fate { pass, drop, corrupt };
    // Decides the fate of one byte going to the chip (toChip) or to the host.
    Fate decide(bool toChip);
    // The changed value of a corrupted byte (never the byte itself).
    std::uint8_t corruptValue(bool toChip, std::uint8_t b);
    // One byte of line noise towards the host: never 46 or 68, so that the answer behind the
    // noise can still be found by its header or its first byte.
    std::uint8_t noiseByte();
    const FaultSpec& spec() const { return spec_; }

  private:
    FaultSpec spec_;
    Rng toChip_;
    Rng toHost_;
};

}  // namespace qmxsim
