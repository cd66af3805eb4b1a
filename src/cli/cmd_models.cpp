// qmx-isp models: the catalogue, one model a line, with the name a chip of the model reports
// when it identifies itself (that name need not be a row of the list).
#include <algorithm>

#include <fmt/core.h>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"
#include "link/handshake.h"

namespace qmx::cli {

namespace {

// Every name the identification bytes of a chip can give, in first-seen order.
std::vector<std::string> reportableNames() {
    std::vector<std::string> names;
    for (int id1 = 0; id1 < 256; ++id1) {
        for (int id2 = 0; id2 < 256; ++id2) {
            const std::string name =
                identifyModel(static_cast<std::uint8_t>(id1), static_cast<std::uint8_t>(id2));
            if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
        }
    }
    return names;
}

// The names a chip of model `m` may report, joined by "/"; "-" for a chip that reports none
// (its firmware letter alone identifies the family).
std::string reportedNames(const ModelEntry& m, const std::vector<std::string>& reportable) {
    std::string out;
    for (const std::string& name : reportable)
        if (identifiedModelFits(name, m)) out += (out.empty() ? "" : "/") + name;
    return out.empty() ? std::string("-") : out;
}

}  // namespace

Runner registerModels(CLI::App& app, Context& ctx) {
    app.add_subcommand("models",
                       "List the supported models: name, family, idCode, program end, data area, "
                       "boot area, block size, monitor image, and the name a chip of the model "
                       "reports");
    return [] {
        const std::vector<std::string> reportable = reportableNames();
        fmt::print("{:<7} {:>6} {:<6} {:>11} {:<11} {:<11} {:>5} {:<12} {}\n", "#model", "family",
                   "idCode", "programEnd", "data", "boot", "block", "monitor", "reported");
        for (const ModelEntry& m : modelCatalogue()) {
            std::string data = m.noDataMemory || m.dataStart > m.dataEnd
                                   ? std::string("-")
                                   : fmt::format("{:04X}-{:04X}", m.dataStart, m.dataEnd);
            std::string boot = fmt::format("{:04X}-{:04X}", m.bootStart, m.bootEnd);
            std::string monitor = m.monitorCapable ? m.monitorImage : std::string("-");
            fmt::print("{:<7} {:>6} {:<6} {:>11} {:<11} {:<11} {:>5} {:<12} {}\n", m.name, m.family,
                       m.idCode, fmt::format("{:04X}", m.programEnd), data, boot, m.blockSize,
                       monitor, reportedNames(m, reportable));
        }
        return kExitOk;
    };
}

}  // namespace qmx::cli
