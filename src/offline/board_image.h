// The offline board's image: the 64 KB store an offline download board keeps, built from a
// prepared copy of the code buffer. It holds the two program parts, the descriptor of the
// model and its options (with its own CRC), the serial-number parameters, the count limit as
// bit counts, a CRC per 128-byte block of the program and the auto-increment markers. The
// user's code buffer is never touched: everything is taken from one prepared copy.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "catalogue/option_set.h"
#include "image/code_buffer.h"
#include "image/serial_number.h"

namespace qmx {

// Board-storage addresses.
namespace board {
inline constexpr long kSecondPartStart = 0x2000;  // chip 0xAC00-0xCBFF
inline constexpr long kSecondPartEnd = 0x3FFF;
inline constexpr long kFirstPartStart = 0x4000;  // chip 0x0000-0xABFF
inline constexpr long kFirstPartEnd = 0xEBFF;
inline constexpr long kSecondChipStart = 0xAC00;
inline constexpr long kSecondChipEnd = 0xCBFF;
inline constexpr long kDescriptor = 0xEC00;
inline constexpr long kDescriptorCrc = 0xECFE;
inline constexpr long kSerialParams = 0xEC80;
inline constexpr long kLimitHigh = 0xED00;
inline constexpr long kSerialMarkA = 0xED40;  // 0xED40-0xED5F
inline constexpr long kLimitLow = 0xEE00;
inline constexpr long kCrcTable = 0xF000;     // 0xF000-0xF3FF
inline constexpr long kSerialMarkB = 0xF400;  // 0xF400-0xF5FF
inline constexpr long kMaxLimit = 1000000;
// The extended second phase: chip 0xAC00-0xF3FF goes to board 0x4000-0x87FF.
inline constexpr long kExtendedChipStart = 0xAC00;
inline constexpr long kExtendedChipEnd = 0xF3FF;
inline constexpr long kExtendedBoardEnd = 0x87FF;
}  // namespace board

using BoardBytes = std::array<std::uint8_t, 0x10001>;
using ChipCopy = std::array<std::uint8_t, CodeBuffer::kSize>;

// Reads the count-limit box: digits only (blanks around allowed), 1 ... 1,000,000. On
// refusal `error` holds the message to show and the value is 0.
struct CountLimit {
    long value = 0;
    std::string error;
};
CountLimit readCountLimit(const std::string& text);

// The serial-number parameters as the board stores them.
struct BoardSerial {
    bool enabled = false;
    long first = 0;     // F = A - N + 1
    int headBytes = 0;  // bytes from F up to the 128-byte boundary B
    long boundary = 0;  // B when the number reaches it, else 0
    int tailBytes = 0;  // bytes from B on
    int increment = 0;  // 0 ... 255
    int format = 0;     // 0 binary, 1 BCD, 2 ASCII
    std::uint32_t next = 0;
};

// Validates the user's serial-number parameters for a board session (address and count
// against the model's map, next value, increment of at most 255, next value + increment x
// limit within 2147483648). Returns the message to show, empty when they pass; fills `out`.
std::string checkBoardSerial(const SerialNumberSpec& spec, const ModelEntry& model, long limit,
                             BoardSerial& out);
// Splits a number at A with N bytes around the next 128-byte boundary above F.
BoardSerial splitSerial(long address, long count);

// Everything the image is built from.
struct BoardImageInput {
    const ModelEntry* model = nullptr;
    OptionSet options;
    BoardSerial serial;
    long limit = 1;
    long programEnd = 0;  // the last chip address the board programs (viewEnd, cut to C - 1)
};

// The code buffer as the board receives it: a copy whose serial-number cells are FF when
// auto-increment is on (the board writes the number itself).
ChipCopy prepareChipCopy(const CodeBuffer& buffer, const BoardSerial& serial);

// Builds the whole image from nothing (every cell cleared first) and the prepared copy.
BoardBytes buildBoardImage(const BoardImageInput& in, const ChipCopy& chip);

// Parts of the build, exposed for the session's progress and for tests.
void writeCountLimit(BoardBytes& image, long limit);
void writeDescriptor(BoardBytes& image, const BoardImageInput& in);
void writeSerialParams(BoardBytes& image, const BoardSerial& serial);
void writeCrcTable(BoardBytes& image, const ChipCopy& chip);
void copyProgramParts(BoardBytes& image, const ChipCopy& chip);

// The capacity message shown when the image does not fit a board of `capacity` bytes.
std::string capacityText(long capacity);

}  // namespace qmx
