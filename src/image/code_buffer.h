// The code buffer: the image that is programmed into the chip, the companion values that
// record which addresses hold file data, and the selected model's memory map as the buffer
// logic uses it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "catalogue/model_catalogue.h"

namespace qmx {

class Ui;
struct SerialNumberSpec;

// The selected model's layout. Replaced from the current ModelEntry at every load, so a change
// of model takes effect with the next file.
struct MemoryMap {
    // The catalogue row (catalogue rows live for the whole run); a blank row before any load.
    const ModelEntry* row = nullptr;

    static MemoryMap fromModel(const ModelEntry& model) { return MemoryMap{&model}; }
    const ModelEntry& model() const;

    // First address that no load may fill.
    long bootLimit() const;
    // Last address of the program area as the loaders use it.
    long loadLimit() const;
};

// The four boxes of the range display: program start (4 digits), load limit (4 digits),
// boot limit (5 digits) and boot end (5 digits), upper-case hexadecimal.
std::array<std::string, 4> rangeDisplayTexts(const MemoryMap& map);

class CodeBuffer {
  public:
    static constexpr std::size_t kSize = 0x10001;  // addresses 0x00000-0x10000
    static constexpr long kLastAddress = 0x10000;

    std::array<std::uint8_t, kSize> bytes{};
    std::uint8_t fillByte = 0x00;  // 0xFF for the fill choice "FF", 0x00 for "00"
    bool imageLoaded = false;      // a loader has completed since the buffer was last filled
    long loadStart = 0;            // first address of the most recent load
    long loadEnd = 1023;           // last address of the most recent load, after clipping
    long viewStart = 0;            // extents of everything loaded since the last fill,
    long viewEnd = 1023;           // widened by the serial number
    MemoryMap map;                 // the map the last load applied

    std::string currentPath;             // the file in use
    std::string startAddressText = "0";  // buffer start address box (hexadecimal)
    bool clearOnLoad = false;            // "Clear Buffer": every load refills the whole buffer
    std::string checksumText;            // the file checksum display of the last load

    // The dump view's scroll bar (rows): its value and maximum.
    long scrollValue = 0;
    long scrollMax = 64;

    // Start-up state: every cell 0x00 (not the fill byte), extents 0-1023, nothing loaded.
    void reset();
};

// Writes `value` into addresses 0x0000-0xFFFF; address 0x10000 keeps its value.
void fillBuffer(CodeBuffer& buffer, std::uint8_t value);

// Merges the last load and (while active) the serial number into the view extents, sets the
// scroll maximum and asks the face to re-render the view.
void refreshExtents(CodeBuffer& buffer, const SerialNumberSpec& serial, Ui& ui);

// Reads a hexadecimal entry box: trimmed, left-padded with zeros, its last `digits` characters,
// read up to the first character that is not a hexadecimal digit (blank reads as 0).
long readHexBox(const std::string& text, int digits);

// Upper-case hexadecimal, zero-padded on the left to at least `width` digits.
std::string hexText(long value, int width = 1);

}  // namespace qmx
