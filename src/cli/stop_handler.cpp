#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "cli/cli_context.h"

namespace qmx::cli {

namespace {
// The sessions of every core that runs (a gang has several).
constexpr std::size_t kMaxStops = 64;
std::atomic<SessionState*> g_stops[kMaxStops];
std::atomic<int> g_count{0};

// What a second Ctrl-C undoes before it quits (see setQuitCleanup).
std::atomic<pid_t> g_child{-1};
std::atomic<int> g_folderFd{-1};
char g_folder[4096];

bool isDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Runs inside the signal handler: only async-signal-safe calls.
void cleanUpForQuit() {
    const pid_t child = g_child.load();
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    const int fd = g_folderFd.load();
    if (fd < 0) return;
    alignas(8) char buf[4096];
    for (bool removed = true; removed;) {
        removed = false;
        lseek(fd, 0, SEEK_SET);
        const ssize_t n = getdents64(fd, buf, sizeof buf);
        for (ssize_t at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buf + at);
            at += entry->d_reclen;
            if (!isDotEntry(entry->d_name) && unlinkat(fd, entry->d_name, 0) == 0) removed = true;
        }
    }
    rmdir(g_folder);
}

void onSigint(int) {
    if (g_count.fetch_add(1) >= 1) {
        cleanUpForQuit();
        _exit(kExitStopped);
    }
    // For good: a session that starts after this (the watch's next one) stops at once too.
    for (auto& stop : g_stops)
        if (SessionState* session = stop.load()) {
            session->stop_for_good.store(true);
            session->stop_requested.store(true);
        }
}
}  // namespace

bool stopSignalled() {
    return g_count.load() > 0;
}

void installStopHandler(IspCore& core) {
    installStopHandler(std::vector<IspCore*>{&core});
}

void installStopHandler(const std::vector<IspCore*>& cores) {
    for (std::size_t i = 0; i < kMaxStops; ++i)
        g_stops[i] = i < cores.size() ? &cores[i]->session : nullptr;
    struct sigaction sa {};
    sa.sa_handler = onSigint;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocking wait wakes up and sees the flag
    sigaction(SIGINT, &sa, nullptr);
}

void setQuitCleanup(pid_t child, const std::string& folder) {
    clearQuitCleanup();
    if (!folder.empty() && folder.size() < sizeof g_folder) {
        std::memcpy(g_folder, folder.c_str(), folder.size() + 1);
        g_folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    g_child = child;
}

void clearQuitCleanup() {
    g_child = -1;
    const int fd = g_folderFd.exchange(-1);
    if (fd >= 0) ::close(fd);
}

}  // namespace qmx::cli
