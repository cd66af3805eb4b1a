// Download benchmark: a simulated M-079 (family 2) on a pseudo-terminal with line timing at the
// host's baud rate, images of 8 KB and 60 KB downloaded at up to 115200 baud. For the connect
// phase (handshake, baud switch, erase) and the programming phase it prints the bytes on the
// wire both ways, the wire-time bound (each byte's ten bit times at the rate it went at, plus the
// paced gaps the protocol asks for between bytes, shown apart as "gaps"), the measured time,
// their ratio and the host's CPU time as a share of the wall time.
// Last line: program_ratio=R connect_s=S cpu_pct=C (60 KB run; CPU over both phases).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "ops/chip_link.h"
#include "ops/download_driver.h"
#include "ops/programmer.h"

namespace fs = std::filesystem;
using namespace qmx;
using namespace qmx::bench;

namespace {

struct Clocks {
    std::chrono::steady_clock::time_point wall;
    double cpu;
    static Clocks now() { return {std::chrono::steady_clock::now(), cpuSeconds()}; }
};

struct Phase {
    long sent = 0, received = 0;
    double bound = 0, gaps = 0, wall = 0, cpu = 0;
    double ratio() const { return wall > 0 ? bound / wall : 0; }
    double cpuPct() const { return wall > 0 ? 100.0 * cpu / wall : 0; }
};

// gapSeconds: the mandated paced gaps of the phase, protocol time like the bytes themselves.
Phase measure(CountingUi& ui, const Clocks& from, const Clocks& to, double gapSeconds) {
    Phase p;
    p.sent = ui.sent;
    p.received = ui.received;
    p.gaps = gapSeconds;
    p.bound = ui.wireSeconds + gapSeconds;
    p.wall = std::chrono::duration<double>(to.wall - from.wall).count();
    p.cpu = to.cpu - from.cpu;
    return p;
}

void printPhase(const char* name, const Phase& p) {
    std::printf(
        "  %-8s sent %7ld B  received %6ld B  wire bound %7.3f s (gaps %6.3f s)  measured %7.3f s  "
        "ratio %.3f  cpu %5.2f %%\n",
        name, p.sent, p.received, p.bound, p.gaps, p.wall, p.ratio(), p.cpuPct());
}

struct RunResult {
    bool ok = false;
    Phase connect, program;
};

RunResult runOnce(long imageBytes, bool verbose) {
    RunResult result;
    char pattern[] = "/tmp/qmx-bench-XXXXXX";
    if (!mkdtemp(pattern)) return result;
    const fs::path dir = pattern;
    {
        Sim sim;
        if (!sim.start(dir, "M-079")) {
            std::fprintf(stderr, "download_bench: qmx-chipsim did not start\n");
            fs::remove_all(dir);
            return result;
        }
        IspCore core;
        CountingUi ui(core.channel);
        ui.verbose = verbose;
        core.setUi(&ui);
        setUpM079(core, dir, sim.link, imageBytes, static_cast<unsigned>(imageBytes));

        auto link = makeChannelLink(core);
        ui.reset();
        auto gapsSoFar = [&core] { return gapSeconds(core); };
        const double g0 = gapsSoFar();
        const Clocks c0 = Clocks::now();
        const bool connected = connect_and_erase(core, *link).ok();
        const Clocks c1 = Clocks::now();
        const double g1 = gapsSoFar();
        result.connect = measure(ui, c0, c1, g1 - g0);
        if (connected) {
            ui.reset();
            result.ok = program_image(core, *link).ok();
            const Clocks c2 = Clocks::now();
            result.program = measure(ui, c1, c2, gapsSoFar() - g1);
        }
        stop_download(core, *link);
    }
    fs::remove_all(dir);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const bool verbose = argc > 1 && std::string(argv[1]) == "-v";
    std::printf(
        "download benchmark: M-079 (family 2) on qmx-chipsim with wire timing, up to 115200 "
        "baud\n");
    RunResult last;
    for (long kb : {8L, 60L}) {
        const RunResult r = runOnce(kb * 1024, verbose);
        std::printf("%ld KB image: %s\n", kb, r.ok ? "programmed and verified" : "FAILED");
        printPhase("connect", r.connect);
        printPhase("program", r.program);
        if (!r.ok) return 1;
        last = r;
    }
    const double wall = last.connect.wall + last.program.wall;
    const double cpu = last.connect.cpu + last.program.cpu;
    std::printf("program_ratio=%.3f connect_s=%.3f cpu_pct=%.2f\n", last.program.ratio(),
                last.connect.wall, wall > 0 ? 100.0 * cpu / wall : 0.0);
    return 0;
}
