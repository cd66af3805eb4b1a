// The monitor personality: a chip that runs the emulation monitor. It reports a simulated 8051
// state in report frames (A5 5A, AA, big-endian length from AA to the checksum, type, header,
// values, 8-bit sum) of four types: 0 the special-function registers, 1 internal RAM, 2 data
// memory, 3 a 512-byte window. Each frame waits for the host's "P"; "R" sends it again; after
// a breakpoint the program stays paused until "T". Pure logic; the runner owns the line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "faults.h"
#include "frames.h"

namespace qmxsim {

struct MonitorConfig {
    int reportPeriodMs = 200;  // the program runs this long between report cycles
    int breakpointAfter = 0;   // pause after this many cycles (0: never), until "T"
    int ackTimeoutMs = 1000;   // a frame nobody acknowledged goes again after this long
    long windowBase = 0x1000;  // base of the type-3 window (a multiple of 512)
    double corruptFrames = 0;  // chance that a frame leaves with a wrong checksum
    std::uint64_t seed = 1;
};

// The simulated chip state the monitor reports.
struct Cpu8051 {
    std::array<std::uint8_t, 256> sfr{};
    std::array<std::uint8_t, 256> idata{};
    std::vector<std::uint8_t> xdata = std::vector<std::uint8_t>(0x10000);
    unsigned cycles = 0;

    Cpu8051();
    // The program runs one report period: counters and ports move.
    void run();
};

// Takes the host's 9-byte commands (FE ×6, AA, letter, trailer) out of the byte stream.
class MonitorCommandReceiver {
  public:
    // The letter of a complete command whose trailer matches it (P FA, R FC, T FE).
    std::optional<char> feed(std::uint8_t b);

  private:
    int fe_ = 0;
    int stage_ = 0;  // 0 hunting, 1 after FE…FE AA, 2 after the letter
    std::uint8_t letter_ = 0;
};

// One report frame of a type from the state, preamble included.
Bytes reportFrame(const Cpu8051& cpu, int type, long windowBase);

class MonitorChip {
  public:
    explicit MonitorChip(const MonitorConfig& config);

    enum class Phase { running, reporting, paused };

    // Time has passed (seconds, monotonic): bytes to send now, if any.
    Bytes tick(double now);
    // A byte from the host; bytes to send in answer, if any.
    Bytes receive(std::uint8_t b, double now);
    // When tick wants to be called next.
    double nextWake() const;

    Phase phase() const { return phase_; }
    const Cpu8051& cpu() const { return cpu_; }
    // The log line of the last thing that happened (empty when nothing new).
    std::string takeNote();

  private:
    Bytes sendCurrent(double now, const char* why);

    MonitorConfig config_;
    Cpu8051 cpu_;
    MonitorCommandReceiver commands_;
    Rng rng_;
    Phase phase_ = Phase::running;
    int type_ = 0;  // the frame being reported
    double runUntil_ = 0;
    double resendAt_ = 1e300;
    bool started_ = false;
    std::string note_;
};

}  // namespace qmxsim
