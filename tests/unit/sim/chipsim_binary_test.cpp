// The real qmx-chipsim program on a pseudo-terminal, talked to through termios as a host would.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frames.h"

extern char** environ;

using namespace qmxsim;

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        std::string bin = QMX_BIN_DIR "/qmx-chipsim";
        args.insert(args.begin(), bin);
        int out[2], in[2];
        if (pipe(out) != 0 || pipe(in) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, bin.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        close(in[0]);
        out_ = out[0];
        in_ = in[1];
    }
    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (in_ >= 0) close(in_);
    }
    std::string readLine(double timeout = 5) {
        std::string line;
        const double end = now() + timeout;
        while (now() < end) {
            struct pollfd p {
                out_, POLLIN, 0
            };
            if (poll(&p, 1, 50) <= 0) continue;
            char c;
            if (read(out_, &c, 1) != 1) break;
            if (c == '\n') return line;
            line.push_back(c);
        }
        return line;
    }
    void control(const std::string& line) {
        const std::string l = line + "\n";
        ASSERT_EQ(write(in_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
    }
    // Exit status, or -1 when it has not ended in time.
    int wait(double timeout = 5) {
        const double end = now() + timeout;
        while (now() < end) {
            int st = 0;
            const pid_t r = waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            usleep(10000);
        }
        return -1;
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    bool exited_ = false;
};

std::string tempDir() {
    char tmpl[] = "/tmp/qmx-simtest-XXXXXX";
    const char* d = mkdtemp(tmpl);
    return d ? d : "/tmp";
}

int openPort(const std::string& path, speed_t speed) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

void setSpeed(int fd, speed_t speed) {
    struct termios t {};
    tcgetattr(fd, &t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}

// Reads until a whole answer frame (from its 68) is in, or the time is up.
Bytes readAnswer(int fd, double timeout) {
    Bytes buf;
    const double end = now() + timeout;
    while (now() < end) {
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, 10) <= 0) continue;
        std::uint8_t tmp[512];
        const ssize_t n = read(fd, tmp, sizeof tmp);
        if (n <= 0) break;
        buf.insert(buf.end(), tmp, tmp + n);
        for (std::size_t i = 0; i + 2 < buf.size(); ++i) {
            if (buf[i] != 0x68) continue;
            const std::size_t L = static_cast<std::size_t>(buf[i + 1]) * 256 + buf[i + 2];
            if (L >= 5 && buf.size() - i >= L)
                return Bytes(buf.begin() + static_cast<long>(i),
                             buf.begin() + static_cast<long>(i + L));
        }
    }
    return buf;
}

// Writes sync bytes at the port's rate until the status frame is in.
Bytes syncChip(int fd, double timeout) {
    const double end = now() + timeout;
    Bytes buf;
    while (now() < end) {
        const std::uint8_t sync[2] = {0x7F, 0x7F};
        if (write(fd, sync, 2) < 0) {
            // the line is full: let it drain
        }
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, 17) > 0) {
            std::uint8_t tmp[256];
            const ssize_t n = read(fd, tmp, sizeof tmp);
            if (n > 0) buf.insert(buf.end(), tmp, tmp + n);
            if (buf.size() >= 3 && buf[0] == 0x68 &&
                buf.size() >= static_cast<std::size_t>(buf[1] * 256 + buf[2])) {
                return buf;
            }
        }
    }
    return buf;
}

