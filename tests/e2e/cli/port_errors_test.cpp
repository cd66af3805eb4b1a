// Port open errors that name the cause and the fix, and the wait for a chip that gives up
// after --timeout.
#include <gtest/gtest.h>

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>

#include "e2e/link/link_fixture.h"

namespace qmx::test {
namespace {

class PortErrors : public LinkE2E {};

TEST_F(PortErrors, MissingPortListsThePortsThatExistAndAFileIsNoSerialDevice) {
    std::ofstream(dir.file("plain.txt")) << "not a port\n";
    for (const char* cmd : {"connect", "read-options"}) {
        const RunResult missing =
            run_cli({cmd, "--port", dir.file("no-such-port"), "--model", "M-066"});
        EXPECT_EQ(missing.exitCode, 4) << cmd;
        EXPECT_TRUE(contains(missing.err,
                             "Open COM port failure! / 打开串口失败!\n"
                             "The COM port opened by another Program or no the COM port.\n"
                             "Chinese:串口已被其它程序打开或该串口不存在。\n"
                             "There is no serial port " +
                                 dir.file("no-such-port") + ". / "))
            << missing.err;
        EXPECT_TRUE(std::regex_search(
            missing.err, std::regex("\n(Ports that exist: /dev/.+|No serial port is plugged in)")))
            << missing.err;
        EXPECT_FALSE(contains(missing.out, "Open COM port failure")) << "errors stay off stdout";

        const RunResult file = run_cli({cmd, "--port", dir.file("plain.txt"), "--model", "M-066"});
        EXPECT_EQ(file.exitCode, 4) << cmd << file.err;
        EXPECT_TRUE(contains(file.err, dir.file("plain.txt") + " is not a serial device. / "))
            << file.err;
    }
}

TEST_F(PortErrors, BusyPortNamesTheProcessThatHoldsIt) {
    startSim("M-066", {"--power-on-delay", "600000"});
    CliProcess holder;
    ASSERT_TRUE(holder.start(ispPath(), {"--settings", dir.file("a.ini"), "connect", "--port",
                                         sim.linkPath(), "--model", "M-066"}));
    ASSERT_TRUE(holder.waitForOutput("Chinese:正在尝试与", 10s)) << holder.out();
    const RunResult second =
        isp({"--settings", dir.file("b.ini"), "read-options", "--model", "M-066"});
    EXPECT_EQ(second.exitCode, 4) << second.out << second.err;
    EXPECT_TRUE(std::regex_search(second.err,
                                  std::regex(R"(COM port in use by process \d+ \(qmx-isp\)\.)")))
        << second.err;
    holder.signal(SIGINT);
    EXPECT_EQ(holder.wait(10s).exitCode, 3);
}

// Process ids are reused: a lock file left by a killed program may name a process started
// later, which cannot have written it, and the port is free. A fresh lock file of a live
// process holds the port.
TEST_F(PortErrors, ALockFileWhoseProcessIdWasReusedDoesNotHoldThePort) {
    if (::access("/run/lock", W_OK) != 0) GTEST_SKIP() << "/run/lock is not writable here";
    startSim("M-066", {"--no-wire-time"});
    char real[PATH_MAX];
    ASSERT_NE(::realpath(sim.linkPath().c_str(), real), nullptr);
    std::string device = std::string(real).substr(std::strlen("/dev/"));
    std::replace(device.begin(), device.end(), '/', '_');
    const std::string lockFile = "/run/lock/LCK.." + device;
    const std::string me = std::to_string(::getpid());
    // This test's own process is alive, and it started well after the file's time.
    std::ofstream(lockFile) << std::string(10 - me.size(), ' ') << me << "\n";
    const std::time_t hourAgo = std::time(nullptr) - 3600;
    const struct utimbuf old { hourAgo, hourAgo };
    ASSERT_EQ(::utime(lockFile.c_str(), &old), 0);
    const RunResult stale =
        isp({"--settings", dir.file("a.ini"), "read-options", "--model", "M-066"});
    EXPECT_EQ(stale.exitCode, 0) << stale.err;
    EXPECT_FALSE(std::filesystem::exists(lockFile)) << "taken over, then removed at the end";

    std::ofstream(lockFile) << std::string(10 - me.size(), ' ') << me << "\n";
    const RunResult busy =
        isp({"--settings", dir.file("a.ini"), "read-options", "--model", "M-066"});
    ::unlink(lockFile.c_str());
    EXPECT_EQ(busy.exitCode, 4) << busy.err;
    EXPECT_TRUE(contains(busy.err, "COM port in use by process " + me)) << busy.err;
}

TEST_F(PortErrors, TimeoutEndsTheWaitForASilentChipWithTheHints) {
    startSim("M-079", {"--power-on-delay", "600000"});
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult r = isp({"connect", "--model", "M-079", "--timeout", "1.5"}, 30s);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_LT(waited, 15s) << "the wait did not end at its limit";
    // The limit came before the four seconds of the hints: they are given at the end.
    EXPECT_TRUE(contains(r.out, "Connection is failure. You can try:")) << r.out;
    EXPECT_TRUE(contains(r.err, "no chip answered within 1.5 s")) << r.err;

    std::ofstream(dir.file("a.bin")) << std::string(64, 'x');
    const RunResult d = isp({"--settings", dir.file("s.ini"), "--format", "json", "download",
                             dir.file("a.bin"), "--model", "M-079", "--timeout", "1"},
                            30s);
    EXPECT_EQ(d.exitCode, 1) << d.err;
    EXPECT_TRUE(contains(d.err, "no chip answered within 1 s")) << d.err;
    EXPECT_TRUE(contains(d.out, "\"command\":\"download\",\"chip\":1,\"result\":\"failed\""))
        << d.out;

    // The ISP demo waits for the application's loader with the same limit, hints included.
    const RunResult demo = isp({"--settings", dir.file("s.ini"), "--lang", "en", "isp-demo",
                                dir.file("a.bin"), "--model", "M-070", "--timeout", "1"},
                               30s);
    EXPECT_EQ(demo.exitCode, 1) << demo.out << demo.err;
    EXPECT_TRUE(contains(demo.out, "Connection is failure. You can try:")) << demo.out;
    EXPECT_TRUE(contains(demo.err, "no chip answered within 1 s")) << demo.err;

    const RunResult bad = isp({"connect", "--model", "M-079", "--timeout", "-1"});
    EXPECT_EQ(bad.exitCode, 2) << "a negative limit is refused";
}

}  // namespace
}  // namespace qmx::test
