#include "cli/cli_context.h"

namespace qmx::cli {

// Not written yet.
Runner registerModels(CLI::App& app, Context& ctx) {
    return [] { return kExitFailed; };
}

}  // namespace qmx::cli