bool validAnswer(const Bytes& f) {
    if (f.size() < 5 || f[0] != 0x68) return false;
    const std::size_t L = static_cast<std::size_t>(f[1]) * 256 + f[2];
    return L == f.size() && f[L - 1] == 0x16 && sum8(f.data(), L - 2) == f[L - 2];
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(SimBinary, SyncAtTwelveHundredBaudDrawsTheStatusFrame) {
    const std::string dir = tempDir();
    const std::string link = dir + "/tty";
    SimProcess sim({"--model", "M-070", "--link", link, "--clock", "12000000"});
    ASSERT_GT(sim.pid(), 0);
    ASSERT_EQ(sim.readLine(), "ready " + link);
    const int fd = openPort(link, B1200);
    ASSERT_GE(fd, 0);
    const double t0 = now();
    const Bytes status = syncChip(fd, 5);
    ASSERT_TRUE(validAnswer(status)) << hexText(status);
    // 28 bytes at 1200 baud take about 230 ms on the line.
    EXPECT_GT(now() - t0, 0.2);
    ASSERT_EQ(status.size(), 28u);
    long total = 0;
    for (int i = 0; i < 8; ++i)
        total += status[4 + 2 * i] * 256 + status[5 + 2 * i];
    EXPECT_NEAR((total / 8.0 + 6) * 2061, 12000000, 12000);
    EXPECT_EQ(status[21], 'C');
    EXPECT_EQ(status[23], 0xF0);
    EXPECT_EQ(status[24], 0x04);

    // Status request at 1200: header and answer.
    tcflush(fd, TCIOFLUSH);
    const Bytes req = buildCommand(0x50, {});
    ASSERT_EQ(write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    Bytes ans = readAnswer(fd, 1.5);
    ASSERT_TRUE(validAnswer(ans)) << hexText(ans);
    EXPECT_EQ(ans[11], 0x36);

    // The same request from a port at the wrong rate reaches the chip garbled: no answer.
    setSpeed(fd, B2400);
    usleep(100000);
    tcflush(fd, TCIOFLUSH);
    ASSERT_EQ(write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    ans = readAnswer(fd, 0.8);
    EXPECT_FALSE(validAnswer(ans)) << hexText(ans);
    close(fd);

    kill(sim.pid(), SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);  // the link goes with the line
}

TEST(SimBinary, BaudSwitchDownloadAndRunWriteTheFlashFile) {
    const std::string dir = tempDir();
    const std::string link = dir + "/tty";
    const std::string out = dir + "/flash.bin";
    SimProcess sim(
        {"--model", "M-067", "--link", link, "--flash-out", out, "--power-on-delay", "300"});
    ASSERT_EQ(sim.readLine(), "ready " + link);
    int fd = openPort(link, B1200);
    ASSERT_GE(fd, 0);
    const Bytes status = syncChip(fd, 5);
    ASSERT_TRUE(validAnswer(status)) << hexText(status);
    tcflush(fd, TCIOFLUSH);
    close(fd);
    fd = openPort(link, B1200);  // the host may close and reopen freely

    // Switch to 115200 (11.0592 MHz, count 3), answered at the new rate.
    const Bytes sw = buildCommand(0x8E, {0xFF, 0xFD, 0x00, 6, 23});
    ASSERT_EQ(write(fd, sw.data(), sw.size()), static_cast<ssize_t>(sw.size()));
    setSpeed(fd, B115200);
    Bytes ans = readAnswer(fd, 1.5);
    ASSERT_TRUE(validAnswer(ans)) << hexText(ans);

    Bytes payload{0, 0, 0x01, 0x00, 0x00, 0x04, 0xDE, 0xAD, 0xBE, 0xEF};
    const Bytes wr = buildCommand(0x00, payload);
    ASSERT_EQ(write(fd, wr.data(), wr.size()), static_cast<ssize_t>(wr.size()));
    ans = readAnswer(fd, 1.5);
    ASSERT_TRUE(validAnswer(ans)) << hexText(ans);
    ASSERT_EQ(ans.size(), 7u);
    EXPECT_EQ(ans[4], static_cast<std::uint8_t>(0xDE + 0xAD + 0xBE + 0xEF));

    const Bytes run = buildCommand(0x52, {0x00, 0x00});
    ASSERT_EQ(write(fd, run.data(), run.size()), static_cast<ssize_t>(run.size()));
    close(fd);
    EXPECT_EQ(sim.wait(), 0);  // one chip: it leaves after the run command
    const Bytes flash = readFile(out);
    ASSERT_EQ(flash.size(), 0x2000u);
    EXPECT_EQ(flash[0x100], 0xDE);
    EXPECT_EQ(flash[0x103], 0xEF);
    EXPECT_EQ(flash[0x104], 0xFF);
}

TEST(SimBinary, VanishingLineHangsUpTheHost) {
    const std::string dir = tempDir();
    const std::string link = dir + "/tty";
    SimProcess sim(
        {"--model", "M-070", "--link", link, "--fault", "vanish-after=1", "--no-wire-time"});
    ASSERT_EQ(sim.readLine(), "ready " + link);
    const int fd = openPort(link, B1200);
    ASSERT_GE(fd, 0);
    const Bytes status = syncChip(fd, 5);
    ASSERT_TRUE(validAnswer(status));
    EXPECT_EQ(sim.wait(), 0);
    std::uint8_t b;
    usleep(50000);
    const ssize_t n = read(fd, &b, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    close(fd);
}

TEST(SimBinary, BadCommandLinesAreRefused) {
    {
        SimProcess sim({"--model", "M-070", "--link", "/tmp/x", "--personality", "juggler"});
        EXPECT_EQ(sim.wait(), 2);
    }
    {
        SimProcess sim({"--model", "M-999", "--link", "/tmp/x"});
        EXPECT_EQ(sim.wait(), 2);
    }
    {
        SimProcess sim({"--model", "M-070", "--link", "/tmp/x", "--fault", "drop=7"});
        EXPECT_EQ(sim.wait(), 2);
    }
    {
        SimProcess sim({"--model", "M-070"});
        EXPECT_EQ(sim.wait(), 2);
    }
}

TEST(SimBinary, PowerLinesOnStdinAndAMuteChip) {
    const std::string dir = tempDir();
    const std::string link = dir + "/tty";
    const std::string dump = dir + "/dump.bin";
    SimProcess sim({"--model", "M-024", "--link", link, "--power-on-delay", "600000", "--fault",
                    "mute-after=2", "--no-wire-time"});
    ASSERT_EQ(sim.readLine(), "ready " + link);
    const int fd = openPort(link, B1200);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(syncChip(fd, 0.5).empty());  // still off
    sim.control("power-on");
    Bytes status = syncChip(fd, 3);
    ASSERT_TRUE(validAnswer(status)) << hexText(status);
    EXPECT_EQ(status.size(), 33u);  // family 4: five option bytes

    usleep(50000);
    tcflush(fd, TCIOFLUSH);
    const Bytes req = buildCommand(0x50, {});
    ASSERT_EQ(write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    EXPECT_TRUE(validAnswer(readAnswer(fd, 1)));  // second answer
    ASSERT_EQ(write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    EXPECT_TRUE(readAnswer(fd, 0.5).empty());  // mute from now on

    // Off and on again: a power cycle brings the loader back, but the chip stays mute.
    sim.control("power-off");
    sim.control("power-on");
    EXPECT_TRUE(syncChip(fd, 0.5).empty());

    sim.control("dump " + dump);
    sim.control("quit");
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_EQ(readFile(dump).size(), 0x3000u);
    close(fd);
}

TEST(SimBinary, SeriesOfChipsNumbersTheFlashFiles) {
    const std::string dir = tempDir();
    const std::string link = dir + "/tty";
    const std::string out = dir + "/chip.bin";
    SimProcess sim({"--model", "M-070", "--link", link, "--chips", "2", "--swap-delay", "100",
                    "--flash-out", out, "--no-wire-time"});
    ASSERT_EQ(sim.readLine(), "ready " + link);
    for (std::uint8_t chip = 1; chip <= 2; ++chip) {
        const int fd = openPort(link, B1200);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(validAnswer(syncChip(fd, 3))) << int(chip);
        usleep(30000);
        tcflush(fd, TCIOFLUSH);
        // Each chip gets its own byte at 0; the second starts blank.
        const Bytes wr = buildCommand(0x00, {0, 0, 0, 0, 0, 1, chip});
        ASSERT_EQ(write(fd, wr.data(), wr.size()), static_cast<ssize_t>(wr.size()));
        ASSERT_TRUE(validAnswer(readAnswer(fd, 1)));
        const Bytes run = buildCommand(0x52, {0x02, 0x00});
        ASSERT_EQ(write(fd, run.data(), run.size()), static_cast<ssize_t>(run.size()));
        close(fd);
        usleep(300000);
    }
    EXPECT_EQ(sim.wait(), 0);
    const Bytes first = readFile(out + ".1");
    const Bytes second = readFile(out + ".2");
    ASSERT_EQ(first.size(), 0x3800u);
    ASSERT_EQ(second.size(), 0x3800u);
    EXPECT_EQ(first[0], 1);
    EXPECT_EQ(second[0], 2);
    EXPECT_EQ(second[1], 0xFF);
    struct stat st {};
    EXPECT_NE(stat(out.c_str(), &st), 0);  // no unnumbered file
}
