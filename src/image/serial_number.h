// Serial-number auto-increment: a value is written into the code buffer at a fixed address
// before each download and advanced by a fixed increment after every successful chip, so that
// consecutive chips carry consecutive numbers. Keeping the values in the settings store is the
// business of the operations (ops/serial_number_store.h); this unit only touches the buffer.
//
// The number occupies the N cells A - N + 1 ... A; its most significant byte is at the lowest
// address, the least significant byte at A.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/model_catalogue.h"

namespace qmx {

class CodeBuffer;
class Ui;

enum class SerialFormat { Binary = 0, Bcd = 1, Ascii = 2 };

struct SerialNumberSpec {
    bool enabled = false;  // the check box "启用自动增量" is ticked
    bool active = false;   // validated and placed in the buffer (`serialActive`)

    // The four boxes, kept as the user typed them.
    std::string addressText = "FFFF";    // hexadecimal address A of the lowest-order byte
    std::string lengthText = "8";        // decimal byte count N
    std::string nextValueText = "0000";  // decimal next value V
    std::string incrementText = "1";     // decimal increment
    SerialFormat format = SerialFormat::Bcd;

    // A and N as the last successful validation read them.
    long address = 0xFFFF;
    long count = 8;
};

// The four boxes were filled from stored texts: A and N are read from them as the last
// validation would, and the number is not applied yet.
void readSerialTexts(SerialNumberSpec& spec);

// The user changed one of the four boxes or the format: the number is no longer applied.
void serialParametersEdited(SerialNumberSpec& spec);

// Checks A and N against the model's map; on success sets spec.address, spec.count and
// spec.active. Failures raise their message box and leave `active` false.
bool validateSerialAddress(SerialNumberSpec& spec, const ModelEntry& model, Ui& ui);

// The bytes of the number for cells A - N + 1 ... A (most significant first), and the text
// box 2 takes (zero-padded to its storage width for BCD and ASCII). On refusal `error` holds
// the message and the bytes are empty.
struct SerialEncoding {
    std::vector<std::uint8_t> bytes;
    std::string nextValueText;
    std::string error;
};
SerialEncoding encodeSerialNumber(const std::string& nextValueText, long count,
                                  SerialFormat format);

// The increment box holds a whole number from 1 up to the largest number `count` cells hold
// in `format` (and no more than the largest next value).
bool serialIncrementValid(const std::string& incrementText, long count, SerialFormat format);

// Writes the number into the buffer at the validated address. A refusal raises its message
// box and writes nothing (`active` keeps its value). Returns true when written.
bool writeSerialNumber(SerialNumberSpec& spec, CodeBuffer& buffer, Ui& ui);

// Every parameter checked before anything is saved or written: A and N against the model's
// map, the next value against the format and N, the increment. A refusal raises its message
// box and leaves `active` false.
bool validateSerialParameters(SerialNumberSpec& spec, const ModelEntry& model, Ui& ui);

// After a successful validation: write the number, refresh the extents and scroll the view so
// that the row holding A is the fourth row shown. Returns true when the number is in the
// buffer (otherwise `active` is cleared).
bool placeSerialNumber(SerialNumberSpec& spec, CodeBuffer& buffer, Ui& ui);

// Box 2 = box 2 + box 3, zero-padded to the display width of the format (a longer number is
// kept whole, so that writing it is refused). Only while active.
void advanceSerialNumber(SerialNumberSpec& spec);

// After a chip that verified and was counted: advance, write the new number and refresh the
// extents. Returns false when the new number could not be written (its message was shown).
bool advanceAndWriteSerialNumber(SerialNumberSpec& spec, CodeBuffer& buffer, Ui& ui);

}  // namespace qmx
