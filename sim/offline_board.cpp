#include "offline_board.h"

#include <cstdio>
#include <cstdlib>

namespace qmxsim {

namespace {

constexpr double kBoardRate = 115200;
constexpr std::size_t kMaxFrame = 1100;

std::string hex4(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v & 0xFFFFu);
    return b;
}

}  // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t n) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

bool boardOptionTakesValue(const std::string& arg) {
    return arg == "--board-version" || arg == "--board-capacity";
}

std::string setBoardOption(BoardConfig& board, const std::string& arg, const std::string& value,
                           bool& known) {
    known = true;
    if (arg == "--board-extended") {
        board.extended = true;
        return {};
    }
    char* end = nullptr;
    if (arg == "--board-version") {
        // "16", "1.6" or a raw byte "0x1A".
        std::string t = value;
        long v = -1;
        if (t.rfind("0x", 0) == 0 || t.rfind("0X", 0) == 0) {
            v = std::strtol(t.c_str() + 2, &end, 16);
        } else {
            if (t.size() == 3 && t[1] == '.') t.erase(1, 1);
            if (t.size() == 2) v = std::strtol(t.c_str(), &end, 16);
        }
        if (v < 0 || v > 255 || !end || *end != '\0')
            return "--board-version wants two digits such as 16 or 1.6, or a byte such as 0x1A";
        board.version = static_cast<std::uint8_t>(v);
        return {};
    }
    if (arg == "--board-capacity") {
        const long v = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || !end || *end != '\0' || v < 0 || v > 255)
            return "--board-capacity wants kilobytes from 0 to 255";
        board.capacityK = static_cast<int>(v);
        return {};
    }
    known = false;
    return {};
}

OfflineBoard::OfflineBoard(ChipConfig chip, BoardConfig board)
    : Chip(std::move(chip)), board_(board) {
    flash_.assign(board_.extended ? 2 * kStore : kStore, 0xFF);
}

void OfflineBoard::powerOn() {
    power_ = Power::bootloader;  // the board listens at its fixed rate at once
    uartRate_ = kBoardRate;
    state_ = State::hunt;
    buf_.clear();
    secondPhase_ = false;
}

void OfflineBoard::powerOff() {
    power_ = Power::off;
    uartRate_ = 0;
    state_ = State::hunt;
    buf_.clear();
}

ChipAction OfflineBoard::note(const std::string& text) const {
    ChipAction a;
    a.kind = ChipAction::Kind::note;
    a.note = text;
    return a;
}

ChipAction OfflineBoard::answer(std::vector<std::uint8_t> body, const std::string& text,
                                int workMs) {
    ChipAction a;
    a.kind = ChipAction::Kind::answer;
    a.note = text;
    const std::size_t length = body.size() + 6;
    a.bytes = {0x68, static_cast<std::uint8_t>(length >> 8),
               static_cast<std::uint8_t>(length & 0xFF)};
    a.bytes.insert(a.bytes.end(), body.begin(), body.end());
    const std::uint16_t c = crc16(a.bytes.data(), a.bytes.size());
    a.bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    a.bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    a.bytes.push_back(0x16);
    a.sendRate = uartRate_;
    a.workMs = workMs;
    return a;
}

void OfflineBoard::erase(std::size_t from, std::size_t to) {
    for (std::size_t a = from; a <= to && a < flash_.size(); ++a)
        flash_[a] = 0xFF;
}

std::vector<ChipAction> OfflineBoard::receive(std::uint8_t b, double) {
    if (power_ != Power::bootloader) return {};
    switch (state_) {
        case State::hunt:
            if (b == 0xAA) return {answer({0x80}, "wake-up AA")};
            if (b == 0x46) state_ = State::got46;
            return {};
        case State::got46:
            state_ = b == 0xB9 ? State::gotB9 : (b == 0x46 ? State::got46 : State::hunt);
            return {};
        case State::gotB9:
            if (b == 0x6A) {
                buf_.assign(1, b);
                state_ = State::body;
            } else {
                state_ = b == 0x46 ? State::got46 : State::hunt;
            }
            return {};
        case State::body:
            break;
    }
    buf_.push_back(b);
    if (buf_.size() < 3) return {};
    const std::size_t length = (static_cast<std::size_t>(buf_[1]) << 8) | buf_[2];
    if (length < 9 || length > kMaxFrame) {
        state_ = State::hunt;
        return {note("frame " + hexText(buf_) + ": length " + std::to_string(length) +
                     " is not a board frame (9 for a command, N + 13 for data)")};
    }
    if (buf_.size() < length) return {};
    state_ = State::hunt;
    return frameDone();
}

