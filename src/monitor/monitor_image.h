// The monitor image: what SoftICE writes into a chip to turn it into a software emulator. Two
// monitor files (the monitor core and the model's own monitor) are placed at fixed addresses
// and glued together with fixed patch code; a long jump at 0000 starts the monitor.
//
// The image is built in a scratch array, never through the user's file loader, so the code
// buffer, its file path, checksum and extents are not touched by building it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qmx {

// The monitor core every monitor image holds.
inline constexpr const char* kMonitorCoreFile = "QMX2000.rom";
// The 64-KB models' monitor file; its patch code differs from the other monitor files'.
inline constexpr const char* kMonitor64kFile = "QMX516_2003.ROM";

// Where the parts of the image sit (inclusive addresses).
inline constexpr long kMonitorCoreAt = 0x2000;    // 384 bytes of the monitor core
inline constexpr int kMonitorCoreBytes = 384;     // 2000-217F
inline constexpr long kPatchAAt = 0x2180;         // 23 lines of patch code, 2180-22EF
inline constexpr long kModelMonitorAt = 0x2300;   // 4096 bytes of the model's monitor
inline constexpr int kModelMonitorBytes = 4096;   // 2300-32FF
inline constexpr long kPatchBAt = 0x3300;         // 6 lines of patch code, 3300-335F
inline constexpr long kMonitorImageEnd = 0x3400;  // FF from 0000 up to here, inclusive
// The two programming passes: the monitor body first, then the reset vector page.
inline constexpr long kMonitorBodyStart = 0x2000;
inline constexpr long kMonitorBodyEnd = 0x33FF;
inline constexpr long kMonitorVectorEnd = 0x007F;

// 65,537 cells, as the code buffer: addresses 0 to 0x10000.
using MonitorImage = std::array<std::uint8_t, 0x10001>;

struct MonitorImageBuild {
    MonitorImage image{};
    // How many bytes each file supplied when it was shorter than its slot (0: long enough).
    // A file longer than its slot is cut at the slot's end; `coreLong` / `modelLong` say so.
    long coreShortBy = 0;
    long modelShortBy = 0;
    bool coreLong = false;
    bool modelLong = false;
};

// Builds the image from the two files' bytes. `modelMonitorName` chooses the patch variant
// (an exact, case-sensitive comparison with kMonitor64kFile). Cells outside 0000-3400 hold 00,
// unfilled cells inside hold FF.
MonitorImageBuild buildMonitorImage(const std::vector<std::uint8_t>& coreFile,
                                    const std::vector<std::uint8_t>& modelFile,
                                    const std::string& modelMonitorName);

// The patch code blocks as bytes (23 × 16 and 6 × 16), by variant.
std::vector<std::uint8_t> monitorPatchA(bool monitor64k);
std::vector<std::uint8_t> monitorPatchB(bool monitor64k);

// --- where the monitor files live ---

// The folders searched for a monitor file, in order: `overrideDir` when not empty, the folder
// of the running program, then the installed data folder.
std::vector<std::string> monitorSearchDirs(const std::string& overrideDir);
// The folder of the running program ("" when it cannot be told).
std::string programDir();
// The installed data folder for monitor files: <prefix>/share/qmx-isp/monitor beside the
// program when it runs from <prefix>/bin, else the one of the configured prefix.
std::string installedMonitorDir();

// The first existing regular file `name` in `dirs` ("" when none).
std::string findMonitorFile(const std::string& name, const std::vector<std::string>& dirs);
// "File not found: QMX2000.rom (looked in /a/QMX2000.rom, /b/QMX2000.rom). / 找不到文件 …".
std::string missingMonitorFileText(const std::string& name, const std::vector<std::string>& dirs);

// Reads a whole file (at most `limit` bytes plus one, so an overlong file is noticed);
// false when it cannot be read.
bool readMonitorFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                     std::size_t limit = 0x10000);

}  // namespace qmx
