// Plays a chip on a pseudo-terminal: line timing, rate mismatches, faults, power states, the
// series of chips, control lines on stdin and the flash file.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app.h"
#include "chip.h"
#include "faults.h"
#include "monitor.h"

namespace qmxsim {

struct RunnerOptions {
    ChipConfig chip;
    std::string link;
    int powerOnDelayMs = 0;
    int syncWindowMs = 0;  // listen this long after power-on, then run the user program (0: ever)
    int chips = 1;
    bool chipsGiven = false;  // --chips given: flash files are numbered FILE.1, FILE.2, ...
    int swapDelayMs = 1500;
    std::string flashOut;
    bool wireTime = true;
    bool rateCheck = true;
    FaultSpec fault;
    std::string logPath;
    // Answers reach the host in the bursts a USB adapter makes: held until its latency timer
    // (this many milliseconds, ticking from the start) expires or a USB packet fills. 0: none.
    int latencyMs = 0;
    // A FIFO read for control lines as well as stdin (power-off, power-on ...).
    std::string controlPath;
    // Makes the device for each chip of the series (another personality); a boot-loader chip
    // when empty.
    std::function<std::unique_ptr<Chip>(const ChipConfig&)> makeChip;
    // The monitor: what a chip reports once it runs a monitor image, or from the start.
    MonitorConfig monitor;
    bool monitorOnly = false;
    // Personality `app`: the chip runs a user application (see app.h).
    bool app = false;
    AppConfig appConfig;
};

// Runs until quit, SIGTERM/SIGINT, the last chip of the series, or a vanished line. Returns the
// process exit status.
int runSimulator(const RunnerOptions& options);

// Writes bytes to path through a temporary file and a rename, so a reader never sees half a
// file. False with error set on failure (the old file is then untouched).
bool writeFileAtomically(const std::string& path, const Bytes& bytes, std::string& error);

}  // namespace qmxsim
