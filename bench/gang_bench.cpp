// Gang benchmark: four simulated M-079 chips (family 2) on pseudo-terminals with line timing,
// each programmed with its own 60 KB image at up to 115200 baud by its own core on its own
// thread, as `download --port A --port B ...` does. Prints, for each port, the programming
// phase's wire-time bound (bytes at their rate plus the paced gaps the protocol asks for), the
// measured time and their ratio; the gang's total wall time against one port programmed alone;
// and the host's CPU time (all threads) as a share of one core. Then one port through an
// adapter latency of 16 ms against 1 ms (qmx-chipsim --latency), which is what the driver's
// low-latency mode saves on a real USB adapter.
// Last line: min_port_ratio=R gang_vs_single=X cpu_pct=C latency16_vs_1=L
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "ops/chip_link.h"
#include "ops/download_driver.h"
#include "ops/programmer.h"

namespace fs = std::filesystem;
using namespace qmx;
using namespace qmx::bench;

namespace {

constexpr long kImageBytes = 60 * 1024;

// One port: its simulated chip, its core and what its programming phase took.
struct Station {
    fs::path dir;
    Sim sim;
    IspCore core;
    CountingUi ui{core.channel};
    bool ok = false;
    double bound = 0, wall = 0;

    double ratio() const { return wall > 0 ? bound / wall : 0; }

    bool start(int latencyMs, unsigned seed) {
        char pattern[] = "/tmp/qmx-gang-bench-XXXXXX";
        if (!mkdtemp(pattern)) return false;
        dir = pattern;
        if (!sim.start(dir, "M-079", {"--latency", std::to_string(latencyMs)})) return false;
        core.setUi(&ui);
        setUpM079(core, dir, sim.link, kImageBytes, seed);
        return true;
    }

    // Connect and erase, then the programming phase, timed and bounded on its own.
    void run() {
        auto link = makeChannelLink(core);
        if (connect_and_erase(core, *link).ok()) {
            ui.wireSeconds = 0;
            const double gaps0 = gapSeconds(core);
            const auto t0 = std::chrono::steady_clock::now();
            program_image(core, *link);
            wall = secondsSince(t0);
            bound = ui.wireSeconds + gapSeconds(core) - gaps0;
            ok = core.session.program_ok;
        }
        stop_download(core, *link);
    }

    ~Station() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};

struct GangRun {
    bool ok = true;
    double wall = 0, cpu = 0, minRatio = 1e9;
};

// Programs `ports` chips at once, one thread each; prints a line per port.
GangRun runGang(int ports, int latencyMs, const char* title) {
    std::vector<std::unique_ptr<Station>> stations;
    for (int i = 0; i < ports; ++i) {
        stations.push_back(std::make_unique<Station>());
        if (!stations.back()->start(latencyMs, 100u + static_cast<unsigned>(i))) {
            std::fprintf(stderr, "gang_bench: qmx-chipsim did not start\n");
            return {false};
        }
    }
    GangRun run;
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (auto& s : stations)
        threads.emplace_back([&s] { s->run(); });
    for (auto& t : threads)
        t.join();
    run.wall = secondsSince(t0);
    run.cpu = cpuSeconds() - cpu0;
    std::printf("%s\n", title);
    for (int i = 0; i < ports; ++i) {
        const Station& s = *stations[static_cast<std::size_t>(i)];
        std::printf("  port %d: %s  wire bound %6.3f s  measured %6.3f s  ratio %.3f\n", i + 1,
                    s.ok ? "programmed" : "FAILED    ", s.bound, s.wall, s.ratio());
        run.ok = run.ok && s.ok;
        run.minRatio = std::min(run.minRatio, s.ratio());
    }
    std::printf("  total (connect, erase, program) %.3f s wall, host cpu %.2f %% of one core\n",
                run.wall, run.wall > 0 ? 100.0 * run.cpu / run.wall : 0.0);
    return run;
}

}  // namespace

int main() {
    std::printf(
        "gang benchmark: M-079 chips on qmx-chipsim with wire timing, 60 KB each, up to "
        "115200 baud\n");
    const GangRun single = runGang(1, 0, "one port alone:");
    const GangRun gang = runGang(4, 0, "four ports at once:");
    const GangRun slow = runGang(1, 16, "one port, adapter latency 16 ms:");
    const GangRun quick = runGang(1, 1, "one port, adapter latency 1 ms:");
    if (!single.ok || !gang.ok || !slow.ok || !quick.ok) return 1;
    std::printf(
        "four ports took %.2f times the wall time of one; latency 16 ms took %.2f times "
        "the time of 1 ms\n",
        gang.wall / single.wall, slow.wall / quick.wall);
    std::printf("min_port_ratio=%.3f gang_vs_single=%.3f cpu_pct=%.2f latency16_vs_1=%.3f\n",
                gang.minRatio, gang.wall / single.wall,
                gang.wall > 0 ? 100.0 * gang.cpu / gang.wall : 0.0, slow.wall / quick.wall);
    return 0;
}
