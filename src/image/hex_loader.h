// Loading files into the code buffer: Intel-HEX (16-bit) and raw binary images, the checks
// against the selected model's memory map, the report box and the file checksum display.
//
// Message boxes go through Ui::messageBox; an empty title means the application's default
// title.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/model_catalogue.h"
#include "image/code_buffer.h"

namespace qmx {

class Ui;
struct SerialNumberSpec;

enum class FileKind { Hex, Binary };

enum class LoadStatus {
    Loaded,           // a loader ran (possibly with reported problems)
    NoFile,           // the current path is empty: nothing done
    StartOutOfRange,  // buffer start address beyond the data end: refused, buffer unchanged
    Unreadable,       // the file could not be opened or read: refused, buffer unchanged
};

struct LoadResult {
    LoadStatus status = LoadStatus::NoFile;
    FileKind kind = FileKind::Hex;
    int badRecords = 0;       // HEX lines reported with the "Checksum" box
    int dataRecords = 0;      // HEX data records that carried data
    bool endRecord = false;   // the HEX end record was reached
    bool clipped = false;     // content outside the valid areas was dropped or cleared
    bool dataMemory = false;  // the image has content in the data memory
    std::string report;       // the text of the "Open HEX file" box, empty when none was shown
    std::uint32_t checksum = 0;

    bool loaded() const { return status == LoadStatus::Loaded; }
    // A HEX load that found no data or no end record.
    bool incompleteHex() const {
        return loaded() && kind == FileKind::Hex && (dataRecords == 0 || !endRecord);
    }
    // Loaded, but with something the user has to accept before it is programmed or saved
    // unattended: a bad record, an incomplete HEX file, or content that did not fit.
    bool needsConsent() const { return badRecords > 0 || incompleteHex() || clipped; }
};

// The checksum display: the sum as upper-case hexadecimal cut to its last 7 digits, "H" and
// seven spaces ("0001A2BH       ").
std::string checksumDisplay(std::uint32_t sum);

// Which loader a file goes to: a file name containing ".HEX" (any case) is HEX; otherwise
// HEX when the first three lines all begin with ":" (or every line of a shorter file does),
// binary as soon as one does not, and for an empty file.
FileKind detectFileKind(const std::string& path, std::string_view content);

// The entry point through which a file reaches the buffer (the Open File button, the reload
// before a download, the file watch): checks the start address and the readability of
// buffer.currentPath, fills or merges the buffer, runs the loader, switches auto-increment
// off and refreshes the extents.
LoadResult loadSelectedFile(CodeBuffer& buffer, const ModelEntry& model, SerialNumberSpec& serial,
                            Ui& ui);

// The loaders on their own, reading buffer.currentPath at the buffer start address. They do not
// fill the buffer first; they set loadStart/loadEnd, map, checksumText and imageLoaded.
// (The monitor download reads its images with loadBinaryFile.)
LoadResult loadHexFile(CodeBuffer& buffer, const ModelEntry& model, Ui& ui);
LoadResult loadBinaryFile(CodeBuffer& buffer, const ModelEntry& model, Ui& ui);

// The same loaders over file contents already in memory; `title` names the file in the
// "Checksum" box. Used by the file loaders, tests and the fuzz target.
LoadResult loadHexText(CodeBuffer& buffer, const ModelEntry& model, std::string_view content,
                       const std::string& title, Ui& ui);
LoadResult loadBinaryData(CodeBuffer& buffer, const ModelEntry& model, std::string_view content,
                          Ui& ui);

// Makes `storedPath` (the "FilePath" setting) the current path when that file exists;
// otherwise shows "Can not find the file./找不到文件" and keeps the current path.
bool reselectLastFile(CodeBuffer& buffer, const std::string& storedPath, Ui& ui);

// Reads a whole file; on failure returns false with the message to show in `error`.
bool readWholeFile(const std::string& path, std::string& content, std::string& error);

}  // namespace qmx
