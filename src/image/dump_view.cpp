#include "image/dump_view.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/ui.h"
#include "image/serial_number.h"

namespace qmx {
namespace {

// A page never spans more than this many bytes past its first address.
constexpr long kPageSpan = 989;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isHex(char c) {
    return hexValue(c) >= 0;
}

long lineStart(const std::string& text, long position) {
    if (position <= 0) return 0;
    std::size_t nl = text.find_last_of('\n', static_cast<std::size_t>(position - 1));
    return nl == std::string::npos ? 0 : static_cast<long>(nl) + 1;
}

}  // namespace

std::string formatDumpRow(const CodeBuffer& buffer, long rowAddress, long last) {
    std::string row = fmt::format(" {:06X}   ", rowAddress);
    const long end = std::min({rowAddress + 15, last, CodeBuffer::kLastAddress});
    for (long a = std::max(rowAddress, 0L); a <= end; ++a)
        row += fmt::format("{:02X} ", buffer.bytes[static_cast<std::size_t>(a)]);
    return row;
}

std::vector<std::string> dumpRows(const CodeBuffer& buffer) {
    std::vector<std::string> rows;
    const long last = std::min(buffer.viewEnd, CodeBuffer::kLastAddress);
    for (long a = std::max(buffer.viewStart, 0L) / 16 * 16; a <= last; a += 16)
        rows.push_back(formatDumpRow(buffer, a, last));
    return rows;
}

long pageFirstAddress(const CodeBuffer& buffer, long scrollValue) {
    long first = (buffer.viewStart / 16 + scrollValue) * 16;
    if (first < buffer.viewStart) first = buffer.viewStart / 16 * 16;
    return first;
}

DumpPage buildDumpPage(const CodeBuffer& buffer, int rows, const SerialNumberSpec& serial) {
    DumpPage page;
    page.text = "\r\n\r\n";
    page.first = pageFirstAddress(buffer, buffer.scrollValue);
    const long last = std::min({page.first + kPageSpan, buffer.viewEnd, CodeBuffer::kLastAddress});
    const long stop = std::min(page.first + static_cast<long>(std::max(rows, 0)) * 16 - 1, last);
    // The serial number's first (most significant) byte.
    const long serialFirst = serial.address - serial.count + 1;

    for (long a = page.first; a <= stop; a += 16) {
        std::string row = fmt::format(" {:06X}   ", a);
        const long end = std::min(a + 15, stop);
        for (long cell = a; cell <= end; ++cell) {
            if (cell == serialFirst && serial.count > 0) {
                page.selectionStart = static_cast<long>(page.text.size() + row.size());
            }
            row += fmt::format("{:02X} ", buffer.bytes[static_cast<std::size_t>(cell)]);
        }
        page.text += row;
        page.text += "\r\n";
        page.last = end;
    }

    if (page.selectionStart >= 0 && serial.enabled) {
        // Three characters per byte less the last space, plus the line end and the next row's
        // address field for every row end the number runs across.
        const long crossings = (serialFirst % 16 + serial.count - 1) / 16;
        const long length = 3 * serial.count - 1 + 12 * crossings;
        page.selectionLength =
            std::min(length, static_cast<long>(page.text.size()) - page.selectionStart);
    }
    return page;
}

int dumpRowsForHeight(double height) {
    return static_cast<int>(std::lround(height / 194.0));
}

DumpCell cellAtPosition(const std::string& pageText, long position) {
    DumpCell cell;
    if (position < 0 || position >= static_cast<long>(pageText.size())) return cell;
    const long start = lineStart(pageText, position);
    const long offset = position - start - kRowPrefixLength;
    if (offset < 0 || offset % 3 == 2 || offset / 3 > 15) return cell;
    // The row must have its address field.
    if (start + kRowPrefixLength > static_cast<long>(pageText.size()) || pageText[start] != ' ')
        return cell;
    long address = 0;
    for (long i = 1; i <= 6; ++i) {
        int v = hexValue(pageText[static_cast<std::size_t>(start + i)]);
        if (v < 0) return cell;
        address = address * 16 + v;
    }
    const long group = start + kRowPrefixLength + offset / 3 * 3;
    if (group + 1 >= static_cast<long>(pageText.size()) ||
        !isHex(pageText[static_cast<std::size_t>(group)]) ||
        !isHex(pageText[static_cast<std::size_t>(group + 1)]))
        return cell;
    cell.valid = true;
    cell.address = address + offset / 3;
    cell.digit = static_cast<int>(offset % 3);
    cell.rowStart = start;
    return cell;
}

long snapToDigit(const std::string& pageText, long position) {
    const long size = static_cast<long>(pageText.size());
    position = std::clamp(position, 0L, std::max(size - 1, 0L));
    for (long p = position; p < size; ++p)
        if (cellAtPosition(pageText, p).valid) return p;
    for (long p = position; p >= 0; --p)
        if (cellAtPosition(pageText, p).valid) return p;
    return -1;
}

long nextDigitPosition(const std::string& pageText, long position) {
    for (long p = position + 1; p < static_cast<long>(pageText.size()); ++p)
        if (cellAtPosition(pageText, p).valid) return p;
    return position;
}

DumpEditor::Result DumpEditor::typeKey(std::string& pageText, long selectionStart,
                                       long selectionLength, char key, CodeBuffer& buffer, Ui& ui,
                                       Clock::time_point now) {
    Result result;
    if (!isHex(key) || selectionLength != 1) return result;
    const DumpCell cell = cellAtPosition(pageText, selectionStart);
    if (!cell.valid || cell.address > CodeBuffer::kLastAddress) return result;

    if (confirmed_ && now - lastEdit_ >= kConfirmationHold) confirmed_ = false;
    if (!confirmed_) {
        MessageBoxRequest ask;
        ask.text = "Update the buffer? / 修改缓冲区内容吗?";
        ask.buttons = BoxButtons::YesNo;
        ask.defaultAnswer = BoxAnswer::No;
        ask.icon = BoxIcon::Question;
        if (ui.messageBox(ask) != BoxAnswer::Yes) {
            result.outcome = Outcome::Declined;
            return result;
        }
        if (!buffer.imageLoaded) {
            MessageBoxRequest notice;
            notice.text = "    Please open file./请打开文件。    ";
            ui.messageBox(notice);
            result.outcome = Outcome::NoImage;
            return result;
        }
        confirmed_ = true;
    }

    pageText[static_cast<std::size_t>(selectionStart)] =
        static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
    const auto group = static_cast<std::size_t>(selectionStart - cell.digit);
    const auto value =
        static_cast<std::uint8_t>(hexValue(pageText[group]) * 16 + hexValue(pageText[group + 1]));
    buffer.bytes[static_cast<std::size_t>(cell.address)] = value;
    lastEdit_ = now;

    result.outcome = Outcome::Stored;
    result.address = cell.address;
    result.value = value;
    result.nextSelection = nextDigitPosition(pageText, selectionStart);
    return result;
}

}  // namespace qmx
