// What both faces set up for production before a download: the power switch that brings each
// chip into its boot loader without a person, and the production log that gets one line per
// chip. The command line takes them from its options, the window from its settings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/isp_core.h"
#include "link/power_switch.h"

namespace qmx {

// The power switch of a stored choice: a mode of kPowerCycleModes ("none", "dtr", ...,
// "cmd"), the command that "cmd" runs with "off"/"on", and the time the power stays off.
// nullopt with `error` set for "cmd" without a command or a mode nobody knows.
std::optional<PowerCycle> powerCycleFromChoice(std::string_view mode, const std::string& command,
                                               int offMs, std::string& error);

// Gives the core its production log on `path`, opened for appending. A log the core already
// holds for the same file (the one writer the stations of a gang share) is kept. An empty
// string on success; else why the file cannot be written, and the core holds no log.
std::string openProductionLog(IspCore& core, const std::string& path);

}  // namespace qmx
