// Running the programs under test as child processes: qmx-chipsim on a pseudo-terminal in a
// temporary folder, and the qmx-isp command line with its exit status and output.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qmx::test {

using namespace std::chrono_literals;

// The locale every test process runs in (set when the process starts), so that a Chinese
// locale on the machine does not change what the programs under test print.
inline constexpr const char* kTestLocale = "C.UTF-8";

// Sets LC_ALL for as long as it lives, then back to the tests' own locale.
class LocaleFor {
  public:
    explicit LocaleFor(const char* locale);
    ~LocaleFor();
    LocaleFor(const LocaleFor&) = delete;
    LocaleFor& operator=(const LocaleFor&) = delete;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Where the built programs are (the tests get the build folder as QMX_BIN_DIR).
#ifdef QMX_BIN_DIR
inline std::string chipsimPath() {
    return std::string(QMX_BIN_DIR) + "/qmx-chipsim";
}
inline std::string ispPath() {
    return std::string(QMX_BIN_DIR) + "/qmx-isp";
}
#endif

// A running qmx-chipsim.
class SimProcess {
  public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts `program` with `args` plus "--link <dir>/tty" (unless args already hold --link)
    // and waits for its "ready PATH" line. False (with error() saying why) when it exits or
    // stays silent past the timeout.
    bool start(const std::string& program, const std::vector<std::string>& args,
               std::chrono::milliseconds timeout = 10s);
    // The pseudo-terminal's link path, as the simulator reported it.
    const std::string& linkPath() const { return link_; }
    // Writes one control line ("power-on", "power-off", "dump FILE", "quit") to its stdin.
    bool control(const std::string& line);
    // SIGTERM and wait; returns its exit status (-1 when it had to be killed).
    int stop(std::chrono::milliseconds timeout = 5s);
    // SIGKILL at once: the line vanishes under the host.
    void kill();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Everything it printed on stdout and stderr so far.
    std::string output() const;
    const std::string& error() const { return error_; }

  private:
    void drain();
    TempDir dir_;
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string link_, error_;
    mutable std::mutex mutex_;
    std::string output_;
    std::thread reader_;
};

struct RunResult {
    int exitCode = -1;  // exit status, or 128 + signal number
    bool timedOut = false;
    std::string out, err;
};

// A running qmx-isp (or any program): its output is collected while the test waits.
class CliProcess {
  public:
    CliProcess() = default;
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool start(const std::string& program, const std::vector<std::string>& args);
    // Collects output until stdout contains `needle` or the timeout passes; true when seen.
    bool waitForOutput(const std::string& needle, std::chrono::milliseconds timeout);
    void signal(int sig);
    // Collects output until the program ends; kills it after the timeout.
    RunResult wait(std::chrono::milliseconds timeout = 60s);
    const std::string& out() const { return result_.out; }

  private:
    bool pumpOnce(int timeoutMs);
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    RunResult result_;
};

// Runs a program to its end: exit status, stdout, stderr.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout = 60s);
#ifdef QMX_BIN_DIR
inline RunResult run_cli(const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout = 60s) {
    return run_program(ispPath(), args, timeout);
}
#endif

}  // namespace qmx::test
