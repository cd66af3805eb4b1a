#include "image/code_buffer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "catalogue/text_util.h"
#include "core/ui.h"
#include "image/serial_number.h"

namespace qmx {

const ModelEntry& MemoryMap::model() const {
    static const ModelEntry blank;
    return row ? *row : blank;
}

long MemoryMap::bootLimit() const {
    const ModelEntry& m = model();
    switch (m.family) {
        case 0:
            return m.bootStart;
        case 1:
        case 2:
            return m.bootEnd - m.bootAreaSize + 1;
        case 3:
            return 0x1400;
        case 4:
            return 0x3000;
        default:
            return m.bootStart;
    }
}

long MemoryMap::loadLimit() const {
    const ModelEntry& m = model();
    if ((m.family == 1 || m.family == 2) && m.noDataMemory) return bootLimit() - 1;
    return m.programEnd;
}

std::string hexText(long value, int width) {
    return fmt::format("{:0{}X}", value, width);
}

std::array<std::string, 4> rangeDisplayTexts(const MemoryMap& map) {
    return {hexText(map.model().programStart, 4), hexText(map.loadLimit(), 4),
            hexText(map.bootLimit(), 5), hexText(map.model().bootEnd, 5)};
}

void CodeBuffer::reset() {
    bytes.fill(0x00);
    imageLoaded = false;
    loadStart = viewStart = 0;
    loadEnd = viewEnd = 1023;
    scrollValue = 0;
    scrollMax = 64;
    checksumText.clear();
}

void fillBuffer(CodeBuffer& buffer, std::uint8_t value) {
    std::fill(buffer.bytes.begin(), buffer.bytes.begin() + CodeBuffer::kLastAddress, value);
}

void refreshExtents(CodeBuffer& buffer, const SerialNumberSpec& serial, Ui& ui) {
    buffer.viewStart = std::min(buffer.viewStart, buffer.loadStart);
    buffer.viewEnd = std::max(buffer.viewEnd, buffer.loadEnd);
    if (serial.active) {
        // The number's cells A - N + 1 ... A.
        buffer.viewEnd = std::max(buffer.viewEnd, serial.address);
        buffer.viewStart = std::min(buffer.viewStart, serial.address - serial.count + 1);
    }
    // Truncating division, as the scroll bar's range is computed.
    buffer.scrollMax = (buffer.viewEnd - buffer.viewStart) / 16 - 3;
    buffer.scrollValue = std::clamp(buffer.scrollValue, 0L, std::max(0L, buffer.scrollMax));
    ui.bufferChanged();
}

long readHexBox(const std::string& text, int digits) {
    std::string t(trimSpace(text));
    if (static_cast<int>(t.size()) < digits) t.insert(0, digits - t.size(), '0');
    t = t.substr(t.size() - digits);
    long value = 0;
    for (char c : t) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) break;
        int d = std::isdigit(static_cast<unsigned char>(c))
                    ? c - '0'
                    : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        value = value * 16 + d;
    }
    return value;
}

}  // namespace qmx
