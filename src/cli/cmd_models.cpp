// qmx-isp models: the catalogue, one model a line.
#include <fmt/core.h>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"

namespace qmx::cli {

Runner registerModels(CLI::App& app, Context& ctx) {
    app.add_subcommand("models",
                       "List the supported models: name, family, idCode, program end, data area, "
                       "boot area, block size, monitor image");
    return [] {
        fmt::print("{:<7} {:>6} {:<6} {:>11} {:<11} {:<11} {:>5} {}\n", "#model", "family",
                   "idCode", "programEnd", "data", "boot", "block", "monitor");
        for (const ModelEntry& m : modelCatalogue()) {
            std::string data = m.noDataMemory || m.dataStart > m.dataEnd
                                   ? std::string("-")
                                   : fmt::format("{:04X}-{:04X}", m.dataStart, m.dataEnd);
            std::string boot = fmt::format("{:04X}-{:04X}", m.bootStart, m.bootEnd);
            std::string monitor = m.monitorCapable ? m.monitorImage : std::string("-");
            fmt::print("{:<7} {:>6} {:<6} {:>11} {:<11} {:<11} {:>5} {}\n", m.name, m.family,
                       m.idCode, fmt::format("{:04X}", m.programEnd), data, boot, m.blockSize,
                       monitor);
        }
        return kExitOk;
    };
}

}  // namespace qmx::cli
