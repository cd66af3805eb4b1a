#include "cli/image_args.h"

#include <fmt/core.h>

#include <filesystem>

#include "catalogue/model_catalogue.h"
#include "cli/stdio_file.h"
#include "image/code_buffer.h"
#include "settings/settings_keys.h"

namespace qmx::cli {

void addImageOptions(CLI::App* cmd, ImageArgs& args, bool withClear) {
    cmd->add_option("--model", args.model, "Model name, e.g. M-070 (see 'qmx-isp models')")
        ->required();
    cmd->add_option("--start", args.start, "Buffer start address (hexadecimal), default 0");
    cmd->add_option("--fill", args.fill, "Fill byte of the buffer: FF or 00 (default: as stored)")
        ->check(CLI::IsMember({"FF", "00", "ff"}));
    if (withClear) cmd->add_flag("--clear", args.clear, "Clear Buffer: refill before each file");
}

int prepareBuffer(Context& ctx, const ImageArgs& args) {
    const ModelEntry* entry = lookupModel(args.model);
    if (!entry) return kExitBadInput;
    long start = 0;
    if (!parseHexInRange("--start", args.start, 0, kMaxStartAddress, start)) return kExitBadInput;
    IspCore& core = ctx.core();
    core.model = entry;
    core.buffer.map = MemoryMap::fromModel(*entry);
    std::string fill = args.fill;
    if (fill.empty()) fill = core.settings.read("Settings", setting::kFillByte, "00");
    // "00" selects the 00 choice; anything else is FF, as the stored choice is read.
    core.buffer.fillByte = fill == "00" ? 0x00 : 0xFF;
    core.buffer.startAddressText = args.start;
    core.buffer.clearOnLoad = args.clear;
    return kExitOk;
}

int refuseUnsoundLoad(const std::string& path, const LoadResult& result) {
    if (result.badRecords > 0) {
        printError(path + " has records with a bad checksum");
        return kExitBadInput;
    }
    if (result.incompleteHex()) {
        printError(path + (result.dataRecords == 0
                               ? " holds no HEX data record"
                               : " has no HEX end record (it may be cut short)"));
        return kExitBadInput;
    }
    return kExitOk;
}

int loadOneFile(Context& ctx, const std::string& named, LoadResult& result) {
    IspCore& core = ctx.core();
    std::string path = named;
    if (isStdio(named)) {
        std::string error;
        path = stdinAsFile(error);
        if (path.empty()) {
            fmt::print(stderr, "qmx-isp: {}\n", error);
            return kExitBadInput;
        }
    }
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec);
    core.buffer.currentPath = ec ? path : absolute.string();
    result = loadSelectedFile(core.buffer, *core.model, core.serial, core.ui());
    return result.loaded() ? kExitOk : kExitBadInput;
}

}  // namespace qmx::cli
