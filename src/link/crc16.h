// CRC-16/MODBUS (reflected polynomial A001, initial FFFF, no final XOR), table driven with
// the two 256-entry tables of the high and low result bytes. Sent low byte first. Used by
// the offline board's frames and board image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmx {

// Table look-ups: the high and low byte of the CRC update for an index.
std::uint8_t GetCRCHi(std::uint8_t index);
std::uint8_t GetCRCLo(std::uint8_t index);

std::uint16_t crc16Modbus(const std::uint8_t* data, std::size_t count);

}  // namespace qmx
