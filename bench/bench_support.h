// What the benchmarks share: the host's CPU time, a face that counts the bytes on the wire and
// their wire time, a simulated chip with line timing on a pseudo-terminal, and a core set up
// with a random image for an M-079.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

extern char** environ;

namespace qmx::bench {

namespace fs = std::filesystem;

// CPU time of the whole process (all threads), in seconds.
inline double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

inline double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The paced gaps the channel has kept between bytes so far, in seconds.
inline double gapSeconds(const IspCore& core) {
    return std::chrono::duration<double>(core.channel.pacing().gap_total()).count();
}

// Counts the bytes each way and their wire time at the rate the port had when they passed.
class CountingUi : public Ui {
  public:
    explicit CountingUi(const SerialChannel& channel) : channel_(channel) {}
    long sent = 0, received = 0;
    double wireSeconds = 0;
    bool verbose = false;  // print the log lines
    void reset() {
        sent = received = 0;
        wireSeconds = 0;
    }
    void traceBytes(bool outgoing, const unsigned char*, std::size_t count) override {
        (outgoing ? sent : received) += static_cast<long>(count);
        long baud = channel_.current_baud();
        if (baud <= 0) baud = 1200;
        wireSeconds += static_cast<double>(count) * 10.0 / static_cast<double>(baud);
    }
    void appendMessage(const std::string& line) override {
        if (verbose) std::printf("  | %s\n", line.c_str());
    }

  private:
    const SerialChannel& channel_;
};

// qmx-chipsim with line timing, its terminal linked as DIR/tty; ended with the object.
class Sim {
  public:
    Sim() = default;
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;
    ~Sim() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int st;
            waitpid(pid_, &st, 0);
        }
    }
    bool start(const fs::path& dir, const std::string& model, std::vector<std::string> extra = {}) {
        link = (dir / "tty").string();
        const fs::path out = dir / "sim.out";
        const std::string program = std::string(QMX_BIN_DIR) + "/qmx-chipsim";
        std::vector<std::string> args{program, "--model", model, "--link", link, "--wire-time"};
        args.insert(args.end(), extra.begin(), extra.end());
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

// An M-079 station on `port` with its settings in `dir` and `imageBytes` random bytes from
// `seed` in its buffer, at up to 115200 baud.
inline void setUpM079(IspCore& core, const fs::path& dir, const std::string& port, long imageBytes,
                      unsigned seed) {
    core.settings.setPath(dir / "settings.ini");
    core.model = findModel("M-079");
    resetOptionPage(core.options, core.model->family);
    core.portPath = port;
    core.maxBaud = 115200;
    std::mt19937 rng(seed);
    fillBuffer(core.buffer, 0xFF);
    for (long a = 0; a < imageBytes; ++a)
        core.buffer.bytes[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(rng());
    core.buffer.viewStart = 0;
    core.buffer.viewEnd = imageBytes - 1;
    core.buffer.imageLoaded = true;
}

}  // namespace qmx::bench
