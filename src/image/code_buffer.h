#pragma once
// (first draft; the code-buffer work replaces this)
#include <array>
#include <cstdint>
#include <string>

namespace qmx {

struct MemoryMap {
    int family = 0;
    long programStart = 0;
    long programEnd = 0;
    long dataStart = 0;
    long dataEnd = 0;
    long bootStart = 0;
    long bootEnd = 0;
    bool noDataMemory = false;
};

class CodeBuffer {
public:
    static constexpr std::size_t kSize = 0x10001;
    std::array<std::uint8_t, kSize> bytes{};
    std::uint8_t fillByte = 0xFF;
    bool imageLoaded = false;
    long loadStart = 0, loadEnd = 1023, viewStart = 0, viewEnd = 1023;
    MemoryMap map;
};

}  // namespace qmx
