#include "link/crc16.h"

#include <array>

namespace qmx {

namespace {

struct CrcTables {
    std::array<std::uint8_t, 256> hi{};
    std::array<std::uint8_t, 256> lo{};
    CrcTables() {
        for (int i = 0; i < 256; ++i) {
            std::uint16_t c = static_cast<std::uint16_t>(i);
            for (int b = 0; b < 8; ++b)
                c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001) : (c >> 1);
            hi[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(c >> 8);
            lo[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(c & 0xFF);
        }
    }
};

const CrcTables& tables() {
    static const CrcTables t;
    return t;
}

}  // namespace

std::uint8_t GetCRCHi(std::uint8_t index) {
    return tables().hi[index];
}
std::uint8_t GetCRCLo(std::uint8_t index) {
    return tables().lo[index];
}

std::uint16_t crc16Modbus(const std::uint8_t* data, std::size_t count) {
    const CrcTables& t = tables();
    std::uint8_t lo = 0xFF, hi = 0xFF;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t idx = static_cast<std::uint8_t>(lo ^ data[i]);
        lo = static_cast<std::uint8_t>(hi ^ t.lo[idx]);
        hi = t.hi[idx];
    }
    return static_cast<std::uint16_t>((hi << 8) | lo);
}

}  // namespace qmx
