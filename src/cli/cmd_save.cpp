// qmx-isp save: load a file, then write a range of the buffer as the Store File button does.
#include <fmt/core.h>

#include "cli/image_args.h"
#include "cli/stdio_file.h"
#include "image/buffer_save.h"

namespace qmx::cli {

Runner registerSave(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("save", "Load FILE, then save a range of the buffer to OUT");
    auto args = std::make_shared<ImageArgs>();
    auto out = std::make_shared<std::string>();
    auto from = std::make_shared<std::string>();
    auto length = std::make_shared<std::string>();
    args->files.resize(1);
    cmd->add_option("FILE", args->files[0], "Intel-HEX or binary file to load ('-': stdin)")
        ->required();
    cmd->add_option("OUT", *out, "Binary file to write ('-': stdout)")->required();
    cmd->add_option("--from", *from, "First address to save (hexadecimal)")->required();
    cmd->add_option("--length", *length, "Number of bytes to save (hexadecimal)")->required();
    addImageOptions(cmd, *args, false);
    return [&ctx, args, out, from, length] {
        // The Store File boxes hold four (start) and five (length) digits.
        long value = 0;
        if (!parseHexInRange("--from", *from, 0, 0xFFFF, value) ||
            !parseHexInRange("--length", *length, 0, 0x10000, value))
            return kExitBadInput;
        if (int rc = prepareBuffer(ctx, *args); rc != kExitOk) return rc;
        LoadResult result;
        if (loadOneFile(ctx, args->files[0], result) != kExitOk) return kExitBadInput;
        // What `image` refuses is not saved unattended either.
        if (refuseUnsoundLoad(args->files[0], result) != kExitOk) {
            if (!ctx.yes) {
                printError(*out + " not saved (use --yes to save it anyway)");
                return kExitBadInput;
            }
        }
        IspCore& core = ctx.core();
        // "-" as OUT: the range goes to standard output, through a file the save writes.
        std::string target = *out;
        std::string error;
        if (isStdio(*out)) target = stdoutSpoolFile(error);
        if (target.empty()) {
            fmt::print(stderr, "qmx-isp: {}\n", error);
            return kExitFailed;
        }
        switch (saveBufferRange(core.buffer, *from, *length, target, core.ui())) {
            case SaveStatus::Saved:
                if (isStdio(*out) && !copyToStdout(target, error)) {
                    fmt::print(stderr, "qmx-isp: {}\n", error);
                    return kExitFailed;
                }
                return kExitOk;
            case SaveStatus::TooSmall:
            case SaveStatus::TooBig:
                return kExitBadInput;
            case SaveStatus::WriteFailed:
                return kExitFailed;
        }
        return kExitFailed;
    };
}

}  // namespace qmx::cli
