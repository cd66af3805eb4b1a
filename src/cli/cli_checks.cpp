// Checks and mappings every qmx-isp command shares.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/cli_context.h"
#include "link/baud.h"

namespace qmx::cli {

int exitFor(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok:
            return kExitOk;
        case Outcome::Stopped:
            return kExitStopped;
        case Outcome::PortLost:
            return kExitPort;
        case Outcome::BadInput:
        case Outcome::NoFile:
            return kExitBadInput;
        default:
            return kExitFailed;
    }
}

const ModelEntry* lookupModel(const std::string& name) {
    const ModelEntry* model = findModel(name);
    if (!model)
        std::fprintf(stderr, "qmx-isp: unknown model '%s' (see 'qmx-isp models')\n", name.c_str());
    return model;
}

void addTimeoutOption(CLI::App* command, double& seconds) {
    command
        ->add_option("--timeout", seconds,
                     "Give up when no chip answers within SECONDS (exit 1); default: wait for "
                     "ever, as a station waits for the next chip's power")
        ->check(CLI::NonNegativeNumber);
}

bool checkMaxBaud(long baud) {
    if (std::find(kBaudCandidates.begin(), kBaudCandidates.end(), baud) != kBaudCandidates.end())
        return true;
    std::string list;
    for (long b : kBaudCandidates)
        list += (list.empty() ? "" : ", ") + std::to_string(b);
    std::fprintf(stderr, "qmx-isp: --max-baud must be one of %s\n", list.c_str());
    return false;
}

}  // namespace qmx::cli
