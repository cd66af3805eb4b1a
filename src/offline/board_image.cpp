#include "offline/board_image.h"

#include <algorithm>
#include <cctype>

#include <fmt/core.h>

#include "catalogue/text_util.h"
#include "core/ui.h"
#include "link/crc16.h"

namespace qmx {

namespace {

constexpr const char* kLimitTooSmall = "脱机下载板下载数量上限应大于 0。";
constexpr const char* kLimitTooBig = "脱机下载板下载数量上限应小于、等于 1000000。";
constexpr const char* kLimitNotNumber =
    "The count limit must be a whole number from 1 to 1000000. / "
    "脱机下载板下载数限量应为 1 到 1000000 的整数。";
constexpr const char* kIncrementTooBig =
    "The offline board keeps the increment in one byte: it must be a whole number from 0 to "
    "255. / 脱机下载板的增量必须是 0 到 255 的整数。";
constexpr const char* kSerialTooBig =
    "自动增量下一值 + (增量*脱机下载板下载数限量) 太大( >2147483648 ), \r\n"
    "请减小自动增量下一值, 或减小增量, 或减小脱机下载板下载数限量";

bool allDigits(std::string_view t) {
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The first message box a check raises, instead of showing it.
class BoxCatcher : public Ui {
  public:
    std::string text;
    BoxAnswer messageBox(const MessageBoxRequest& box) override {
        if (text.empty()) text = box.text;
        return box.defaultAnswer;
    }
};

void put24(BoardBytes& image, long at, long value) {
    image[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>((value >> 16) & 0xFF);
    image[static_cast<std::size_t>(at + 1)] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    image[static_cast<std::size_t>(at + 2)] = static_cast<std::uint8_t>(value & 0xFF);
}

// `bits` set bits from `at` on: whole bytes of FF, then one byte with the low bits set.
void writeBitCount(BoardBytes& image, long at, long bits) {
    for (long i = 0; i < bits / 8; ++i)
        image[static_cast<std::size_t>(at + i)] = 0xFF;
    if (bits % 8 != 0)
        image[static_cast<std::size_t>(at + bits / 8)] =
            static_cast<std::uint8_t>((1u << (bits % 8)) - 1);
}

// Two hexadecimal digits of the identification text from `pos`; -1 when there are none.
int idByte(const std::string& idCode, std::size_t pos) {
    if (idCode.size() < pos + 2) return -1;
    const std::string two = idCode.substr(pos, 2);
    if (!std::isxdigit(static_cast<unsigned char>(two[0])) ||
        !std::isxdigit(static_cast<unsigned char>(two[1])))
        return -1;
    return static_cast<int>(std::stoi(two, nullptr, 16));
}

}  // namespace

CountLimit readCountLimit(const std::string& text) {
    CountLimit r;
    std::string_view t = trimBlanks(text);
    if (!t.empty() && t.front() == '-' && allDigits(t.substr(1))) {
        r.error = kLimitTooSmall;
        return r;
    }
    if (!allDigits(t)) {
        r.error = kLimitNotNumber;
        return r;
    }
    t.remove_prefix(std::min(t.find_first_not_of('0'), t.size()));
    if (t.size() > 7 || (t.empty() ? 0 : std::stol(std::string(t))) > board::kMaxLimit) {
        r.error = kLimitTooBig;
        return r;
    }
    const long v = t.empty() ? 0 : std::stol(std::string(t));
    if (v <= 0) {
        r.error = kLimitTooSmall;
        return r;
    }
    r.value = v;
    return r;
}

BoardSerial splitSerial(long address, long count) {
    BoardSerial s;
    s.first = address - count + 1;
    const long b = (s.first / 128 + 1) * 128;
    if (address < b) {
        s.headBytes = static_cast<int>(count);
    } else {
        s.headBytes = static_cast<int>(count - (address - b + 1));
        s.boundary = b;
        s.tailBytes = static_cast<int>(address - b + 1);
    }
    return s;
}

std::string checkBoardSerial(const SerialNumberSpec& spec, const ModelEntry& model, long limit,
                             BoardSerial& out) {
    out = BoardSerial{};
    if (!spec.enabled) return {};
    BoxCatcher boxes;
    SerialNumberSpec probe = spec;  // validation marks the spec; the user's stays as it is
    if (!validateSerialAddress(probe, model, boxes)) return boxes.text;
    const SerialEncoding enc = encodeSerialNumber(spec.nextValueText, probe.count, spec.format);
    if (!enc.error.empty()) return enc.error;
    const std::string_view inc = trimBlanks(spec.incrementText);
    if (!allDigits(inc) || inc.size() > 3 || std::stol(std::string(inc)) > 255)
        return kIncrementTooBig;
    const std::string_view next = trimBlanks(spec.nextValueText);
    const long long v = next.empty() ? 0 : std::stoll(std::string(next));
    const long increment = std::stol(std::string(inc));
    if (v + static_cast<long long>(increment) * limit > 2147483648LL) return kSerialTooBig;
    out = splitSerial(probe.address, probe.count);
    out.enabled = true;
    out.increment = static_cast<int>(increment);
    out.format = static_cast<int>(spec.format);
    out.next = static_cast<std::uint32_t>(v);
    return {};
}

ChipCopy prepareChipCopy(const CodeBuffer& buffer, const BoardSerial& serial) {
    ChipCopy copy = buffer.bytes;
    if (serial.enabled) {
        const long last = serial.first + serial.headBytes + serial.tailBytes - 1;
        for (long a = std::max(0L, serial.first); a <= last && a < CodeBuffer::kLastAddress; ++a)
            copy[static_cast<std::size_t>(a)] = 0xFF;
    }
    return copy;
}

void writeCountLimit(BoardBytes& image, long limit) {
    writeBitCount(image, board::kLimitHigh, limit / 2048);
    writeBitCount(image, board::kLimitLow, limit % 2048);
}

void writeDescriptor(BoardBytes& image, const BoardImageInput& in) {
    const ModelEntry& model = *in.model;
    const auto at = [&](long offset) -> std::uint8_t& {
        return image[static_cast<std::size_t>(board::kDescriptor + offset)];
    };
    const std::string name = model.name.substr(0, 31);
    for (std::size_t i = 0; i < name.size(); ++i)
        at(static_cast<long>(i)) = static_cast<std::uint8_t>(name[i]);
    if (const int id1 = idByte(model.idCode, 0); id1 >= 0)
        at(0x20) = static_cast<std::uint8_t>(id1);
    if (const int id2 = idByte(model.idCode, 2); id2 >= 0)
        at(0x21) = static_cast<std::uint8_t>(id2);
    for (long i = 0x30; i < 0x40; ++i)
        at(i) = 0xFF;
    if (model.family == 2) {
        at(0x31) = in.options.optionByte();
    } else if (model.family == 3 || model.family == 4) {
        for (std::size_t i = 0; i < 5 && i < in.options.bytes.size(); ++i)
            at(0x30 + static_cast<long>(i)) = in.options.bytes[i];
    }
    const long boardEnd = std::min(in.programEnd + board::kFirstPartStart, board::kFirstPartEnd);
    put24(image, board::kDescriptor + 0x40, board::kFirstPartStart);
    put24(image, board::kDescriptor + 0x43, boardEnd);
    put24(image, board::kDescriptor + 0x46, 0);
    put24(image, board::kDescriptor + 0x49, boardEnd - board::kFirstPartStart);
    put24(image, board::kDescriptor + 0x4F, model.idCode.rfind("F0", 0) == 0 ? 0x7BFF : 0xEBFF);
    put24(image, board::kDescriptor + 0x58, board::kSecondPartStart);
    put24(image, board::kDescriptor + 0x5B, board::kSecondPartEnd);
    put24(image, board::kDescriptor + 0x5E, board::kSecondChipStart);
    put24(image, board::kDescriptor + 0x61, board::kSecondChipEnd);
    put24(image, board::kDescriptor + 0x70, in.programEnd);
    at(0x78) = 0xF3;
    const std::uint16_t crc = crc16Modbus(&image[board::kDescriptor], 128);
    image[board::kDescriptorCrc] = static_cast<std::uint8_t>(crc & 0xFF);
    image[board::kDescriptorCrc + 1] = static_cast<std::uint8_t>(crc >> 8);
}

void writeSerialParams(BoardBytes& image, const BoardSerial& s) {
    const auto at = [&](long a) -> std::uint8_t& { return image[static_cast<std::size_t>(a)]; };
    at(0xEC80) = s.enabled ? 1 : 0;
    if (!s.enabled) return;  // the board ignores the rest; unvalidated values are not sent
    put24(image, 0xEC81, s.first);
    at(0xEC84) = static_cast<std::uint8_t>(s.headBytes);
    put24(image, 0xEC85, s.boundary);
    at(0xEC88) = static_cast<std::uint8_t>(s.tailBytes);
    at(0xEC89) = static_cast<std::uint8_t>(s.increment);
    at(0xEC8A) = static_cast<std::uint8_t>(s.format);
    for (int i = 0; i < 4; ++i)
        at(0xEC90 + i) = static_cast<std::uint8_t>((s.next >> (24 - 8 * i)) & 0xFF);
    std::fill(&at(board::kSerialMarkA), &at(board::kSerialMarkA + 0x20), 0xFF);
    std::fill(&at(board::kSerialMarkB), &at(board::kSerialMarkB + 0x200), 0xFF);
}

void writeCrcTable(BoardBytes& image, const ChipCopy& chip) {
    for (std::size_t block = 0; block < 512; ++block) {
        const std::uint16_t crc = crc16Modbus(chip.data() + block * 128, 128);
        image[board::kCrcTable + 2 * block] = static_cast<std::uint8_t>(crc & 0xFF);
        image[board::kCrcTable + 2 * block + 1] = static_cast<std::uint8_t>(crc >> 8);
    }
}

void copyProgramParts(BoardBytes& image, const ChipCopy& chip) {
    std::copy(chip.begin(), chip.begin() + (board::kSecondChipStart),
              image.begin() + board::kFirstPartStart);
    std::copy(chip.begin() + board::kSecondChipStart, chip.begin() + board::kSecondChipEnd + 1,
              image.begin() + board::kSecondPartStart);
}

BoardBytes buildBoardImage(const BoardImageInput& in, const ChipCopy& chip) {
    BoardBytes image{};  // the whole image is cleared: nothing of an earlier session survives
    writeCountLimit(image, in.limit);
    writeSerialParams(image, in.serial);
    writeDescriptor(image, in);
    writeCrcTable(image, chip);
    copyProgramParts(image, chip);
    return image;
}

std::string capacityText(long capacity) {
    return fmt::format(
        "此脱机烧录器最多下载{}K 程序和数据, 超出部分将不下载。\r\n\r\n                      "
        "按确定继续",
        capacity / 1024);
}

}  // namespace qmx
