// The offline download board as the host sees it over the line: silent until powered, woken
// by single AA bytes, then commands and data blocks that end in a CRC-16 instead of a sum.
// It keeps a 64 KB store (and, on an extended board, a second 64 KB store for the second
// phase) which the runner writes as the flash file.
//
// Host to board:  46 B9 6A 00 09 code K P crcL crcH 16          (commands)
//                 46 B9 6A LL LL cmd 00 00 AH AL NH NL data crcL crcH 16   (data, LL = N + 13)
// Board to host:  68 LL LL body crcL crcH 16                     (LL = body + 6)
// The CRC is CRC-16/MODBUS over everything from 6A (or 68) to the last byte before it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chip.h"

namespace qmxsim {

struct BoardConfig {
    std::uint8_t version = 0x16;  // firmware version byte, two digits: 0x16 is 1.6
    int capacityK = 64;           // store for program and data, in KB (0-255)
    bool extended = false;        // takes a second phase of 0xAC00-0xF3FF
};

// CRC-16/MODBUS (reflected polynomial A001, initial FFFF, no final XOR).
std::uint16_t crc16(const std::uint8_t* data, std::size_t n);

// Sets one of the board's command-line options (--board-version, --board-capacity,
// --board-extended); returns the error text, empty when taken. `known` is false for an
// argument that is not a board option.
std::string setBoardOption(BoardConfig& board, const std::string& arg, const std::string& value,
                           bool& known);
// Whether the board option takes a value.
bool boardOptionTakesValue(const std::string& arg);

class OfflineBoard : public Chip {
  public:
    // Bytes of the flash file: the store, then the second store of an extended board.
    static constexpr std::size_t kStore = 0x10000;

    OfflineBoard(ChipConfig chip, BoardConfig board);

    void powerOn() override;
    void powerOff() override;
    std::vector<ChipAction> receive(std::uint8_t b, double hostRate) override;

    const BoardConfig& board() const { return board_; }

  private:
    enum class State { hunt, got46, gotB9, body };
    std::vector<ChipAction> frameDone();
    std::vector<ChipAction> command(std::uint8_t code, std::uint8_t family, std::uint8_t param);
    std::vector<ChipAction> dataBlock();
    ChipAction answer(std::vector<std::uint8_t> body, const std::string& note, int workMs = 0);
    ChipAction note(const std::string& text) const;
    void erase(std::size_t from, std::size_t to);

    BoardConfig board_;
    State state_ = State::hunt;
    Bytes buf_;  // from 6A on
    bool secondPhase_ = false;
};

}  // namespace qmxsim
