// qmx-isp demo: the main job with no hardware. A simulated chip (qmx-chipsim, found beside
// this program) is started on a pseudo-terminal in a private temporary folder, the built-in
// example image is downloaded into it with the whole log shown, and then the simulator is
// stopped and the folder removed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"
#include "cli/download_support.h"

extern char** environ;

namespace qmx::cli {

namespace fs = std::filesystem;

namespace {

#ifdef QMX_DEMO_IMAGE_EMBEDDED
constexpr unsigned char kDemoImage[] = {
#include "demo_image.inc"
};
#endif

constexpr const char* kDemoModel = "M-070";

fs::path selfDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path(".") : exe.parent_path();
}

// The example image: built in, else looked for beside the program, in the installed share
// folder and in the source tree this program was built from.
bool demoImage(std::string& content) {
#ifdef QMX_DEMO_IMAGE_EMBEDDED
    content.assign(reinterpret_cast<const char*>(kDemoImage), sizeof kDemoImage);
    return true;
#else
    const fs::path self = selfDir();
    const fs::path source = fs::path(__FILE__).parent_path().parent_path().parent_path();
    for (const fs::path& p :
         {self / "examples/blink/blink.hex", self / "../share/qmx-isp/examples/blink.hex",
          source / "examples/blink/blink.hex"}) {
        std::ifstream in(p, std::ios::binary);
        if (!in) continue;
        std::ostringstream s;
        s << in.rdbuf();
        content = s.str();
        if (!content.empty()) return true;
    }
    return false;
#endif
}

bool fileHas(const fs::path& path, const std::string& needle) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str().find(needle) != std::string::npos;
}

// The simulator as a child process in its own process group (so Ctrl-C reaches only us),
// its output kept in files of the demo folder.
class Simulator {
  public:
    bool start(const fs::path& program, const std::vector<std::string>& args, const fs::path& dir) {
        out_ = dir / "chipsim.out";
        err_ = dir / "chipsim.err";
        int toChild[2];
        if (pipe(toChild) != 0) return false;
        fcntl(toChild[1], F_SETFD, FD_CLOEXEC);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&actions, toChild[0]);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        std::vector<std::string> all{program.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        close(toChild[0]);
        if (rc != 0) {
            close(toChild[1]);
            pid_ = -1;
            return false;
        }
        stdin_ = toChild[1];
        return true;
    }

    // Waits for the simulator's "ready" line.
    bool waitReady(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (fileHas(out_, "ready ")) return true;
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string errors() const {
        std::ifstream in(err_);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Asks the simulator to quit, then insists.
    void stop() {
        if (stdin_ >= 0) {
            const char quit[] = "quit\n";
            (void)!write(stdin_, quit, sizeof quit - 1);
            close(stdin_);
            stdin_ = -1;
        }
        if (pid_ <= 0) return;
        for (int signalNo : {0, SIGTERM, SIGKILL}) {
            if (signalNo) kill(pid_, signalNo);
            for (int i = 0; i < 150; ++i) {
                int status;
                if (waitpid(pid_, &status, WNOHANG) == pid_) {
                    pid_ = -1;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    }

    ~Simulator() { stop(); }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    fs::path out_, err_;
};

// A private folder that is removed with everything in it.
struct TempFolder {
    fs::path path;
    bool make() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qmx-demo-XXXXXX";
        if (!mkdtemp(pattern.data())) return false;
        path = pattern;
        return true;
    }
    ~TempFolder() {
        if (path.empty()) return;
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

int runDemo(Context& ctx) {
    const fs::path sim = selfDir() / "qmx-chipsim";
    if (access(sim.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "qmx-isp: the chip simulator %s is missing\n", sim.c_str());
        return kExitFailed;
    }
    std::string image;
    if (!demoImage(image)) {
        std::fprintf(stderr, "qmx-isp: the example image examples/blink/blink.hex is missing\n");
        return kExitFailed;
    }
    TempFolder dir;
    if (!dir.make()) {
        std::perror("qmx-isp: temporary folder");
        return kExitFailed;
    }
    const fs::path hexFile = dir.path / "blink.hex";
    {
        std::ofstream out(hexFile, std::ios::binary);
        out << image;
        if (!out.flush()) {
            std::fprintf(stderr, "qmx-isp: cannot write %s\n", hexFile.c_str());
            return kExitFailed;
        }
    }
    const fs::path link = dir.path / "ttyQMX";
    IspCore& core = ctx.core();
    installStopHandler(core);
    Simulator chip;
    const bool started = chip.start(sim,
                                    {"--model", kDemoModel, "--link", link.string(), "--flash-out",
                                     (dir.path / "flash.bin").string()},
                                    dir.path);
    // From here a second Ctrl-C, which quits at once, takes the simulator and the folder
    // with it.
    if (started) setQuitCleanup(chip.pid(), dir.path.string());
    if (!started || !chip.waitReady(std::chrono::seconds(10))) {
        std::fprintf(stderr, "qmx-isp: the chip simulator did not start\n%s",
                     chip.errors().c_str());
        chip.stop();
        clearQuitCleanup();
        return kExitFailed;
    }
    if (core.session.stop_requested) {  // Ctrl-C while the simulator started
        chip.stop();
        clearQuitCleanup();
        return kExitStopped;
    }
    std::printf("QMX-ISP demo: a simulated %s on %s; downloading the example image blink.hex\n",
                kDemoModel, link.c_str());
    std::fflush(stdout);

    DownloadSetup setup;
    setup.file = hexFile.string();
    setup.port = link.string();
    setup.model = findModel(kDemoModel);
    setup.fill = "FF";
    setup.settingsPath =
        (dir.path / "settings.ini").string();  // the user's settings stay as they are
    const int code = runDownload(core, ctx.ui, setup);
    chip.stop();
    clearQuitCleanup();
    std::printf("%s\n", code == kExitOk ? "Demo finished: the image is in the simulated chip."
                                        : "Demo failed.");
    std::fflush(stdout);
    return code;
}

}  // namespace

Runner registerDemo(CLI::App& app, Context& ctx) {
    app.add_subcommand("demo",
                       "No hardware needed: start a simulated chip on a pseudo-terminal, download "
                       "the built-in example image into it and show the whole log");
    return [&ctx]() -> int { return runDemo(ctx); };
}

}  // namespace qmx::cli