std::vector<ChipAction> OfflineBoard::frameDone() {
    const std::size_t n = buf_.size();
    if (buf_[n - 1] != 0x16) return {note("frame " + hexText(buf_) + ": end byte is not 16")};
    const std::uint16_t c = crc16(buf_.data(), n - 3);
    if (buf_[n - 3] != (c & 0xFF) || buf_[n - 2] != (c >> 8)) {
        return {note("frame " + hexText(buf_) + ": CRC wrong (expected " +
                     hexText(std::vector<std::uint8_t>{static_cast<std::uint8_t>(c & 0xFF),
                                                       static_cast<std::uint8_t>(c >> 8)}) +
                     ")")};
    }
    if (n == 9) return command(buf_[3], buf_[4], buf_[5]);
    return dataBlock();
}

std::vector<ChipAction> OfflineBoard::command(std::uint8_t code, std::uint8_t family,
                                              std::uint8_t param) {
    std::vector<ChipAction> out;
    if (family != config().model.family) {
        out.push_back(note("command " + hexText(&code, 1) + " names family " +
                           std::to_string(family) + "; the board was set up for family " +
                           std::to_string(config().model.family)));
    }
    switch (code) {
        case 0x80:
            if (param != 0xF3 && param != 0xF1)
                out.push_back(
                    note("sync 80 with parameter " + hexText(&param, 1) + " (F3 or F1 expected)"));
            out.push_back(answer({0x80}, "sync 80 " + hexText(&param, 1)));
            break;
        case 0x0C:
            out.push_back(answer({0x0C, board_.version}, "version"));
            break;
        case 0x0E:
            out.push_back(answer({0x0E, static_cast<std::uint8_t>(board_.extended ? 1 : 0),
                                  static_cast<std::uint8_t>(board_.capacityK)},
                                 "board information"));
            break;
        case 0x84:
            erase(0x2000, kStore - 1);
            secondPhase_ = false;
            out.push_back(answer({0x80}, "erase 2000..FFFF", 50));
            break;
        case 0x86:
            // The second store of an extended board, else the second program part.
            if (board_.extended)
                erase(kStore, 2 * kStore - 1);
            else
                erase(0x2000, 0x3FFF);
            secondPhase_ = true;
            out.push_back(answer({0x80}, "erase the second store", 20));
            break;
        default:
            out.push_back(note("command " + hexText(&code, 1) + " is not a board command"));
            break;
    }
    return out;
}

std::vector<ChipAction> OfflineBoard::dataBlock() {
    const std::size_t length = buf_.size();
    const std::uint8_t cmd = buf_[3];
    const unsigned address = (static_cast<unsigned>(buf_[6]) << 8) | buf_[7];
    const std::size_t n = (static_cast<std::size_t>(buf_[8]) << 8) | buf_[9];
    if ((cmd != 0x00 && cmd != 0x30) || buf_[4] != 0 || buf_[5] != 0 || n + 13 != length ||
        n == 0 || address + n > kStore) {
        return {note("data block " + hexText(buf_.data(), 12) + "...: breaks the block layout")};
    }
    const bool second = secondPhase_ && board_.extended;
    const std::size_t base = second ? kStore : 0;
    for (std::size_t i = 0; i < n; ++i)
        flash_[base + address + i] = buf_[10 + i];
    const std::string where = hex4(address) + ".." + hex4(static_cast<unsigned>(address + n - 1));
    return {answer({0x80}, std::string(cmd == 0x30 ? "block again " : "block ") + where +
                               (second ? " (second store)" : ""))};
}

}  // namespace qmxsim
