// Erase, program and verify: the application flash of a connected chip is erased with one
// command, then the image goes out block by block; every block is verified by the data sum
// the chip answers with, so a run whose blocks all matched is a verified run.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ops/chip_link.h"

namespace qmx {

class IspCore;

// ---- pure rules ----

// Numeric value of a version text as the chip reports it ("3.6" → 3.6; no number → 0).
double versionValue(const std::string& text);
// int(value × 10 + 0.5): "2.4" → 24.
int versionTimesTen(const std::string& text);

// Boot-loader size for a version index (value × 10): 1024 for 19–24 and 26, 2048 otherwise.
int bootAreaForVersionIndex(int v);

// Erase page count (pages of 512 bytes) of a model, with the boot area B.
int erasePageCount(const std::string& modelName, int bootArea);
// The page-count byte actually sent: firmware 2.8 or later with suffix "C" erases at least up
// to the image's last page.
std::uint8_t eraseCountByte(const std::string& modelName, int bootArea,
                            const std::string& firmwareVersion, const std::string& firmwareSuffix,
                            long viewEnd);

// An inclusive address range to program.
struct AddressRange {
    long start = 0;
    long end = 0;
    bool operator==(const AddressRange&) const = default;
};

// The ranges programmed for a family: one range for families 0–2; for families 3 and 4 the
// program area to its end and, when the image reaches it (or the chip clears it), the data
// area. S < 0 counts as 0. An empty result means nothing is written (which is a success).
std::vector<AddressRange> rangesForFamily(int family, long viewStart, long viewEnd, long programEnd,
                                          long dataStart, long dataEnd, std::uint8_t extOption2);

// One frame of a chunked block: start address and byte count.
struct FramePlan {
    long address = 0;
    int count = 0;
    bool operator==(const FramePlan&) const = default;
};
// Frames of up to 128 bytes for the block start … end; an unaligned first frame overlaps the
// next one, which starts at the following multiple of 128.
std::vector<FramePlan> splitIntoFrames(long start, long end);

// A block answer accepts when its code (byte 3) is 80 and either its length is 6 or byte 4
// equals the low 8 bits of the data sum.
bool blockAnswerAccepts(std::span<const std::uint8_t> answer, std::uint8_t dataSum);

// Block-answer time-out in ms from the chip's clock and the port's baud rate.
int answerTimeoutMs(double clockHz, long baud);

// Firmware-size limit: the highest address a family-2 (or M-081) chip with this boot area may
// take; -1 when no limit applies.
long firmwareSizeLimit(long dataEnd, int bootArea);

// "####.000" followed by "K": 1 KB → "1.000K", half a kilobyte → ".500K".
std::string kbyteLabelText(long bytes);
// Wall-clock "hh:mm:ss".
std::string clockText(std::chrono::system_clock::time_point t);
inline std::string clockNow() {
    return clockText(std::chrono::system_clock::now());
}

// ---- operations (on the core, through a link) ----

// How a step that did not succeed ended: the port lost, a Stop, or a plain failure (in that
// order, as the user is told).
OpResult step_failure(const IspCore& core, const ChipLink& link);

// Connect (the connect step), then erase the application area. Succeeds when the chip is
// connected and erased or needs no erase.
OpResult connect_and_erase(IspCore& core, ChipLink& link);
// The erase command with its retries; the outcome is link.frameReady() and the stop flag.
void erase_application(IspCore& core, ChipLink& link);
// Program the image (session.program_ok tells the same for the window's state).
OpResult program_image(IspCore& core, ChipLink& link);
// The same over the core's own channel (the program button `comWrite`).
OpResult program_image(IspCore& core);
// Program one address range block by block: true when the chip confirmed every block.
bool program_range(IspCore& core, ChipLink& link, bool chunked, long start, long end);
// One block, split into 128-byte frames when chunked; true when every frame was confirmed.
bool send_block_frames(IspCore& core, ChipLink& link, bool chunked, long start, long end,
                       bool retry, bool fast);
// One frame and its answer (boot-loader framing); true when the chip confirmed it.
bool send_block(IspCore& core, ChipLink& link, long address, int count, bool retry, bool fast);
// Block-answer time-out for the current clock and port.
int set_answer_timeout(const IspCore& core, const ChipLink& link);
// boot_area_size from firmware_version.
void boot_area_from_version(IspCore& core);

}  // namespace qmx
