// The bytes on the wire: frame markers, command codes, the one builder of host frames and the
// checks of the answers. Every sender of the host (channel, programming steps, offline board,
// user-command loaders, debug monitor) builds its frames here; nothing else spells the markers.
//
// Host frame:   46 B9 | 6A L(2) code payload | check | 16
//   L counts from 6A through the end byte; the check is the low byte of the sum of 6A through
//   the last payload byte, or (offline-board sessions) its CRC-16/MODBUS, low byte first.
// Answer frame: 68 L(2) body check 16, L counting from 68 through the end byte; the 46 B9
//   header, when the chip sends one, is consumed by the receiver and not stored.
// User frame:   5A A5 L(2) command bytes sumH sumL 16, L counting the whole frame and the
//   16-bit sum covering every byte before it (both directions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qmx::wire {

// ---- frame markers ----
inline constexpr std::uint8_t kHeadFirst = 0x46;
inline constexpr std::uint8_t kHeadSecond = 0xB9;
inline constexpr std::uint8_t kToChip = 0x6A;    // direction byte of a host frame
inline constexpr std::uint8_t kFromChip = 0x68;  // direction byte of an answer
inline constexpr std::uint8_t kEnd = 0x16;
inline constexpr std::uint8_t kUserFirst = 0x5A;
inline constexpr std::uint8_t kUserSecond = 0xA5;
inline constexpr std::size_t kHeadSize = 2;

// ---- command codes (host frames) ----
enum class Command : std::uint8_t {
    WriteBlock = 0x00,       // a block of data (boot loader and offline board)
    WriteBlockAgain = 0x30,  // the same block sent again after a failed try
    BoardVersion = 0x0C,     // offline board: firmware version
    BoardInfo = 0x0E,        // offline board: capacity and extended flag
    Status = 0x50,           // status report
    BoardRelay = 0x51,       // offline board: relay the chip's answer ("Q")
    Run = 0x52,              // leave the boot loader and run the user program
    Continue = 0x80,         // short command
    ShortF1 = 0x81,          // short command with the fixed sum F1
    Stop = 0x82,             // short command: end the session
    Erase = 0x84,            // erase the application area (the offline board: its store)
    WatchdogPin = 0x86,      // watchdog pin
    SetOptions = 0x8D,
    SwitchBaud = 0x8E,
    TestBaud = 0x8F,
    Short95 = 0x95,  // short command with the fixed sum 05
    // The offline board's names for codes it shares with the boot loader.
    BoardSync = 0x80,         // synchronisation after the wake-up and before the second phase
    BoardEraseSecond = 0x86,  // erase the second store
};

constexpr std::uint8_t code(Command c) {
    return static_cast<std::uint8_t>(c);
}

// The one-byte commands that may be sent as short commands (no payload).
bool isShortCommand(Command c);

// ---- user-command (in-application loader) codes ----
inline constexpr std::uint8_t kUserConnect = 0xB0;
inline constexpr std::uint8_t kUserFinish = 0xB1;
inline constexpr std::uint8_t kUserErase = 0xB2;
inline constexpr std::uint8_t kUserBlock = 0xB3;
inline constexpr std::uint8_t kUserBlockAgain = 0xB4;
inline constexpr std::uint8_t kUserModel = 0xB5;

// ---- host frames ----

enum class Check { Sum, Crc };

// A host frame as it goes on the wire, with views of its parts for senders that time the
// header, the body and the trailer differently.
struct Frame {
    std::vector<std::uint8_t> bytes;
    Check check = Check::Sum;

    std::size_t checkSize() const { return check == Check::Crc ? 2 : 1; }
    std::span<const std::uint8_t> head() const { return {bytes.data(), kHeadSize}; }
    // 6A through the last payload byte: what the check covers.
    std::span<const std::uint8_t> body() const {
        return {bytes.data() + kHeadSize, bytes.size() - kHeadSize - checkSize() - 1};
    }
    // The check byte(s) followed by the end byte.
    std::span<const std::uint8_t> trailer() const {
        return {bytes.data() + bytes.size() - checkSize() - 1, checkSize() + 1};
    }
};

// The one builder of host frames: 46 B9 6A L code payload check 16.
Frame frame(std::uint8_t cmd, std::span<const std::uint8_t> payload, Check check = Check::Sum);
inline Frame frame(Command cmd, std::span<const std::uint8_t> payload = {},
                   Check check = Check::Sum) {
    return frame(code(cmd), payload, check);
}
inline Frame frame(Command cmd, std::initializer_list<std::uint8_t> payload,
                   Check check = Check::Sum) {
    return frame(code(cmd), std::span<const std::uint8_t>(payload.begin(), payload.size()), check);
}

// A short command (80, 81, 82, 95: no payload); nothing for any other code.
std::optional<Frame> shortCommand(Command c);
// The status request 46 B9 6A 00 06 50 C0 16.
inline Frame statusRequest() {
    return frame(Command::Status);
}
// A board command: code, family K and parameter P, summed or (offline-board session) CRC'd.
Frame boardCommand(std::uint8_t code, std::uint8_t family, std::uint8_t param, bool crc);
// A programming block: WriteBlock (WriteBlockAgain on a retry), 32-bit address, 16-bit count
// and the data.
Frame blockFrame(long address, std::span<const std::uint8_t> data, bool retry);
// An offline-board data block: WriteBlock (again), 00 00, 16-bit address, 16-bit count, the
// data; always CRC'd.
Frame boardBlockFrame(bool again, long address, std::span<const std::uint8_t> data);

// ---- user frames ----

// 5A A5 L command bytes sumH sumL 16.
std::vector<std::uint8_t> userFrame(std::span<const std::uint8_t> command);
inline std::vector<std::uint8_t> userFrame(std::uint8_t code) {
    return userFrame(std::span<const std::uint8_t>(&code, 1));
}
// A block through the in-application loader: B3 (B4 on a retry), 32-bit address, 16-bit
// count, the data.
std::vector<std::uint8_t> userBlockFrame(long address, std::span<const std::uint8_t> data,
                                         bool retry);

// ---- debug-monitor commands ----

// FE FE FE FE FE FE AA letter trailer (FA after "P", FC after "R", FE otherwise).
std::vector<std::uint8_t> monitorCommand(char letter);

// ---- answers ----

enum class AnswerCheck {
    Incomplete,  // not all of the declared length is there yet
    BadEnd,      // the byte at the declared end is not 16
    BadCheck,    // wrong sum or CRC
    Good,
};

// The declared length of an answer (bytes 1 and 2 of a boot-loader answer, 2 and 3 of a
// user frame); 0 while the length bytes have not arrived.
int answerLength(std::span<const std::uint8_t> stored);
int userFrameLength(std::span<const std::uint8_t> stored);
// A boot-loader answer as stored (68 first): complete, well ended, and its 8-bit sum or CRC
// right.
AnswerCheck checkAnswer(std::span<const std::uint8_t> stored, Check check);
// A user frame as stored (5A A5 first).
AnswerCheck checkUserFrame(std::span<const std::uint8_t> stored);
// The status byte of a boot-loader answer (byte 3); nothing when the answer is shorter.
std::optional<std::uint8_t> answerCode(std::span<const std::uint8_t> answer);
// The chip accepted something (status byte 80).
inline constexpr std::uint8_t kAccepted = 0x80;

}  // namespace qmx::wire
