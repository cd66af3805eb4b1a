#pragma once
// (first draft; the handshake work replaces this)
#include <array>
#include <cstdint>
#include <string>

namespace qmx {

struct ConnectionFacts {
    float clock_hz = 0;
};

}  // namespace qmx
