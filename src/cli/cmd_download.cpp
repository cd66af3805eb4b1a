// qmx-isp download: one download as the Download button does it (or a production series as
// Re-Download does), with the download options of the window as command-line options.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>

#include "catalogue/model_catalogue.h"
#include "catalogue/option_set.h"
#include "cli/cli_context.h"
#include "cli/download_support.h"
#include "cli/json_report.h"
#include "image/hex_loader.h"
#include "image/serial_number.h"
#include "link/baud.h"
#include "link/port_list.h"
#include "link/power_switch.h"
#include "ops/download_driver.h"

namespace qmx::cli {

namespace {

struct Args {
    std::string file, model, start = "0", fill, serial;
    std::vector<std::string> ports;
    std::string powerCycle, logFile;
    int powerOffMs = 300;
    std::string userCode, userCodeSettings = "38400,N,8,1";
    long maxBaud = 115200;
    std::vector<std::string> options;
    bool series = false, reload = false, watch = false;
    int delay = 5;
    int count = 0;
    double timeout = 0;
    CLI::Option* countOption = nullptr;  // to tell "--count 0" from no --count
};

// The road choices of a download: series, reload, user code first, file watch.
void addRoadOptions(CLI::App* sub, Args& args) {
    auto* series = sub->add_flag("--series", args.series, "Re-Download: program chip after chip");
    sub->add_option("--delay", args.delay, "Seconds between chips of a series: 2 ... 9 (default 5)")
        ->needs(series);
    args.countOption =
        sub->add_option("--count", args.count, "End a series after N successful chips (N >= 1)")
            ->needs(series);
    sub->add_flag("--reload", args.reload, "Reload the file from disk before every download");
    auto* userCode = sub->add_option(
        "--user-code", args.userCode,
        "First send these bytes (hexadecimal pairs, e.g. \"12 34 AB\") so that a running "
        "application jumps into its boot loader; then download as usual");
    userCode->excludes(series);
    sub->add_option("--user-code-settings", args.userCodeSettings,
                    "Port settings for the user code: baud,parity,data,stop (default "
                    "38400,N,8,1)")
        ->needs(userCode);
    auto* watch = sub->add_flag(
        "--watch", args.watch,
        "Stay running and download again whenever the file changes (Ctrl-C ends; the exit "
        "status is that of the last download)");
    watch->excludes(userCode);
}

// The production choices: hands-free boot entry and the production log.
void addProductionOptions(CLI::App* sub, Args& args) {
    auto* powerCycle = sub->add_option(
        "--power-cycle", args.powerCycle,
        "Switch the target's power off and on before every chip, so no one has to: dtr, rts "
        "(the line on = power on), dtr-inverted, rts-inverted (the line on = power off) or "
        "cmd:COMMAND (run as COMMAND off, then COMMAND on; exit 0 = done)");
    sub->add_option("--power-off-ms", args.powerOffMs,
                    "How long the power stays off: 0 ... 60000 ms (default 300)")
        ->needs(powerCycle);
    sub->add_option("--log-file", args.logFile,
                    "Production log: append one JSON line per chip (time, host, port, model, "
                    "chip identification, firmware, clock, baud, image and checksum, serial "
                    "number, option bytes, result, message, duration)");
}

// The power switch from --power-cycle and --power-off-ms; -1 when valid, else the exit status.
int takePowerCycle(const Args& args, PowerCycle& cycle) {
    if (args.powerOffMs < 0 || args.powerOffMs > 60000) {
        std::fprintf(stderr, "qmx-isp: --power-off-ms must be 0 ... 60000\n");
        return kExitBadInput;
    }
    if (args.powerCycle.empty()) return -1;
    std::string error;
    const auto parsed = parsePowerCycle(args.powerCycle, error);
    if (!parsed) {
        std::fprintf(stderr, "qmx-isp: --power-cycle: %s\n", error.c_str());
        return kExitBadInput;
    }
    cycle = *parsed;
    cycle.offMs = args.powerOffMs;
    return -1;
}

// The device paths of the ports given (or of $QMX_PORT), each named once; -1 when all were
// found, else the exit status.
int resolvePorts(const Args& args, std::vector<std::string>& paths) {
    std::vector<std::string> ports = args.ports;
    if (ports.empty()) {
        const char* env = std::getenv("QMX_PORT");
        if (!env || !*env) {
            std::fprintf(stderr, "qmx-isp: --port is required (or set QMX_PORT)\n");
            return kExitBadInput;
        }
        ports.push_back(env);
    }
    for (const std::string& port : ports) {
        std::string error;
        const std::string path = resolvePort(port, error);
        if (path.empty()) {
            std::fprintf(stderr, "qmx-isp: --port %s: %s\n", port.c_str(), error.c_str());
            return kExitPort;
        }
        if (std::find(paths.begin(), paths.end(), path) != paths.end()) {
            std::fprintf(stderr, "qmx-isp: --port %s names %s twice\n", port.c_str(), path.c_str());
            return kExitBadInput;
        }
        paths.push_back(path);
    }
    if (paths.size() > 1 && (!args.userCode.empty() || args.watch)) {
        std::fprintf(stderr,
                     "qmx-isp: several ports (gang) do not go with --user-code or --watch\n");
        return kExitBadInput;
    }
    return -1;
}

int runDownloadCommand(const Args& args, Context& ctx) {
    const ModelEntry* model = lookupModel(args.model);
    if (!model) return kExitBadInput;
    if (!checkMaxBaud(args.maxBaud)) return kExitBadInput;
    if (args.delay < 2 || args.delay > 9) {
        std::fprintf(stderr, "qmx-isp: --delay must be 2 ... 9 seconds\n");
        return kExitBadInput;
    }
    // A series that is to end after no chip at all is a mistake in the command, not an
    // endless series.
    if (args.count < 0 || (args.countOption && args.countOption->count() > 0 && args.count == 0)) {
        std::fprintf(stderr, "qmx-isp: --count must be at least 1\n");
        return kExitBadInput;
    }
    PowerCycle cycle;
    if (const int code = takePowerCycle(args, cycle); code >= 0) return code;
    std::vector<std::string> paths;
    if (const int code = resolvePorts(args, paths); code >= 0) return code;
    IspCore& core = ctx.core();
    core.chipWaitSeconds = args.timeout;
    DownloadSetup setup;
    setup.file = args.file;
    setup.port = paths.front();
    setup.powerCycle = cycle;
    setup.logFile = args.logFile;
    setup.model = model;
    setup.maxBaud = args.maxBaud;
    setup.startText = args.start;
    setup.fill = args.fill;
    setup.options = args.options;
    setup.serial = args.serial;
    setup.series = args.series;
    setup.delaySeconds = args.delay;
    setup.count = args.count;
    setup.reload = args.reload;
    setup.watch = args.watch;
    setup.settingsPath = ctx.settingsPath;
    setup.assumeYes = ctx.yes;
    if (!args.userCode.empty()) {
        setup.road = DownloadSetup::Road::UserCodeFirst;
        setup.userEntry.userCode = args.userCode;
        setup.userEntry.userCodeSettings = args.userCodeSettings;
    }
    if (paths.size() > 1) return runGang(ctx, setup, paths);
    // --format json: one object per chip, as each one is done, and one for the chip a failed
    // or stopped session ended on.
    ctx.ui.onChipDone = [&core, &ui = ctx.ui] {
        const bool numbered = core.serial.enabled && core.serial.active;
        ui.result(chipJson(core, core.session.chips_done + 1, Outcome::Ok,
                           numbered ? core.serial.nextValueText : std::string()));
    };
    core.session.last_outcome = Outcome::Ok;
    const int code = runDownload(core, ctx.ui, setup);
    ctx.ui.onChipDone = nullptr;
    const Outcome last = core.session.last_outcome;
    if (last == Outcome::Failed || last == Outcome::Stopped || last == Outcome::PortLost)
        ctx.ui.result(chipJson(core, core.session.chips_done + 1, last, std::string()));
    return code;
}

}  // namespace

Runner registerDownload(CLI::App& app, Context& ctx) {
    auto args = std::make_shared<Args>();
    CLI::App* sub = app.add_subcommand(
        "download",
        "Download FILE into the chip as the Download button does (connect, erase, "
        "program and verify, options, run)");
    sub->footer(
        "Verify: the loader cannot read the flash back. Each block is checked as it is written: "
        "the chip answers with the low 8 bits of the sum of the data bytes it received, which "
        "must equal the host's. A single wrong byte is always caught; several wrong bytes whose "
        "errors cancel in that 8-bit sum are not, and a loader that answers without the sum "
        "confirms only that the block arrived. Blocks that failed their check are sent again "
        "and counted in the report.");
    sub->add_option("FILE", args->file, "Intel-HEX or binary image ('-': stdin)")->required();
    sub->add_option("--port", args->ports,
                    "Serial port: a device path, usb:SERIAL (the adapter with that USB serial "
                    "number), usb:VID:PID[:N] (the only, or N-th from 1, adapter with that "
                    "hexadecimal vendor and product id) or auto (the only USB serial port); "
                    "default $QMX_PORT. Give it several times to program on every port at once "
                    "(gang)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    sub->add_option("--model", args->model, "Selected model (M-001 ... M-102)")->required();
    sub->add_option("--max-baud", args->maxBaud,
                    "Highest baud rate to try: 1200 ... 115200 (default 115200)");
    addTimeoutOption(sub, args->timeout);
    sub->add_option("--start", args->start, "Buffer start address for the file (hexadecimal)");
    sub->add_option("--fill", args->fill, "Fill byte of unused cells: FF or 00 (default: saved)");
    sub->add_option("--option", args->options,
                    "Download option NAME=VALUE (repeatable; see 'qmx-isp options --model M')");
    sub->add_option("--serial", args->serial,
                    "Serial-number auto-increment ADDR,COUNT,NEXT,INCREMENT,FORMAT "
                    "(ADDR hexadecimal; FORMAT hex, bcd or ascii)");
    addRoadOptions(sub, *args);
    addProductionOptions(sub, *args);
    return [args, &ctx]() -> int { return runDownloadCommand(*args, ctx); };
}

}  // namespace qmx::cli
