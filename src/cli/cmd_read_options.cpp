// qmx-isp read-options: the read-options button (firmware version and option bits, all at
// 1200 baud).
#include <cstdio>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"
#include "cli/json_report.h"
#include "ops/connect.h"

namespace qmx::cli {

Runner registerReadOptions(CLI::App& app, Context& ctx) {
    struct Args {
        std::string port, model;
        double timeout = 0;
    };
    auto args = std::make_shared<Args>();
    CLI::App* sub = app.add_subcommand(
        "read-options", "Read the chip's firmware version and option bits (at 1200 baud)");
    sub->add_option("--port", args->port, "Serial port device path")->required();
    sub->add_option("--model", args->model, "Selected model (M-001 ... M-102)")->required();
    addTimeoutOption(sub, args->timeout);
    return [args, &ctx]() -> int {
        const ModelEntry* model = lookupModel(args->model);
        if (!model) return kExitBadInput;
        IspCore& core = ctx.core();
        core.model = model;
        core.portPath = args->port;
        core.chipWaitSeconds = args->timeout;
        installStopHandler(core);
        const Outcome outcome = read_chip_options(core).outcome;
        ctx.ui.result(connectionJson("read-options", core, outcome));
        return exitFor(outcome);
    };
}

}  // namespace qmx::cli
