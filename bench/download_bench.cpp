// Download benchmark: a simulated M-079 (family 2) on a pseudo-terminal with line timing at the
// host's baud rate, images of 8 KB and 60 KB downloaded at up to 115200 baud. For the connect
// phase (handshake, baud switch, erase) and the programming phase it prints the bytes on the
// wire both ways, the wire-time bound (each byte's ten bit times at the rate it went at, plus the
// paced gaps the protocol asks for between bytes, shown apart as "gaps"), the measured time,
// their ratio and the host's CPU time as a share of the wall time.
// Last line: program_ratio=R connect_s=S cpu_pct=C (60 KB run; CPU over both phases).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// Counts the bytes each way and their wire time at the rate the port had when they passed.
class CountingUi : public Ui {
  public:
    explicit CountingUi(const SerialChannel* channel) : channel_(channel) {}
    long sent = 0, received = 0;
    double wireSeconds = 0;
    bool verbose = false;
    void reset() {
        sent = received = 0;
        wireSeconds = 0;
    }
    void traceBytes(bool outgoing, const unsigned char*, std::size_t count) override {
        (outgoing ? sent : received) += static_cast<long>(count);
        long baud = channel_->current_baud();
        if (baud <= 0) baud = 1200;
        wireSeconds += static_cast<double>(count) * 10.0 / static_cast<double>(baud);
    }
    void appendMessage(const std::string& line) override {
        if (verbose) std::printf("  | %s\n", line.c_str());
    }

  private:
    const SerialChannel* channel_;
};

struct Clocks {
    std::chrono::steady_clock::time_point wall;
    double cpu;
    static Clocks now() {
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
        return {std::chrono::steady_clock::now(), cpu};
    }
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

class Sim {
  public:
    bool start(const fs::path& dir, const std::string& model) {
        link = (dir / "tty").string();
        out_ = dir / "sim.out";
        const std::string program = std::string(QMX_BIN_DIR) + "/qmx-chipsim";
        std::vector<std::string> args{program, "--model", model, "--link", link, "--wire-time"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const int rc = posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) return false;
        for (int i = 0; i < 500; ++i) {
            std::ifstream in(out_);
            std::stringstream s;
            s << in.rdbuf();
            if (s.str().find("ready ") != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    ~Sim() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int st;
            waitpid(pid_, &st, 0);
        }
    }
    std::string link;

  private:
    pid_t pid_ = -1;
    fs::path out_;
};

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
        CountingUi ui(&core.channel);
        ui.verbose = verbose;
        core.setUi(&ui);
        core.settings.setPath(dir / "settings.ini");
        core.model = findModel("M-079");
        resetOptionPage(core.options, core.model->family);
        core.portPath = sim.link;
        core.maxBaud = 115200;
        std::mt19937 rng(static_cast<unsigned>(imageBytes));
        fillBuffer(core.buffer, 0xFF);
        for (long a = 0; a < imageBytes; ++a)
            core.buffer.bytes[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(rng());
        core.buffer.viewStart = 0;
        core.buffer.viewEnd = imageBytes - 1;
        core.buffer.imageLoaded = true;

        auto link = makeChannelLink(core);
        ui.reset();
        auto gapsSoFar = [&core] {
            return std::chrono::duration<double>(core.channel.pacing().gap_total()).count();
        };
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
