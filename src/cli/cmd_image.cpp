// qmx-isp image: load files into the code buffer as the Open File button does and show the
// result: the load reports, the checksum display, the extents and, with --dump, the view.
#include <fmt/core.h>

#include "cli/image_args.h"
#include "cli/json_report.h"
#include "image/dump_view.h"

namespace qmx::cli {

namespace {
// Upper-case hexadecimal, at least four digits; an empty load (nothing read, so its end lies
// before its start) keeps its sign instead of printing as a wrapped-around number.
std::string hex4(long value) {
    return value < 0 ? fmt::format("-{:04X}", -value) : fmt::format("{:04X}", value);
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}
}  // namespace

Runner registerImage(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("image", "Load files into the code buffer and show the result");
    auto args = std::make_shared<ImageArgs>();
    auto dump = std::make_shared<bool>(false);
    cmd->add_option("FILE", args->files, "Intel-HEX or binary files, loaded in order ('-': stdin)")
        ->required();
    addImageOptions(cmd, *args, true);
    cmd->add_flag("--dump", *dump, "Print every row of the buffer view from viewStart to viewEnd");
    return [&ctx, args, dump] {
        if (int rc = prepareBuffer(ctx, *args); rc != kExitOk) return rc;
        IspCore& core = ctx.core();
        int rc = kExitOk;
        for (const std::string& file : args->files) {
            LoadResult result;
            if (loadOneFile(ctx, file, result) != kExitOk) return kExitBadInput;
            // The warning is always shown; --yes accepts the load as `save` and `download` do.
            if (refuseUnsoundLoad(file, result) != kExitOk && !ctx.yes) rc = kExitBadInput;
        }
        const CodeBuffer& b = core.buffer;
        if (ctx.ui.json) {
            ctx.ui.result(imageJson(b));
            return rc;
        }
        fmt::print("checksum: {}\n", trimRight(b.checksumText));
        fmt::print("loadStart={} loadEnd={} viewStart={} viewEnd={}\n", hex4(b.loadStart),
                   hex4(b.loadEnd), hex4(b.viewStart), hex4(b.viewEnd));
        if (*dump)
            for (const std::string& row : dumpRows(b))
                fmt::print("{}\n", row);
        return rc;
    };
}

}  // namespace qmx::cli
