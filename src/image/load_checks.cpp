#include "image/load_checks.h"

#include <algorithm>
#include <vector>

namespace qmx {
namespace {

constexpr const char* kCrLf = "\r\n";

const char* const kOverText =
    "    File over the valid scope.\r\n文件超出有效空间, 超出的部分已丢失。";
const char* const kDataTextBinary =
    "   Data Memory contain datas.\r\n     Data Memory 空间有数据。";
const char* const kDataTextHex = " Data Memory contain datas.\r\n  Data Memory 空间有数据。";
const char* const kClosingBinary = "         按确定继续。";
const char* const kClosingHex = "       按确定继续。";
const char* const kClosing = "按确定继续。";

// Clamps a range to the buffer's cells; false when it is empty.
bool clampRange(long& from, long& to) {
    from = std::max(from, 0L);
    to = std::min(to, CodeBuffer::kLastAddress);
    return from <= to;
}

bool anyDiffers(const CodeBuffer& buffer, long from, long to, std::uint8_t fill) {
    if (!clampRange(from, to)) return false;
    return std::any_of(buffer.bytes.begin() + from, buffer.bytes.begin() + to + 1,
                       [fill](std::uint8_t b) { return b != fill; });
}

void setRange(CodeBuffer& buffer, long from, long to, std::uint8_t fill) {
    if (!clampRange(from, to)) return;
    std::fill(buffer.bytes.begin() + from, buffer.bytes.begin() + to + 1, fill);
}

// Length in characters (code points) of UTF-8 text.
std::size_t characterCount(const std::string& text) {
    return std::count_if(text.begin(), text.end(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

// Families 3 and 4: the noted lines, each followed by an empty line, then a line break and the
// closing line indented by half the length of the longest noted line.
std::string composeFamily34(const std::vector<std::string>& lines) {
    if (lines.empty()) return {};
    std::string text;
    std::size_t longest = 0;
    for (const auto& line : lines) {
        text += line;
        text += kCrLf;
        text += kCrLf;
        longest = std::max(longest, characterCount(line));
    }
    text += kCrLf;
    text += std::string((longest + 1) / 2, ' ');
    text += kClosing;
    return text;
}

// Families 0-2: the `over` text, an empty line when both are present, the `data` text, then an
// empty line and the closing line.
std::string composeFamily012(bool over, bool data, const char* dataText, const char* closing) {
    if (!over && !data) return {};
    std::string text;
    if (over) text += kOverText;
    if (over && data) text += "\r\n\r\n";
    if (data) text += dataText;
    text += "\r\n\r\n";
    text += closing;
    return text;
}

// Families 3 and 4, both loaders: clear the invalid zone between program and data memory,
// note content in the data memory, clip what lies beyond the data end.
LoadCheckOutcome checkFamily34(CodeBuffer& buffer, bool hexLoader, bool beyond) {
    const ModelEntry& m = buffer.map.model();
    const std::uint8_t f = buffer.fillByte;
    std::vector<std::string> lines;
    LoadCheckOutcome out;

    if (anyDiffers(buffer, m.programEnd + 1, m.dataStart - 1, f)) {
        lines.push_back("无效区间 " + hexText(m.programEnd + 1) + " -- " +
                        hexText(m.dataStart - 1) + " 中有数据, 这些数据已被清除。");
        out.clipped = true;
    }
    setRange(buffer, m.programEnd + 1, m.dataStart - 1, f);

    bool data =
        hexLoader ? anyDiffers(buffer, m.dataStart, m.dataEnd, f) : buffer.loadEnd > m.dataStart;
    if (data) {
        lines.emplace_back("Data Memory 空间有数据。");
        out.dataMemory = true;
    }

    if (buffer.loadEnd > m.dataEnd || beyond) {
        lines.emplace_back("文件超出最大有效空间, 超出的部分已被清除。");
        buffer.loadEnd = std::min(buffer.loadEnd, m.dataEnd);
        out.clipped = true;
    }
    out.report = composeFamily34(lines);
    return out;
}

}  // namespace

LoadCheckOutcome checkHexLoad(CodeBuffer& buffer, bool beyond) {
    const ModelEntry& m = buffer.map.model();
    if (m.family == 3 || m.family == 4) return checkFamily34(buffer, true, beyond);

    const std::uint8_t f = buffer.fillByte;
    const long bootLimit = buffer.map.bootLimit();
    const long loadLimit = buffer.map.loadLimit();
    bool over = false, data = false;

    if (buffer.loadEnd >= bootLimit) {
        over = true;
        buffer.loadEnd = bootLimit - 1;
    }
    if (!m.noDataMemory) {
        if (m.family == 2) {
            if (buffer.loadEnd > loadLimit) data = true;
        } else if (buffer.loadEnd > loadLimit) {
            buffer.loadEnd = loadLimit;
            over = true;
        }
    }

    if (m.family == 2 && m.dataAt32K) {
        over = anyDiffers(buffer, loadLimit + 1, 0x7FFF, f);
        data = anyDiffers(buffer, 0x8000, bootLimit - 1, f);
        setRange(buffer, loadLimit + 1, 0x7FFF, f);
    } else if (m.family == 2) {
        if (!data) data = anyDiffers(buffer, loadLimit + 1, bootLimit - 1, f);
    } else {
        if (!over) over = anyDiffers(buffer, loadLimit + 1, bootLimit - 1, f);
        // Whatever lies between the program area and the boot area is not part of the image.
        setRange(buffer, loadLimit + 1, bootLimit - 1, f);
    }
    // Bytes beyond 0xFFFF were never stored: always report them.
    if (beyond) over = true;

    LoadCheckOutcome out;
    out.clipped = over;
    out.dataMemory = data;
    out.report = composeFamily012(over, data, kDataTextHex, kClosingHex);
    return out;
}

LoadCheckOutcome checkBinaryLoad(CodeBuffer& buffer, bool beyond) {
    const ModelEntry& m = buffer.map.model();
    if (m.family == 3 || m.family == 4) return checkFamily34(buffer, false, beyond);

    const std::uint8_t f = buffer.fillByte;
    const long bootLimit = buffer.map.bootLimit();
    const long loadLimit = buffer.map.loadLimit();
    bool over = false, data = false;

    if (m.noDataMemory) {
        if (buffer.loadEnd > loadLimit) {
            over = true;
            buffer.loadEnd = loadLimit;
        }
    } else if (m.family == 2) {
        if (buffer.loadEnd > loadLimit) data = true;
        if (buffer.loadEnd >= bootLimit) {
            over = true;
            buffer.loadEnd = bootLimit - 1;
        }
    } else {
        if (buffer.loadEnd > loadLimit) {
            over = true;
            buffer.loadEnd = loadLimit;
        }
        setRange(buffer, loadLimit + 1, m.bootStart - 1, f);
    }

    if (m.dataAt32K) {
        const long s = buffer.loadStart, e = buffer.loadEnd;
        over = (loadLimit < s && s < 0x8000) || (loadLimit < e && e < 0x8000) ||
               (s <= loadLimit && e > 0x7FFF);
        data = s > 0x7FFF || e > 0x7FFF;
        setRange(buffer, loadLimit + 1, 0x7FFF, f);
    }
    // Bytes beyond 0xFFFF were never stored (on a 64 KB model the program area reaches
    // 0xFFFF, so nothing above would otherwise notice them): always report them.
    if (beyond) over = true;

    LoadCheckOutcome out;
    out.clipped = over;
    out.dataMemory = data;
    out.report = composeFamily012(over, data, kDataTextBinary, kClosingBinary);
    return out;
}

}  // namespace qmx
