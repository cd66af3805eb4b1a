#include "image/serial_number.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>

#include "catalogue/text_util.h"
#include "core/ui.h"
#include "image/code_buffer.h"

namespace qmx {
namespace {

const char* const kAddressTooBig = "自动增量低位地址太大";
const char* const kAddressTooSmall = "自动增量低位地址太小或字节数太长";
const char* const kNotDecimal = " '下一个值' 应输入10进制数";
const char* const kValueTooBig = "下一值必须小于 2147483648。";
const char* const kCountTooSmall = "自动增量字节数太小";
const char* const kBinaryCountTooBig = "选择 16进制时，字节数必须小于或等于 4。";
const char* const kDigitCountTooBig = "字节数必须小于或等于 16。";
const char* const kBadIncrement =
    "The increment must be a whole number from 1 up to the largest number the serial number "
    "can hold. / '增量' 应输入正整数, 且不能超过序列号的范围。";

const std::string kFifteenZeros(15, '0');

void showBox(const std::string& text, Ui& ui) {
    MessageBoxRequest box;
    box.text = text;
    ui.messageBox(box);
}

// The last `count` characters of `text` (all of it when shorter).
std::string lastChars(const std::string& text, long count) {
    if (count <= 0) return {};
    const auto n = static_cast<std::size_t>(count);
    return text.size() <= n ? text : text.substr(text.size() - n);
}

// Reads a decimal box as a number: leading blanks, an optional sign, digits and an optional
// fraction; reading stops at the first other character (an empty box reads 0).
double readDecimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    double value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        value = value * 10 + (text[i++] - '0');
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            value += (text[i] - '0') * scale;
            scale /= 10;
        }
    }
    return negative ? -value : value;
}

// The byte count box: a decimal number rounded to the nearest integer (halves to even).
long readCount(const std::string& text) {
    double v = std::clamp(readDecimal(text), -1e9, 1e9);
    return static_cast<long>(std::nearbyint(v));
}

// Value of a string of decimal digits that is known to have at most 10 significant digits.
std::uint64_t digitValue(const std::string& digits) {
    std::uint64_t v = 0;
    for (char c : digits)
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    return v;
}

std::string stripLeadingZeros(const std::string& digits) {
    std::size_t i = digits.find_first_not_of('0');
    return i == std::string::npos ? std::string() : digits.substr(i);
}

// The largest number `count` cells hold in `format`, capped at the largest next value.
std::uint64_t largestNumber(long count, SerialFormat format) {
    const std::uint64_t cap = 2147483647u;
    const long places = format == SerialFormat::Bcd ? 2 * count : count;
    const std::uint64_t base = format == SerialFormat::Binary ? 256 : 10;
    std::uint64_t room = 1;
    for (long i = 0; i < places && room <= cap; ++i)
        room *= base;
    return std::min(room - 1, cap);
}

}  // namespace

void readSerialTexts(SerialNumberSpec& spec) {
    spec.address = readHexBox(spec.addressText, 5);
    spec.count = readCount(spec.lengthText);
    spec.active = false;
}

void serialParametersEdited(SerialNumberSpec& spec) {
    spec.active = false;
}

bool validateSerialAddress(SerialNumberSpec& spec, const ModelEntry& model, Ui& ui) {
    spec.active = false;
    const long a = readHexBox(spec.addressText, 5);
    const long limit = (model.family == 0 || model.family == 1) ? model.programEnd : model.dataEnd;
    if (a > limit) {
        showBox(kAddressTooBig, ui);
        return false;
    }
    const long n = readCount(spec.lengthText);
    if (n < 1) {
        // A number needs at least one byte.
        showBox(kCountTooSmall, ui);
        return false;
    }
    if (a - n + 1 < 0) {
        showBox(kAddressTooSmall, ui);
        return false;
    }
    spec.address = a;
    spec.count = n;
    spec.active = true;
    return true;
}

