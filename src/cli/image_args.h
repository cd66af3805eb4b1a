// Loading files into the code buffer from the command line, exactly as the Open File button
// does: shared by `image`, `save` and `download`.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "image/hex_loader.h"

namespace qmx::cli {

struct ImageArgs {
    std::vector<std::string> files;
    std::string model;
    std::string start = "0";  // buffer start address box (hexadecimal)
    std::string fill;         // "FF" or "00"; empty = the stored choice
    bool clear = false;       // "Clear Buffer"
};

// Adds --model, --start, --fill (and --clear when `withClear`) to a command.
void addImageOptions(CLI::App* cmd, ImageArgs& args, bool withClear);

// Selects the model and prepares the buffer; returns kExitOk or kExitBadInput (message printed).
int prepareBuffer(Context& ctx, const ImageArgs& args);

// Loads one file through the Open File path; `result` gets what the loader reported.
// Returns kExitOk, or kExitBadInput when the file could not be read or was refused.
int loadOneFile(Context& ctx, const std::string& path, LoadResult& result);

// kExitBadInput (with the reason on stderr) for a load that reported bad HEX records or an
// incomplete HEX file; kExitOk otherwise.
int refuseUnsoundLoad(const std::string& path, const LoadResult& result);

}  // namespace qmx::cli
