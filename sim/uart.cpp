#include "uart.h"

#include <cmath>

namespace qmxsim {

double reloadRate(int family, double clockHz, std::uint8_t high, std::uint8_t low) {
    if (clockHz <= 0) return 0;
    if (family == 3 || family == 4) {
        const int count = 256 - low;  // low 00 means a full 256
        switch (high) {
            case 0x00:
                return clockHz / 32.0 / 12.0 / count;
            case 0x80:
                return clockHz / 32.0 / 6.0 / count;
            case 0x40:
                return clockHz / 32.0 / count;
            case 0xC0:
                return clockHz / 16.0 / count;
            default:
                return 0;
        }
    }
    const int count = 65536 - (high * 256 + low);
    if (count <= 0) return 0;
    return clockHz / 32.0 / count;
}

bool ratesMatch(double a, double b) {
    if (a <= 0 || b <= 0) return false;
    return std::fabs(a - b) <= kRateTolerance * std::fmax(a, b);
}

std::uint8_t garbled(std::uint8_t b, double senderRate, double receiverRate) {
    // The receiver samples the sender's bits at the wrong places: mix the byte with the rate
    // ratio, and never hand back the byte itself.
    const auto ratio = static_cast<unsigned>(std::lround(senderRate * 16.0 / (receiverRate + 1)));
    unsigned v = (b * 0x9Du + ratio * 0x3Bu + 0x5Au) & 0xFFu;
    v ^= (v >> 3);
    if (v == b) v ^= 0x81u;
    return static_cast<std::uint8_t>(v);
}

}  // namespace qmxsim