bool serialIncrementValid(const std::string& incrementText, long count, SerialFormat format) {
    const std::string t(trimSpace(incrementText));
    if (t.empty() || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const std::string significant = stripLeadingZeros(t);
    if (significant.empty() || significant.size() > 10) return false;
    return digitValue(significant) <= largestNumber(count, format);
}

SerialEncoding encodeSerialNumber(const std::string& nextValueText, long count,
                                  SerialFormat format) {
    SerialEncoding enc;
    const std::string t(trimSpace(nextValueText));
    if (!std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        enc.error = kNotDecimal;
        return enc;
    }
    const std::string significant = stripLeadingZeros(t);
    if (significant.size() > 10 || digitValue(significant) > 2147483647u) {
        enc.error = kValueTooBig;
        return enc;
    }
    const std::uint64_t value = digitValue(significant);

    std::string h;
    if (format == SerialFormat::Binary) {
        if (static_cast<long>(fmt::format("{:X}", value).size()) > 2 * count) {
            enc.error = kCountTooSmall;
            return enc;
        }
        if (count > 4) {
            enc.error = kBinaryCountTooBig;
            return enc;
        }
        h = "00000000" + fmt::format("{:X}", value);
    } else {
        const long digits = format == SerialFormat::Bcd ? 2 * count : count;
        const std::string p = lastChars(kFifteenZeros + t, digits);
        if (value > digitValue(stripLeadingZeros(p))) {
            enc.error = kCountTooSmall;
            return enc;
        }
        enc.nextValueText = p;  // shown zero-padded to its storage width
        if (count > 16) {
            enc.error = kDigitCountTooBig;
            return enc;
        }
        h = p;
        if (format == SerialFormat::Ascii) {
            h.clear();
            for (char c : p)
                h += fmt::format("{:02X}", static_cast<unsigned char>(c));
        }
    }

    // From the least significant byte (at A) upwards: the last two digits of what is left.
    enc.bytes.assign(static_cast<std::size_t>(std::max(count, 0L)), 0);
    for (long k = 0; k < count; ++k) {
        std::string pair = lastChars(h, 2);
        h.resize(h.size() - pair.size());
        enc.bytes[static_cast<std::size_t>(count - 1 - k)] =
            static_cast<std::uint8_t>(pair.empty() ? 0 : std::stoul(pair, nullptr, 16));
    }
    return enc;
}

bool writeSerialNumber(SerialNumberSpec& spec, CodeBuffer& buffer, Ui& ui) {
    SerialEncoding enc = encodeSerialNumber(spec.nextValueText, spec.count, spec.format);
    if (!enc.nextValueText.empty()) spec.nextValueText = enc.nextValueText;
    if (!enc.error.empty()) {
        showBox(enc.error, ui);
        return false;
    }
    const long first = spec.address - spec.count + 1;
    if (first < 0 || spec.address > CodeBuffer::kLastAddress) {
        showBox(kAddressTooSmall, ui);
        return false;
    }
    std::copy(enc.bytes.begin(), enc.bytes.end(),
              buffer.bytes.begin() + static_cast<std::ptrdiff_t>(first));
    return true;
}

bool validateSerialParameters(SerialNumberSpec& spec, const ModelEntry& model, Ui& ui) {
    if (!validateSerialAddress(spec, model, ui)) return false;
    const SerialEncoding enc = encodeSerialNumber(spec.nextValueText, spec.count, spec.format);
    if (!enc.error.empty()) {
        if (!enc.nextValueText.empty()) spec.nextValueText = enc.nextValueText;
        spec.active = false;
        showBox(enc.error, ui);
        return false;
    }
    if (!serialIncrementValid(spec.incrementText, spec.count, spec.format)) {
        spec.active = false;
        showBox(kBadIncrement, ui);
        return false;
    }
    return true;
}

bool placeSerialNumber(SerialNumberSpec& spec, CodeBuffer& buffer, Ui& ui) {
    const bool written = writeSerialNumber(spec, buffer, ui);
    if (!written) spec.active = false;
    refreshExtents(buffer, spec, ui);
    // Show the row holding A as the fourth row of the view.
    buffer.scrollValue =
        std::clamp((spec.address - buffer.viewStart) / 16 - 3, 0L, std::max(0L, buffer.scrollMax));
    ui.bufferChanged();
    return written;
}

void advanceSerialNumber(SerialNumberSpec& spec) {
    if (!spec.active) return;
    const double sum = readDecimal(spec.nextValueText) + readDecimal(spec.incrementText);
    std::string text = (std::nearbyint(sum) == sum && std::fabs(sum) < 1e18)
                           ? std::to_string(static_cast<long long>(sum))
                           : fmt::format("{}", sum);
    long width = 0;
    switch (spec.format) {
        case SerialFormat::Binary:
            width = static_cast<long>(std::floor(spec.count * 241 / 100.0 + 1.5));
            break;
        case SerialFormat::Bcd:
            width = 2 * spec.count;
            break;
        case SerialFormat::Ascii:
            width = spec.count;
            break;
    }
    // Zero-padded to the display width, but never cut: a number that has outgrown its cells
    // must be refused when it is written, not wrap round to a number already used.
    const std::string digits(trimSpace(text));
    spec.nextValueText = static_cast<long>(digits.size()) >= width
                             ? digits
                             : lastChars(kFifteenZeros + digits, width);
}

bool advanceAndWriteSerialNumber(SerialNumberSpec& spec, CodeBuffer& buffer, Ui& ui) {
    advanceSerialNumber(spec);
    const bool written = writeSerialNumber(spec, buffer, ui);
    refreshExtents(buffer, spec, ui);
    return written;
}

}  // namespace qmx
