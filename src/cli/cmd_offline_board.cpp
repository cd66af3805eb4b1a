// qmx-isp offline-board: loads an offline download board with the image, the model, its
// options, the serial-number parameters and the count limit, as the download button of the
// offline page does; --dump-image writes the board image instead, without a board.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/cli_context.h"
#include "cli/download_support.h"
#include "offline/offline_board.h"
#include "settings/settings_store.h"

namespace qmx::cli {

namespace {

struct Args {
    std::string file, port, model, limit, start = "0", fill, serial, dumpImage;
    std::vector<std::string> options;
    int capacityK = 64;
    double timeout = 0;
};

// Writes the 65,536 bytes of the image through a temporary file and a rename, so that a full
// disk or an interruption never leaves half an image under the name asked for.
bool writeImage(const std::string& path, const BoardBytes& image, std::string& error) {
    const std::string_view bytes(reinterpret_cast<const char*>(image.data()), 0x10000);
    if (const int err = replaceFileWhole(path, bytes); err != 0) {
        error = "cannot write " + path + ": " + std::strerror(err);
        return false;
    }
    return true;
}

int dumpImage(IspCore& core, const Args& args, const CliUi& ui) {
    BoardBytes image{};
    const std::string error =
        build_board_image_for(core, args.limit, static_cast<long>(args.capacityK) * 1024, image);
    if (!error.empty()) {
        std::printf("%s\n", ui.inLanguage(error).c_str());
        return kExitBadInput;
    }
    std::string writeError;
    if (!writeImage(args.dumpImage, image, writeError)) {
        printError(writeError);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

Runner registerOfflineBoard(CLI::App& app, Context& ctx) {
    auto args = std::make_shared<Args>();
    CLI::App* sub = app.add_subcommand(
        "offline-board",
        "Load an offline download board with FILE, the model, its options, the serial number "
        "and the count limit (the board then programs chips without a computer)");
    sub->add_option("FILE", args->file, "Intel-HEX or binary image")->required();
    auto* port = sub->add_option("--port", args->port, "Serial port of the board");
    sub->add_option("--model", args->model, "Model the board programs (families 2 to 4)")
        ->required();
    sub->add_option("--limit", args->limit, "Chips the board may program: 1 ... 1000000")
        ->required();
    sub->add_option("--start", args->start, "Buffer start address for the file (hexadecimal)");
    sub->add_option("--fill", args->fill, "Fill byte of unused cells: FF or 00 (default: saved)");
    sub->add_option("--option", args->options,
                    "Download option NAME=VALUE (repeatable; see 'qmx-isp options --model M')");
    sub->add_option("--serial", args->serial,
                    "Serial-number auto-increment the board applies ADDR,COUNT,NEXT,INCREMENT,"
                    "FORMAT (ADDR hexadecimal; INCREMENT 0 ... 255; FORMAT hex, bcd or ascii)");
    auto* dump = sub->add_option("--dump-image", args->dumpImage,
                                 "Write the 64 KB board image to OUT instead of loading a board");
    sub->add_option("--capacity", args->capacityK,
                    "With --dump-image: the board's store in KB (default 64)")
        ->needs(dump);
    sub->add_option("--timeout", args->timeout,
                    "Give up when the board has not answered after S seconds (default: wait)");
    port->excludes(dump);

    return [args, &ctx]() -> int {
        const ModelEntry* model = lookupModel(args->model);
        if (!model) return kExitBadInput;
        if (model->family < 2) {
            std::fprintf(stderr, "qmx-isp: the offline board takes models of families 2 to 4\n");
            return kExitBadInput;
        }
        if (args->dumpImage.empty() && args->port.empty()) {
            std::fprintf(stderr, "qmx-isp: --port is required unless --dump-image is given\n");
            return kExitBadInput;
        }
        if (args->capacityK < 1 || args->capacityK > 255 || args->timeout < 0) {
            std::fprintf(stderr, "qmx-isp: --capacity wants 1 ... 255 KB, --timeout seconds\n");
            return kExitBadInput;
        }
        IspCore& core = ctx.core();
        PaneEchoUi echo(ctx.ui);
        core.setUi(&echo);
        DownloadSetup setup;
        setup.file = args->file;
        setup.port = args->port;
        setup.model = model;
        setup.startText = args->start;
        setup.fill = args->fill;
        setup.options = args->options;
        setup.serial = args->serial;
        setup.settingsPath = ctx.settingsPath;
        setup.assumeYes = ctx.yes;
        int code = prepareCore(core, setup);
        if (code < 0) {
            if (!args->dumpImage.empty()) {
                code = dumpImage(core, *args, ctx.ui);
            } else {
                installStopHandler(core);
                const long tries =
                    args->timeout > 0 ? static_cast<long>(args->timeout + 0.999) : 100000;
                code = exitFor(run_offline_board_session(core, args->limit, tries));
            }
        }
        core.setUi(&ctx.ui);
        return code;
    };
}

}  // namespace qmx::cli
