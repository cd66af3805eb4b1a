#include "ops/production_setup.h"

#include <algorithm>
#include <memory>

#include "settings/settings_keys.h"

namespace qmx {

std::optional<PowerCycle> powerCycleFromChoice(std::string_view mode, const std::string& command,
                                               int offMs, std::string& error) {
    std::optional<PowerCycle> cycle;
    if (mode == "none") {
        cycle = PowerCycle{};
    } else if (mode == "cmd") {
        if (command.find_first_not_of(" \t") == std::string::npos) {
            error = "the power switch command is empty";
            return std::nullopt;
        }
        cycle = parsePowerCycle("cmd:" + command, error);
    } else {
        cycle = parsePowerCycle(std::string(mode), error);
    }
    if (cycle) cycle->offMs = std::clamp(offMs, 0, kMaxPowerOffMs);
    return cycle;
}

std::string openProductionLog(IspCore& core, const std::string& path) {
    if (core.productionLog && core.productionLog->path() == path) return {};
    core.productionLog.reset();
    auto log = std::make_shared<ProductionLog>();
    if (std::string error = log->open(path); !error.empty()) return error;
    core.productionLog = std::move(log);
    return {};
}

}  // namespace qmx
