#include "link/pacing.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace qmx {

void sleepUntil(std::chrono::steady_clock::time_point t) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    struct timespec ts {
        static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)
    };
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

void Pacing::calibrate() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    loopsPerMs_ = 1000;
}

void Pacing::compute(const std::string& settingsText) {
    long baud = std::atol(settingsText.substr(0, settingsText.find(',')).c_str());
    if (baud <= 0) return;
    double factor = baudErrorPercent_ >= 0 ? 1.0 : 1.0 + 0.2 * std::fabs(baudErrorPercent_ + 1.0);
    paceLoops_ =
        std::lround(static_cast<double>(loopsPerMs_) / static_cast<double>(baud) * 6000.0 * factor);
}

void Pacing::gap(long loops) {
    const auto gap = std::chrono::microseconds((loops + 1) * 1000 / loopsPerMs_);
    sleepUntil(std::chrono::steady_clock::now() + gap);
    gapTotal_ += gap;
}

}  // namespace qmx
