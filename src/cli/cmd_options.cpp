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
    return [model, &ctx] {
        const ModelEntry* entry = lookupModel(*model);
        if (!entry) return kExitBadInput;
        // The names are what --option takes; the captions and choices are shown as the
        // option page has them, in the language of --lang.
        auto shown = [&ctx](std::string_view text) { return ctx.ui.inLanguage(std::string(text)); };
        fmt::print("{}\n", shown(fmt::format("model {} family {}", entry->name, entry->family)));
        const auto& options = familyOptions(entry->family);
        if (options.empty()) fmt::print("{}\n", shown("(this family has no download options)"));
        for (const OptionDescriptor& o : options) {
            fmt::print("{}: {}\n", o.name, shown(o.label));
            for (size_t i = 0; i < o.choices.size(); ++i) {
                std::string_view value = i < o.values.size() ? o.values[i] : o.choices[i];
                fmt::print("  {}{} = {}\n", static_cast<int>(i) == o.defaultIndex ? "*" : " ",
                           value, shown(o.choices[i]));
            }
        }
        OptionChoices choices;
        resetOptionPage(choices, entry->family);
        OptionSet set = buildOptionSet(choices, *entry);
        std::string bytes;
        for (auto b : set.bytes)
            bytes += fmt::format("{}{:02X}", bytes.empty() ? "" : " ", b);
        fmt::print("{}\n", shown("option bytes (defaults): " + (bytes.empty() ? "-" : bytes)));
        if (!set.pinConflict.empty()) fmt::print("{}\n", shown(set.pinConflict));
        return kExitOk;
    };
}

}  // namespace qmx::cli
