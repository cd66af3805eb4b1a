// Gang programming: several programming stations, one core per port, run the download (or a
// series) at once, one thread each. They share nothing but the success counter and the
// serial-number stream (SharedProduction) and the production log writer.
#pragma once

#include <string>
#include <vector>

#include "core/isp_core.h"
#include "link/op_result.h"
#include "ops/shared_production.h"

namespace qmx {

// Sets a station up as a copy of `from` (a core ready to download: model, option choices,
// image, serial numbering, power switch, production log, download choices, maximum baud
// rate), on its own `port`, with its own settings store on the same file.
void copyStationSetup(const IspCore& from, IspCore& station, const std::string& port);

// Runs the download (index 0) or series (index 1) on every station at once, one thread each,
// and returns when all have ended: each station's result, in order. Stop a station by its
// `session.stop_requested`.
std::vector<OpResult> run_gang(const std::vector<IspCore*>& stations, int index,
                               SharedProduction& shared);

}  // namespace qmx
