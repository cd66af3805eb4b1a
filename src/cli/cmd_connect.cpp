// qmx-isp connect: the connect step of a download alone (handshake, baud switch, model check,
// clock and baud lines), then the Stop command. Checks a link and a chip without touching its
// flash.
#include <cstdio>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"
#include "cli/json_report.h"
#include "link/baud.h"
#include "link/handshake.h"
#include "ops/connect.h"

namespace qmx::cli {

Runner registerConnect(CLI::App& app, Context& ctx) {
    struct Args {
        std::string port, model;
        long maxBaud = 115200;
        double timeout = 0;
    };
    auto args = std::make_shared<Args>();
    CLI::App* sub = app.add_subcommand(
        "connect",
        "Connect to the chip as a download would (handshake, baud switch, model check), "
        "print the clock and the baud rate, then stop");
    sub->add_option("--port", args->port, "Serial port device path")->required();
    sub->add_option("--model", args->model, "Selected model (M-001 ... M-102)")->required();
    sub->add_option("--max-baud", args->maxBaud,
                    "Highest baud rate to try: 1200 ... 115200 (default 115200)");
    addTimeoutOption(sub, args->timeout);
    return [args, &ctx]() -> int {
        const ModelEntry* model = lookupModel(args->model);
        if (!model) return kExitBadInput;
        if (!checkMaxBaud(args->maxBaud)) return kExitBadInput;
        IspCore& core = ctx.core();
        core.model = model;
        core.portPath = args->port;
        core.maxBaud = args->maxBaud;
        core.chipWaitSeconds = args->timeout;
        installStopHandler(core);
        core.session.stop_requested = core.session.stop_for_good.load();
        const OpResult result = connect_chip(core, false);
        ctx.ui.result(connectionJson("connect", core, result.outcome));
        stop_command(core);
        return exitFor(result);
    };
}

}  // namespace qmx::cli
