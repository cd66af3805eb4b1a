// The Intel-HEX loader, the binary loader over data in memory, and the choice between them.
#include "image/hex_loader.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>

#include "core/ui.h"
#include "image/load_checks.h"

namespace qmx {
namespace {

// The HEX line work area: count, two address bytes, type, up to 256 data bytes, checksum.
constexpr std::size_t kMaxRecordBytes = 261;
// Smallest record: count, address, type and checksum without data.
constexpr std::size_t kMinRecordBytes = 5;

const char* const kReportTitle = "Open HEX file";
const char* const kNoDataText =
    "The file holds no Intel-HEX data record; nothing was loaded.\r\n文件中没有 HEX 数据记录, "
    "没有装入任何数据。";
const char* const kNoEndText =
    "The file has no Intel-HEX end record; it may have been cut short.\r\n文件没有 HEX "
    "结束记录, 文件可能不完整。";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Splits text into lines at CR LF, LF or CR, as a text reader does. A UTF-8 byte-order mark
// that some editors put at the start of a text file is not part of the first line.
template <typename F>
void forEachLine(std::string_view text, F&& f) {
    std::size_t pos = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            if (!f(text.substr(pos))) return;
            return;
        }
        if (!f(text.substr(pos, end - pos))) return;
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
}

// Parses the pairs of hexadecimal digits after the ':'. Trailing blanks are tolerated; an odd
// digit count, a character that is not a hexadecimal digit, or a record shorter than its
// fixed fields or longer than the work area makes the line malformed.
bool parseRecord(std::string_view line, std::array<std::uint8_t, kMaxRecordBytes>& bytes,
                 std::size_t& count) {
    std::string_view body = line.substr(1);
    while (!body.empty() && std::isspace(static_cast<unsigned char>(body.back())))
        body.remove_suffix(1);
    if (body.size() % 2 != 0) return false;
    count = body.size() / 2;
    if (count < kMinRecordBytes || count > kMaxRecordBytes) return false;
    for (std::size_t i = 0; i < count; ++i) {
        int hi = hexDigit(body[2 * i]);
        int lo = hexDigit(body[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return true;
}

void reportBadRecord(std::string_view line, const std::string& title, Ui& ui) {
    MessageBoxRequest box;
    box.text = "Checksum\r\n\r\n" + std::string(line);
    box.title = title;
    ui.messageBox(box);
}

void showReport(const std::string& report, Ui& ui) {
    if (report.empty()) return;
    MessageBoxRequest box;
    box.text = report;
    box.title = kReportTitle;
    ui.messageBox(box);
}

// The common end of every load: the check results and checksum go into the result and the
// buffer, the report box is shown and the buffer counts as loaded.
LoadResult finishLoad(LoadResult result, CodeBuffer& buffer, const LoadCheckOutcome& checks,
                      std::uint32_t sum, Ui& ui) {
    result.checksum = sum;
    result.clipped = checks.clipped;
    result.dataMemory = checks.dataMemory;
    result.report = checks.report;
    buffer.checksumText = checksumDisplay(sum);
    showReport(checks.report, ui);
    buffer.imageLoaded = true;
    return result;
}

// A HEX file that gave no data, or ended without its end record (cut short in a copy or a
// transfer), is not a sound image: say so rather than load it quietly.
void reportIncompleteHex(const LoadResult& result, Ui& ui) {
    if (result.dataRecords == 0)
        showReport(kNoDataText, ui);
    else if (!result.endRecord)
        showReport(kNoEndText, ui);
}

}  // namespace

std::string checksumDisplay(std::uint32_t sum) {
    std::string digits = fmt::format("{:07X}", sum);
    return digits.substr(digits.size() - 7) + "H       ";
}

FileKind detectFileKind(const std::string& path, std::string_view content) {
    // Only the file's own name decides, not the folders above it.
    std::string name =
        path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (name.find(".HEX") != std::string::npos) return FileKind::Hex;

    int lines = 0;
    bool allColon = true;
    forEachLine(content, [&](std::string_view line) {
        ++lines;
        if (line.empty() || line[0] != ':') {
            allColon = false;
            return false;
        }
        return lines < 3;
    });
    return (lines > 0 && allColon) ? FileKind::Hex : FileKind::Binary;
}

LoadResult loadHexText(CodeBuffer& buffer, const ModelEntry& model, std::string_view content,
                       const std::string& title, Ui& ui) {
    LoadResult result;
    result.status = LoadStatus::Loaded;
    result.kind = FileKind::Hex;

    buffer.map = MemoryMap::fromModel(model);
    const long start = readHexBox(buffer.startAddressText, 5);
    const long bootLimit = buffer.map.bootLimit();
    std::uint32_t sum = 0;
    long highest = 0;
    bool beyond = false;
    std::int64_t base = 0;  // from type-02 and type-04 records

    std::array<std::uint8_t, kMaxRecordBytes> b{};
    forEachLine(content, [&](std::string_view line) {
        if (line.empty() || line[0] != ':') return true;
        std::size_t count = 0;
        if (!parseRecord(line, b, count)) {
            // Reported like a bad checksum; its contents cannot be trusted, so it is skipped.
            ++result.badRecords;
            reportBadRecord(line, title, ui);
            return true;
        }
        const std::size_t last = count - 1;
        std::uint8_t lineSum = 0;
        for (std::size_t i = 0; i < last; ++i)
            lineSum = static_cast<std::uint8_t>(lineSum + b[i]);
        if (static_cast<std::uint8_t>(256 - b[last]) != lineSum) {
            ++result.badRecords;
            reportBadRecord(line, title, ui);  // the record is used all the same
        }
        const std::uint8_t type = b[3];
        const std::size_t dataCount = count - 5;
        switch (type) {
            case 0x01:
                result.endRecord = true;
                return false;  // end of file
            case 0x00: {
                result.dataRecords += dataCount > 0 ? 1 : 0;
                const std::int64_t address = base + b[1] * 256 + b[2] + start;
                for (std::size_t i = 0; i < dataCount; ++i) {
                    const std::uint8_t value = b[4 + i];
                    sum += value;
                    const std::int64_t a = address + static_cast<std::int64_t>(i);
                    if (a > 0xFFFF) beyond = true;
                    highest = std::max(highest, static_cast<long>(std::min<std::int64_t>(
                                                    a, CodeBuffer::kLastAddress)));
                    if (a < bootLimit && a <= 0xFFFF)
                        buffer.bytes[static_cast<std::size_t>(a)] = value;
                }
                return true;
            }
            case 0x02:  // extended segment address: base = value * 16
            case 0x04:  // extended linear address: base = value * 65536
                if (dataCount == 2) {
                    const std::int64_t value = b[4] * 256 + b[5];
                    base = type == 0x02 ? value * 16 : value * 65536;
                }
                return true;
            default:  // start addresses (03, 05) and unknown types carry no data
                return true;
        }
    });

    buffer.loadEnd = highest;
    buffer.loadStart = start;
    result = finishLoad(result, buffer, checkHexLoad(buffer, beyond), sum, ui);
    reportIncompleteHex(result, ui);
    return result;
}

LoadResult loadBinaryData(CodeBuffer& buffer, const ModelEntry& model, std::string_view content,
                          Ui& ui) {
    LoadResult result;
    result.status = LoadStatus::Loaded;
    result.kind = FileKind::Binary;

    buffer.map = MemoryMap::fromModel(model);
    const long start = readHexBox(buffer.startAddressText, 5);
    buffer.loadStart = start;
    // Reading stops once the last buffer cell (0x10000) has been written.
    const std::size_t room = start > CodeBuffer::kLastAddress
                                 ? 0
                                 : static_cast<std::size_t>(CodeBuffer::kLastAddress - start + 1);
    const std::size_t n = std::min(content.size(), room);
    // The cell after 0xFFFF holds no flash: a file that reaches it has lost its tail.
    const bool beyond = start + static_cast<long>(content.size()) - 1 > 0xFFFF;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto value = static_cast<std::uint8_t>(content[i]);
        sum += value;
        buffer.bytes[static_cast<std::size_t>(start) + i] = value;
    }
    buffer.loadEnd = (n == room) && room > 0 ? 0xFFFF : start + static_cast<long>(n) - 1;

    return finishLoad(result, buffer, checkBinaryLoad(buffer, beyond), sum, ui);
}

}  // namespace qmx
