#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace qmx::test {

namespace {

using Clock = std::chrono::steady_clock;

// The tests expect the system's texts in their bilingual form, which is what the programs and
// the window show unless the locale asks for Chinese. Pin a neutral locale for this process
// and every program it starts, so that a machine set up in Chinese runs the same tests; a
// test that wants another locale sets it for its own span (LocaleFor).
[[maybe_unused]] const bool kLocalePinned = [] { return setenv("LC_ALL", kTestLocale, 1) == 0; }();

std::vector<char*> argvOf(const std::string& program, const std::vector<std::string>& args,
                          std::vector<std::string>& storage) {
    storage.clear();
    storage.push_back(program);
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

// fork + exec with the given pipe ends as stdin/stdout/stderr (-1 = /dev/null for stdin).
pid_t spawn(const std::string& program, const std::vector<std::string>& args, int inFd, int outFd,
            int errFd, const std::string& configHome) {
    std::vector<std::string> storage;
    std::vector<char*> argv = argvOf(program, args, storage);
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (inFd < 0) inFd = open("/dev/null", O_RDONLY);
    dup2(inFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    if (!configHome.empty()) setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    // Leave the test's signal dispositions behind.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    execv(program.c_str(), argv.data());
    _exit(127);
}

int statusOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Waits for a child to end within the timeout; its exit status or nullopt-like -2.
int waitChild(pid_t pid, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return statusOf(status);
        if (r < 0) return -1;
        if (Clock::now() >= deadline) return -2;
        usleep(5000);
    }
}

}  // namespace

LocaleFor::LocaleFor(const char* locale) {
    setenv("LC_ALL", locale, 1);
}

LocaleFor::~LocaleFor() {
    setenv("LC_ALL", kTestLocale, 1);
}

// ------------------------------------------------------------------ TempDir

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qmx-test-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

// ------------------------------------------------------------------ SimProcess

SimProcess::~SimProcess() {
    if (pid_ > 0) stop();
    if (reader_.joinable()) reader_.join();
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
}

bool SimProcess::start(const std::string& program, const std::vector<std::string>& args,
                       std::chrono::milliseconds timeout) {
    std::vector<std::string> all = args;
    bool hasLink = false;
    for (const auto& a : args)
        if (a == "--link") hasLink = true;
    if (!hasLink) {
        all.push_back("--link");
        all.push_back(dir_.file("tty"));
    }
    int inPipe[2], outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    pid_ = spawn(program, all, inPipe[0], outPipe[1], outPipe[1], {});
    close(inPipe[0]);
    close(outPipe[1]);
    in_ = inPipe[1];
    out_ = outPipe[0];
    if (pid_ < 0) {
        error_ = "fork failed";
        return false;
    }
    // Read until the ready line.
    std::string seen;
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        struct pollfd p {
            out_, POLLIN, 0
        };
        if (poll(&p, 1, 50) > 0) {
            char buf[512];
            ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) break;
            seen.append(buf, static_cast<std::size_t>(n));
            auto pos = seen.find("ready ");
            if (pos != std::string::npos) {
                auto end = seen.find('\n', pos);
                if (end != std::string::npos) {
                    link_ = seen.substr(pos + 6, end - pos - 6);
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        output_ = seen;
                    }
                    reader_ = std::thread([this] { drain(); });
                    return true;
                }
            }
        }
    }
    error_ = "qmx-chipsim did not get ready: " + seen;
    kill();
    return false;
}

void SimProcess::drain() {
    char buf[512];
    for (;;) {
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return;
        std::lock_guard<std::mutex> lock(mutex_);
        output_.append(buf, static_cast<std::size_t>(n));
    }
}

std::string SimProcess::output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

bool SimProcess::control(const std::string& line) {
    if (in_ < 0) return false;
    std::string l = line + "\n";
    return write(in_, l.data(), l.size()) == static_cast<ssize_t>(l.size());
}

int SimProcess::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int rc = waitChild(pid_, timeout);
    if (rc == -2) {
        ::kill(pid_, SIGKILL);
        waitChild(pid_, 5s);
        rc = -1;
    }
    pid_ = -1;
    if (reader_.joinable()) reader_.join();
    return rc;
}

void SimProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitChild(pid_, 5s);
    pid_ = -1;
}

// ------------------------------------------------------------------ CliProcess

namespace {
// The command line keeps its settings in a throw-away folder unless the test passes its own.
TempDir& configHome() {
    static TempDir dir;
    return dir;
}
}  // namespace

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitChild(pid_, 5s);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

bool CliProcess::start(const std::string& program, const std::vector<std::string>& args) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return false;
    pid_ = spawn(program, args, -1, outPipe[1], errPipe[1], configHome().path());
    close(outPipe[1]);
    close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    return pid_ > 0;
}

bool CliProcess::pumpOnce(int timeoutMs) {
    struct pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    int n = poll(p, 2, timeoutMs);
    if (n <= 0) return false;
    bool any = false;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
        if (p[i].revents & (POLLIN | POLLHUP)) {
            ssize_t r = read(p[i].fd, buf, sizeof buf);
            if (r > 0) {
                (i == 0 ? result_.out : result_.err).append(buf, static_cast<std::size_t>(r));
                any = true;
            }
        }
    }
    return any;
}

bool CliProcess::waitForOutput(const std::string& needle, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (result_.out.find(needle) == std::string::npos) {
        if (Clock::now() >= deadline) return false;
        if (!pumpOnce(20)) {
            int status = 0;
            if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
                result_.exitCode = statusOf(status);
                pid_ = -1;
                while (pumpOnce(0)) {
                }
                return result_.out.find(needle) != std::string::npos;
            }
        }
    }
    return true;
}

void CliProcess::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

RunResult CliProcess::wait(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (pid_ > 0) {
        pumpOnce(20);
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            result_.exitCode = statusOf(status);
            pid_ = -1;
            break;
        }
        if (Clock::now() >= deadline) {
            result_.timedOut = true;
            ::kill(pid_, SIGKILL);
            result_.exitCode = waitChild(pid_, 5s);
            pid_ = -1;
            break;
        }
    }
    while (pumpOnce(50)) {
    }
    return result_;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout) {
    CliProcess p;
    if (!p.start(program, args)) return {};
    return p.wait(timeout);
}

}  // namespace qmx::test
