// Gang benchmark: four simulated M-079 chips (family 2) on pseudo-terminals with line timing,
// each programmed with its own 60 KB image at up to 115200 baud by its own core on its own
// thread, as `download --port A --port B ...` does. Prints, for each port, the programming
// phase's wire-time bound (bytes at their rate plus the paced gaps the protocol asks for), the
// measured time and their ratio; the gang's total wall time against one port programmed alone;
// and the host's CPU time (all threads) as a share of one core. Then one port through an
// adapter latency of 16 ms against 1 ms (qmx-chipsim --latency), which is what the driver's
// low-latency mode saves on a real USB adapter.
// Last line: min_port_ratio=R gang_vs_single=X cpu_pct=C latency16_vs_1=L
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "catalogue/option_set.h"
#include "core/isp_core.h"
#include "ops/chip_link.h"
#include "ops/download_driver.h"
#include "ops/programmer.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace qmx;

namespace {

constexpr long kImageBytes = 60 * 1024;

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Counts the wire time of the bytes each way at the rate the port had when they passed.
class CountingUi : public Ui {
  public:
    explicit CountingUi(const SerialChannel& channel) : channel_(channel) {}
    double wireSeconds = 0;
    void traceBytes(bool, const unsigned char*, std::size_t count) override {
        long baud = channel_.current_baud();
        if (baud <= 0) baud = 1200;
        wireSeconds += static_cast<double>(count) * 10.0 / static_cast<double>(baud);
    }

  private:
    const SerialChannel& channel_;
};

class Sim {
  public:
    ~Sim() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int st;
            waitpid(pid_, &st, 0);
        }
    }
    bool start(const fs::path& dir, int latencyMs) {
        link = (dir / "tty").string();
        const fs::path out = dir / "sim.out";
        const std::string program = std::string(QMX_BIN_DIR) + "/qmx-chipsim";
        std::vector<std::string> args{
            program, "--model",     "M-079",     "--link",
            link,    "--wire-time", "--latency", std::to_string(latencyMs)};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const int rc = posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) return false;
        for (int i = 0; i < 500; ++i) {
            std::ifstream in(out);
            std::stringstream s;
            s << in.rdbuf();
            if (s.str().find("ready ") != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    std::string link;

  private:
    pid_t pid_ = -1;
};

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
        if (!sim.start(dir, latencyMs)) return false;
        core.setUi(&ui);
        core.settings.setPath(dir / "settings.ini");
        core.model = findModel("M-079");
        resetOptionPage(core.options, core.model->family);
        core.portPath = sim.link;
        core.maxBaud = 115200;
        std::mt19937 rng(seed);
        fillBuffer(core.buffer, 0xFF);
        for (long a = 0; a < kImageBytes; ++a)
            core.buffer.bytes[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(rng());
        core.buffer.viewStart = 0;
        core.buffer.viewEnd = kImageBytes - 1;
        core.buffer.imageLoaded = true;
        return true;
    }

    // Connect and erase, then the programming phase, timed and bounded on its own.
    void run() {
        auto link = makeChannelLink(core);
        if (connect_and_erase(core, *link).ok()) {
            ui.wireSeconds = 0;
            const double gaps0 = gapSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            program_image(core, *link);
            wall = secondsSince(t0);
            bound = ui.wireSeconds + gapSeconds() - gaps0;
            ok = core.session.program_ok;
        }
        stop_download(core, *link);
    }

    ~Station() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }

  private:
    double gapSeconds() const {
        return std::chrono::duration<double>(core.channel.pacing().gap_total()).count();
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
