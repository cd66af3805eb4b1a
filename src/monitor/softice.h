// SoftICE: writes the monitor image into a monitor-capable chip and starts it, so that the
// chip reports its registers and memory over the debug port. The user is asked twice, since
// the monitor replaces the chip's download boot code.
//
// The image is built beside the user's code buffer: after the command the buffer, its file,
// checksum and extents are exactly as before, so a later Download never programs a monitor
// fragment by mistake.
#pragma once

#include <string>

#include "core/session_state.h"

namespace qmx {

class IspCore;
class ChipLink;

// The monitor files are looked for in `monitorDir` (when not empty), beside the program, then
// in the installed data folder.
Outcome downloadSoftIce(IspCore& core, ChipLink& link, const std::string& monitorDir);
Outcome downloadSoftIce(IspCore& core, const std::string& monitorDir);

}  // namespace qmx
