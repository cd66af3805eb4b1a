#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "cli/cli_context.h"

namespace qmx::cli {

namespace {
std::atomic<bool>* g_stop = nullptr;
std::atomic<int> g_count{0};

void onSigint(int) {
    if (g_count.fetch_add(1) >= 1) _exit(kExitStopped);
    if (g_stop) g_stop->store(true);
}
}  // namespace

void installStopHandler(IspCore& core) {
    g_stop = &core.session.stop_requested;
    struct sigaction sa {};
    sa.sa_handler = onSigint;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocking wait wakes up and sees the flag
    sigaction(SIGINT, &sa, nullptr);
}

}  // namespace qmx::cli
