// qmx-isp isp-demo: programming through the loader inside the user's own application (5A A5
// frames), optionally after the user code that opens it, as the ISP DEMO page does.
#include <cstdio>
#include <memory>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"
#include "cli/download_support.h"
#include "link/serial_port.h"
#include "ops/user_command.h"

namespace qmx::cli {

namespace {

struct Args {
    std::string file, port, model, start = "0", fill, serial;
    std::string userCode, userCodeSettings = "38400,E,8,1", demoSettings = "38400,E,8,1";
    bool series = false;
    int delay = 5;
    int count = 0;
    double timeout = 0;
};

bool validSettings(const std::string& option, const std::string& text) {
    if (PortSettings::parse(text)) return true;
    std::fprintf(stderr, "qmx-isp: %s wants baud,parity,data,stop such as 38400,E,8,1\n",
                 option.c_str());
    return false;
}

}  // namespace

Runner registerIspDemo(CLI::App& app, Context& ctx) {
    auto args = std::make_shared<Args>();
    CLI::App* sub = app.add_subcommand(
        "isp-demo",
        "Program FILE through the loader inside the user's own application (5A A5 frames), as "
        "the ISP DEMO page does; family 2 models only");
    sub->add_option("FILE", args->file, "Intel-HEX or binary image")->required();
    sub->add_option("--port", args->port, "Serial port device path")->required();
    sub->add_option("--model", args->model, "Selected model (family 2)")->required();
    sub->add_option("--demo-settings", args->demoSettings,
                    "Port settings of the application's loader: baud,parity,data,stop (default "
                    "38400,E,8,1)");
    auto* userCode =
        sub->add_option("--user-code", args->userCode,
                        "First send these bytes (hexadecimal pairs, e.g. \"12 34 AB\") to open the "
                        "application's loader");
    sub->add_option("--user-code-settings", args->userCodeSettings,
                    "Port settings for the user code (default 38400,E,8,1)")
        ->needs(userCode);
    sub->add_option("--start", args->start, "Buffer start address for the file (hexadecimal)");
    sub->add_option("--fill", args->fill, "Fill byte of unused cells: FF or 00 (default: saved)");
    sub->add_option("--serial", args->serial,
                    "Serial-number auto-increment ADDR,COUNT,NEXT,INCREMENT,FORMAT "
                    "(ADDR hexadecimal; FORMAT hex, bcd or ascii)");
    auto* series = sub->add_flag("--series", args->series, "Program chip after chip");
    sub->add_option("--delay", args->delay,
                    "Seconds between chips of a series: 2 ... 9 (default 5)")
        ->needs(series);
    sub->add_option("--count", args->count, "End a series after N chips")->needs(series);
    addTimeoutOption(sub, args->timeout);

    return [args, &ctx]() -> int {
        const ModelEntry* model = lookupModel(args->model);
        if (!model) return kExitBadInput;
        if (model->family != 2) {
            std::fprintf(stderr,
                         "qmx-isp: the ISP demo is offered for family 2 models only; %s "
                         "is family %d\n",
                         model->name.c_str(), model->family);
            return kExitBadInput;
        }
        if (args->delay < 2 || args->delay > 9) {
            std::fprintf(stderr, "qmx-isp: --delay must be 2 ... 9 seconds\n");
            return kExitBadInput;
        }
        if (args->count < 0) {
            std::fprintf(stderr, "qmx-isp: --count must not be negative\n");
            return kExitBadInput;
        }
        if (!validSettings("--demo-settings", args->demoSettings) ||
            !validSettings("--user-code-settings", args->userCodeSettings))
            return kExitBadInput;
        std::string bad;
        if (!args->userCode.empty() && !parse_user_code(args->userCode, &bad)) {
            std::fprintf(stderr, "qmx-isp: --user-code: \"%s\" is not a hexadecimal byte\n",
                         bad.c_str());
            return kExitBadInput;
        }

        DownloadSetup setup;
        setup.file = args->file;
        setup.port = args->port;
        setup.model = model;
        setup.startText = args->start;
        setup.fill = args->fill;
        setup.serial = args->serial;
        setup.series = args->series;
        setup.delaySeconds = args->delay;
        setup.count = args->count;
        setup.settingsPath = ctx.settingsPath;
        setup.assumeYes = ctx.yes;
        setup.road = DownloadSetup::Road::IspDemo;
        setup.userEntry.demoSendUserCode = !args->userCode.empty();
        setup.userEntry.demoUserCode = args->userCode;
        setup.userEntry.demoUserCodeSettings = args->userCodeSettings;
        setup.userEntry.demoSettings = args->demoSettings;
        ctx.core().chipWaitSeconds = args->timeout;
        return runDownload(ctx.core(), ctx.ui, setup);
    };
}

}  // namespace qmx::cli
