// Saving a range of the code buffer to a raw binary file (the Store File button).
#pragma once

#include <string>

#include "image/code_buffer.h"

namespace qmx {

class Ui;

struct SaveRange {
    long start = 0;   // the start box: its last four hexadecimal digits
    long length = 0;  // the length box: its last five hexadecimal digits
};

enum class SaveStatus {
    Saved,
    TooSmall,     // length zero or negative: nothing written
    TooBig,       // range beyond 0xFFFF: nothing written
    WriteFailed,  // the file could not be written; an existing file is kept as it was
};

// Reads the two boxes.
SaveRange readSaveRange(const std::string& startText, const std::string& lengthText);

// The refusals that come before the save dialog: shows "File length too small." or
// "File length too big." and returns that status, or Saved when the range can be saved.
SaveStatus checkSaveRange(const SaveRange& range, Ui& ui);

// Writes the cells start ... start + length - 1 to `path` atomically (a temporary file in the
// same folder, flushed, then renamed over the old one). A failure shows its message box and
// leaves any existing file untouched. The range must have passed checkSaveRange.
SaveStatus writeBufferRange(const CodeBuffer& buffer, const SaveRange& range,
                            const std::string& path, Ui& ui);

// checkSaveRange then writeBufferRange, for callers without a dialog in between.
SaveStatus saveBufferRange(const CodeBuffer& buffer, const std::string& startText,
                           const std::string& lengthText, const std::string& path, Ui& ui);

// The length box after each view rebuild: hexadecimal viewEnd + 1.
std::string defaultSaveLengthText(const CodeBuffer& buffer);

}  // namespace qmx
