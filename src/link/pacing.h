// Pacing of the block writes: the gap slept before each paced byte (about six bit times at the
// current rate, longer when the chip's clock runs slow against the chosen rate) and the
// high-resolution sleep that makes it.
#pragma once

#include <chrono>
#include <string>

namespace qmx {

// Sleeps until `t` on the monotonic clock, resuming after signals.
void sleepUntil(std::chrono::steady_clock::time_point t);

class Pacing {
  public:
    // The pacing unit is the microsecond: loops_per_ms is 1000 and a gap of n "loops" sleeps
    // n + 1 microseconds, so the gap keeps the formula it has in loop counts.
    long loops_per_ms() const { return loopsPerMs_; }
    long pace_loops() const { return paceLoops_; }
    void set_pace_loops(long loops) { paceLoops_ = loops; }
    // The last baud error chosen by the baud search, in per cent.
    double baud_error_percent() const { return baudErrorPercent_; }
    void set_baud_error_percent(double percent) { baudErrorPercent_ = percent; }
    // Time spent in the gaps so far (benchmarks count it as protocol time).
    std::chrono::microseconds gap_total() const { return gapTotal_; }

    // Asks the kernel for the finest timer slack: gaps are slept, not spun.
    void calibrate();
    // pace_loops from the baud rate of a settings text and the last baud error.
    void compute(const std::string& settingsText);
    // The gap before a paced byte.
    void gap(long loops);

  private:
    long loopsPerMs_ = 1000;
    long paceLoops_ = 5;
    double baudErrorPercent_ = 0;
    std::chrono::microseconds gapTotal_{0};
};

}  // namespace qmx
