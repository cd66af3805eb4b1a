#include "monitor_runner.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

namespace qmxsim {

namespace {

double monotonicNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void logLine(std::FILE* log, double start, const std::string& text) {
    if (!log || text.empty()) return;
    std::fprintf(log, "%9.3f monitor: %s\n", monotonicNow() - start, text.c_str());
    std::fflush(log);
}

void sendFrame(PtyLine& line, const Bytes& bytes) {
    if (bytes.empty()) return;
    line.write(bytes.data(), bytes.size());
}

}  // namespace

bool holdsMonitorImage(const Bytes& flash) {
    if (flash.size() < 0x2183) return false;
    if (flash[0] != 0x02 || flash[1] != 0x22 || flash[2] != 0x00) return false;
    const std::uint8_t* p = flash.data() + 0x2180;
    const bool opening64k = p[0] == 0x43 && p[1] == 0xB1 && p[2] == 0x40;
    const bool openingOther = p[0] == 0x53 && p[1] == 0xB1 && p[2] == 0xFC;
    return opening64k || openingOther;
}

int runMonitorOnLine(PtyLine& line, const MonitorConfig& config, std::FILE* log, int sigFd) {
    const double start = monotonicNow();
    MonitorChip chip(config);
    logLine(log, start, "monitor running");
    for (;;) {
        double now = monotonicNow();
        sendFrame(line, chip.tick(now));
        logLine(log, start, chip.takeNote());

        const double wait = std::max(0.0, chip.nextWake() - monotonicNow());
        const int timeoutMs = wait > 3600 ? 1000 : static_cast<int>(wait * 1000) + 1;
        struct pollfd fds[2] = {{line.master(), POLLIN | POLLPRI, 0}, {sigFd, POLLIN, 0}};
        const int r = ::poll(fds, sigFd >= 0 ? 2 : 1, timeoutMs);
        if (r < 0) continue;
        if (sigFd >= 0 && (fds[1].revents & POLLIN)) {
            struct signalfd_siginfo si {};
            if (::read(sigFd, &si, sizeof si) > 0) {
                logLine(log, start, "signal " + std::to_string(si.ssi_signo) + ": leaving");
                return 0;
            }
        }
        if (!(fds[0].revents & (POLLIN | POLLPRI))) continue;
        std::uint8_t buf[512];
        int control = 0;
        const long n = line.read(buf, sizeof buf, control);
        if (n == -2) {
            logLine(log, start, "line lost");
            return 0;
        }
        now = monotonicNow();
        for (long i = 0; i < n; ++i) {
            sendFrame(line, chip.receive(buf[i], now));
            logLine(log, start, chip.takeNote());
        }
    }
}

}  // namespace qmxsim
