// The checks a load ends with: what lies outside the model's valid areas is cleared or
// clipped, and the findings are composed into the one report box of the load.
#pragma once

#include <string>

#include "image/code_buffer.h"

namespace qmx {

struct LoadCheckOutcome {
    std::string report;  // the text of the "Open HEX file" box; empty when nothing was noted
    bool clipped = false;
    bool dataMemory = false;
};

// After the HEX loader. `beyond` is set when some data byte lay beyond 0xFFFF (pushed there by
// an extended address or the buffer start address); those bytes always count as outside the
// valid scope.
LoadCheckOutcome checkHexLoad(CodeBuffer& buffer, bool beyond);

// After the binary loader. `beyond` is set when the file ran past 0xFFFF (those bytes were
// dropped), which always counts as outside the valid scope.
LoadCheckOutcome checkBinaryLoad(CodeBuffer& buffer, bool beyond);

}  // namespace qmx
