// qmx-isp read-options: the read-options button (firmware version and option bits, all at
// 1200 baud).
#include <cstdio>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"
#include "ops/connect.h"

namespace qmx::cli {

Runner registerReadOptions(CLI::App& app, Context& ctx) {
    struct Args {
        std::string port, model;
    };
    auto args = std::make_shared<Args>();
    CLI::App* sub = app.add_subcommand(
        "read-options", "Read the chip's firmware version and option bits (at 1200 baud)");
    sub->add_option("--port", args->port, "Serial port device path")->required();
    sub->add_option("--model", args->model, "Selected model (M-001 ... M-102)")->required();
    return [args, &ctx]() -> int {
        const ModelEntry* model = findModel(args->model);
        if (!model) {
            std::fprintf(stderr, "qmx-isp: unknown model '%s' (see 'qmx-isp models')\n",
                         args->model.c_str());
            return kExitBadInput;
        }
        IspCore& core = ctx.core();
        core.model = model;
        core.portPath = args->port;
        installStopHandler(core);
        switch (comReadChipLock_Click(core)) {
            case SessionOutcome::Ok:
                return kExitOk;
            case SessionOutcome::Stopped:
                return kExitStopped;
            case SessionOutcome::PortError:
                return kExitPort;
            default:
                return kExitFailed;
        }
    };
}

}  // namespace qmx::cli
