// qmx-isp options: the option choices of a model's family and the bytes the defaults give.
#include <fmt/core.h>

#include "catalogue/model_catalogue.h"
#include "catalogue/option_set.h"
#include "cli/cli_context.h"

namespace qmx::cli {

Runner registerOptions(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand(
        "options", "List the option choices of a model's family and the bytes the defaults give");
    auto model = std::make_shared<std::string>();
    cmd->add_option("--model", *model, "Model name, e.g. M-070")->required();
    return [model] {
        const ModelEntry* entry = lookupModel(*model);
        if (!entry) return kExitBadInput;
        fmt::print("model {} family {}\n", entry->name, entry->family);
        const auto& options = familyOptions(entry->family);
        if (options.empty()) fmt::print("(this family has no download options)\n");
        for (const OptionDescriptor& o : options) {
            fmt::print("{}: {}\n", o.name, o.label);
            for (size_t i = 0; i < o.choices.size(); ++i) {
                std::string_view value = i < o.values.size() ? o.values[i] : o.choices[i];
                fmt::print("  {}{} = {}\n", static_cast<int>(i) == o.defaultIndex ? "*" : " ",
                           value, o.choices[i]);
            }
        }
        OptionChoices choices;
        resetOptionPage(choices, entry->family);
        OptionSet set = buildOptionSet(choices, *entry);
        std::string bytes;
        for (auto b : set.bytes)
            bytes += fmt::format("{}{:02X}", bytes.empty() ? "" : " ", b);
        fmt::print("option bytes (defaults): {}\n", bytes.empty() ? "-" : bytes);
        if (!set.pinConflict.empty()) fmt::print("{}\n", set.pinConflict);
        return kExitOk;
    };
}

}  // namespace qmx::cli
