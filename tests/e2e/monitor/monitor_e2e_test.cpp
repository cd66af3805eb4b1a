// The emulation monitor end to end: qmx-isp softice writes the monitor image into a simulated
// chip (whose flash is compared with the image builder's), the chip starts the monitor, and
// qmx-isp debug shows what it reports.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "monitor/monitor_image.h"
#include "support/sim_process.h"
#include "support/test_files.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Our own stand-ins for the monitor files: known patterns of the right sizes.
Bytes pattern(std::size_t n, unsigned salt) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 13 + salt + (i >> 8));
    return b;
}

void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

bool has(const std::string& text, const std::string& needle) {
    return text.find(needle) != std::string::npos;
}

// Runs qmx-isp debug until `needle` has been printed, then Ctrl-C; returns what it printed.
std::string debugUntil(const std::string& port, std::vector<std::string> extra,
                       const std::string& needle, int& exitCode) {
    CliProcess cli;
    std::vector<std::string> args{"debug", "--port", port};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_TRUE(cli.start(ispPath(), args));
    const bool seen = cli.waitForOutput(needle, 30s);
    EXPECT_TRUE(seen) << "never printed " << needle << ":\n" << cli.out();
    cli.signal(SIGINT);
    const RunResult r = cli.wait(10s);
    exitCode = r.exitCode;
    return r.out;
}

TEST(MonitorE2E, SoftIceWritesTheImageAndTheDebugPortShowsTheMonitorsReports) {
    TempDir dir;
    const Bytes core = pattern(384, 1), model = pattern(4096, 2);
    writeFile(dir.file("QMX2000.rom"), core);
    writeFile(dir.file("QMX516_2003.ROM"), model);
    SimProcess sim;
    ASSERT_TRUE(sim.start(chipsimPath(), {"--model", "M-064", "--flash-out", dir.file("flash.bin"),
                                          "--log", dir.file("sim.log"), "--report-period", "100"}))
        << sim.error();

    const RunResult r = run_cli({"--yes", "softice", "--port", sim.linkPath(), "--model", "M-064",
                                 "--monitor-dir", dir.path()},
                                120s);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "Download Soft_ICE is succeed /下载 Soft_ICE 成功")) << r.out;

    const auto image = buildMonitorImage(core, model, "QMX516_2003.ROM").image;
    const Bytes flash = readFile(dir.file("flash.bin"));
    ASSERT_EQ(flash.size(), 0x10000u);
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x80, image.begin()));
    EXPECT_TRUE(std::equal(flash.begin() + 0x2000, flash.begin() + 0x3400, image.begin() + 0x2000));
    EXPECT_EQ(flash[0x2180], 0x43);
    EXPECT_EQ(flash[0x1000], 0xFF);
    EXPECT_TRUE(has(readText(dir.file("sim.log")), "starts the monitor image"));

    int exitCode = -1;
    const std::string out =
        debugUntil(sim.linkPath(), {"--format", "json"}, "\"report\":\"window\"", exitCode);
    EXPECT_EQ(exitCode, 0);
    // The registers as the monitor reported them: SP 07, TMOD 21, B 5A; DPTR 1234.
    EXPECT_TRUE(has(out, R"({"address":"81","name":"SP","value":7})")) << out;
    EXPECT_TRUE(has(out, R"({"address":"89","name":"TMOD","value":33})")) << out;
    EXPECT_TRUE(has(out, R"({"address":"83","name":"DPH","value":18})")) << out;
    // Internal RAM: R0 points at 30; data memory and the window at 1000 hold the chip's pattern.
    EXPECT_TRUE(has(out, R"("00H  30 )")) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(R"("0008 18 1B 1E 21 24 27 2A 2D")"))) << out;
    EXPECT_TRUE(has(out, R"("base":"1000")")) << out;
    EXPECT_TRUE(has(out, R"("1000 10 13 16 19 1C 1F 02 05")")) << out;
    EXPECT_EQ(sim.stop(), 0);
}

TEST(MonitorE2E, SpoiltFramesAreAskedForAgainAndABreakpointWaitsForContinue) {
    TempDir dir;
    SimProcess sim;
    ASSERT_TRUE(sim.start(chipsimPath(), {"--model", "M-064", "--personality", "monitor", "--log",
                                          dir.file("sim.log"), "--report-period", "50", "--fault",
                                          "corrupt=0.4,seed=7", "--breakpoint-after", "2"}))
        << sim.error();
    // Two cycles, then the program waits at its breakpoint until Continue.
    CliProcess cli;
    ASSERT_TRUE(cli.start(ispPath(), {"debug", "--port", sim.linkPath()}));
    std::string log;
    for (int i = 0; i < 300 && !has(log, "paused at the breakpoint"); ++i) {
        cli.waitForOutput("never printed", 100ms);
        log = readText(dir.file("sim.log"));
    }
    cli.signal(SIGINT);
    const RunResult first = cli.wait(10s);
    EXPECT_EQ(first.exitCode, 0);
    ASSERT_TRUE(has(log, "paused at the breakpoint")) << log << first.out;
    EXPECT_TRUE(has(first.out, "[sfr]")) << first.out;
    EXPECT_TRUE(has(first.out, "E0H ACC        02H    2")) << first.out;
    EXPECT_TRUE(has(first.out, "[window]")) << first.out;
    EXPECT_TRUE(has(log, "checksum spoilt")) << log;
    EXPECT_TRUE(has(log, "asked again")) << log;

    int exitCode = -1;
    debugUntil(sim.linkPath(), {"--continue", "--format", "json"}, R"("name":"ACC","value":3)",
               exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(has(readText(dir.file("sim.log")), "T: the program goes on"));
    EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
}  // namespace qmx::test
