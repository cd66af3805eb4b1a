#include "link/wire_format.h"

#include "link/crc16.h"

namespace qmx::wire {

namespace {

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

unsigned sumOf(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    return sum;
}

}  // namespace

bool isShortCommand(Command c) {
    return c == Command::Continue || c == Command::ShortF1 || c == Command::Stop ||
           c == Command::Short95;
}

Frame frame(std::uint8_t cmd, std::span<const std::uint8_t> payload, Check check) {
    Frame f;
    f.check = check;
    // From the direction byte through the end byte: 6A, L, code, payload, check, 16.
    const std::size_t length = 1 + 2 + 1 + payload.size() + f.checkSize() + 1;
    f.bytes.reserve(kHeadSize + length);
    f.bytes.push_back(kHeadFirst);
    f.bytes.push_back(kHeadSecond);
    f.bytes.push_back(kToChip);
    putBigEndian(f.bytes, static_cast<std::uint32_t>(length), 2);
    f.bytes.push_back(cmd);
    f.bytes.insert(f.bytes.end(), payload.begin(), payload.end());
    const std::span<const std::uint8_t> covered(f.bytes.data() + kHeadSize,
                                                f.bytes.size() - kHeadSize);
    if (check == Check::Crc) {
        const std::uint16_t crc = crc16Modbus(covered.data(), covered.size());
        f.bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        f.bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    } else {
        f.bytes.push_back(static_cast<std::uint8_t>(sumOf(covered) & 0xFF));
    }
    f.bytes.push_back(kEnd);
    return f;
}

std::optional<Frame> shortCommand(Command c) {
    if (!isShortCommand(c)) return std::nullopt;
    return frame(code(c), {});
}

Frame boardCommand(std::uint8_t c, std::uint8_t family, std::uint8_t param, bool crc) {
    const std::uint8_t payload[] = {family, param};
    return frame(c, payload, crc ? Check::Crc : Check::Sum);
}

Frame blockFrame(long address, std::span<const std::uint8_t> data, bool retry) {
    std::vector<std::uint8_t> payload;
    payload.reserve(data.size() + 6);
    putBigEndian(payload, static_cast<std::uint32_t>(address), 4);
    putBigEndian(payload, static_cast<std::uint32_t>(data.size()), 2);
    payload.insert(payload.end(), data.begin(), data.end());
    return frame(retry ? Command::WriteBlockAgain : Command::WriteBlock, payload);
}

Frame boardBlockFrame(bool again, long address, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> payload{0x00, 0x00};
    payload.reserve(data.size() + 6);
    putBigEndian(payload, static_cast<std::uint32_t>(address & 0xFFFF), 2);
    putBigEndian(payload, static_cast<std::uint32_t>(data.size()), 2);
    payload.insert(payload.end(), data.begin(), data.end());
    return frame(again ? Command::WriteBlockAgain : Command::WriteBlock, payload, Check::Crc);
}

std::vector<std::uint8_t> userFrame(std::span<const std::uint8_t> command) {
    // 5A A5, L, the command bytes, the 16-bit sum and 16.
    const std::size_t length = 2 + 2 + command.size() + 2 + 1;
    std::vector<std::uint8_t> f{kUserFirst, kUserSecond};
    f.reserve(length);
    putBigEndian(f, static_cast<std::uint32_t>(length), 2);
    f.insert(f.end(), command.begin(), command.end());
    putBigEndian(f, sumOf(f) & 0xFFFF, 2);
    f.push_back(kEnd);
    return f;
}

std::vector<std::uint8_t> userBlockFrame(long address, std::span<const std::uint8_t> data,
                                         bool retry) {
    std::vector<std::uint8_t> command{retry ? kUserBlockAgain : kUserBlock};
    command.reserve(data.size() + 7);
    putBigEndian(command, static_cast<std::uint32_t>(address), 4);
    putBigEndian(command, static_cast<std::uint32_t>(data.size()), 2);
    command.insert(command.end(), data.begin(), data.end());
    return userFrame(command);
}

std::vector<std::uint8_t> monitorCommand(char letter) {
    std::uint8_t trailer = 0xFE;
    if (letter == 'P') trailer = 0xFA;
    if (letter == 'R') trailer = 0xFC;
    std::vector<std::uint8_t> f(6, 0xFE);
    f.push_back(0xAA);
    f.push_back(static_cast<std::uint8_t>(letter));
    f.push_back(trailer);
    return f;
}

int answerLength(std::span<const std::uint8_t> stored) {
    return stored.size() > 2 ? stored[1] * 256 + stored[2] : 0;
}

int userFrameLength(std::span<const std::uint8_t> stored) {
    return stored.size() > 3 ? stored[2] * 256 + stored[3] : 0;
}

AnswerCheck checkAnswer(std::span<const std::uint8_t> stored, Check check) {
    const int length = answerLength(stored);
    if (length < 1 || static_cast<int>(stored.size()) < length) return AnswerCheck::Incomplete;
    const auto at = [&](int i) { return stored[static_cast<std::size_t>(i)]; };
    if (at(length - 1) != kEnd) return AnswerCheck::BadEnd;
    if (check == Check::Sum) {
        if (length < 2) return AnswerCheck::BadCheck;
        const unsigned sum = sumOf(stored.first(static_cast<std::size_t>(length - 2)));
        return (sum & 0xFF) == at(length - 2) ? AnswerCheck::Good : AnswerCheck::BadCheck;
    }
    if (length < 3) return AnswerCheck::BadCheck;
    const std::uint16_t crc = crc16Modbus(stored.data(), static_cast<std::size_t>(length - 3));
    return at(length - 3) == (crc & 0xFF) && at(length - 2) == (crc >> 8) ? AnswerCheck::Good
                                                                          : AnswerCheck::BadCheck;
}

AnswerCheck checkUserFrame(std::span<const std::uint8_t> stored) {
    const int length = userFrameLength(stored);
    if (length < 4 || static_cast<int>(stored.size()) < length) return AnswerCheck::Incomplete;
    const auto at = [&](int i) { return stored[static_cast<std::size_t>(i)]; };
    if (at(length - 1) != kEnd) return AnswerCheck::BadEnd;
    const unsigned sum = sumOf(stored.first(static_cast<std::size_t>(length - 3)));
    const unsigned got = at(length - 3) * 256u + at(length - 2);
    return (sum & 0xFFFF) == got ? AnswerCheck::Good : AnswerCheck::BadCheck;
}

std::optional<std::uint8_t> answerCode(std::span<const std::uint8_t> answer) {
    if (answer.size() < 4) return std::nullopt;
    return answer[3];
}

}  // namespace qmx::wire
