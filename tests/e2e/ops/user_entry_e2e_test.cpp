// Entering the loader from a running application, end to end: qmx-isp against qmx-chipsim
// playing a chip that runs a user application (personality app). What the chip ends up holding
// is compared with the image.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "support/sim_process.h"
#include "support/test_files.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The image at 0 and erased cells behind it.
void expectFlashHolds(const Bytes& flash, const Bytes& image, const std::string& what) {
    ASSERT_GE(flash.size(), image.size()) << what;
    for (std::size_t a = 0; a < flash.size(); ++a)
        ASSERT_EQ(flash[a], a < image.size() ? image[a] : 0xFF) << what << " address " << a;
}

// A chip running its application, a settings file and a work folder.
struct AppRig {
    TempDir dir;
    SimProcess sim;
    std::string flash = dir.file("flash.bin");
    std::string settings = dir.file("settings.ini");
    std::string image = dir.file("app.bin");

    bool start(const std::string& model, std::vector<std::string> extra) {
        std::vector<std::string> args{"--model",     model, "--personality", "app",
                                      "--flash-out", flash, "--log",         dir.file("chip.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        const bool ok = sim.start(chipsimPath(), args);
        if (!ok) ADD_FAILURE() << sim.error() << sim.output();
        return ok;
    }
    std::vector<std::string> args(const std::string& command, const std::string& model,
                                  std::vector<std::string> extra) {
        std::vector<std::string> a{"--settings",   settings,  command, image,    "--port",
                                   sim.linkPath(), "--model", model,   "--fill", "FF"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    std::string chipLog() { return readText(dir.file("chip.log")); }
};

TEST(UserCode, TheApplicationEntersItsBootLoaderAndTheOrdinaryDownloadFollows) {
    AppRig rig;
    ASSERT_TRUE(rig.start("M-070", {"--user-code", "12 34 56 78 9A"}));
    const Bytes image = randomBytes(0x5A0, 3);
    writeBin(rig.image, image);
    // Pairs without blanks and the line end of a typed text are the same code.
    const RunResult r = run_cli(rig.args("download", "M-070", {"--user-code", "1234 56789A\r\n"}));
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "Program OK / 下载 OK")) << r.out;
    EXPECT_TRUE(has(rig.chipLog(), "user code: the application jumps into the boot loader"));
    rig.sim.stop();
    expectFlashHolds(readFile(rig.flash), image, "M-070");
}

TEST(UserCode, ABadTokenIsRefusedBeforeAnythingIsSent) {
    AppRig rig;
    ASSERT_TRUE(rig.start("M-070", {"--user-code", "12 34"}));
    writeBin(rig.image, randomBytes(0x100, 4));
    for (const char* code : {"12 GZ", "12:;34", "12,3"}) {
        const RunResult r = run_cli(rig.args("download", "M-070", {"--user-code", code}));
        EXPECT_EQ(r.exitCode, 2) << code << r.out << r.err;
        EXPECT_TRUE(has(r.out, "not a hexadecimal byte")) << code << r.out;
    }
    EXPECT_FALSE(has(rig.chipLog(), "user code")) << rig.chipLog();
}

TEST(IspDemo, UserCodeThenTheApplicationsLoaderTakesTheImageWithoutCountingIt) {
    AppRig rig;
    ASSERT_TRUE(rig.start("M-068", {"--in-app-loader", "--user-code", "AA 55 01"}));
    const Bytes image = randomBytes(0x9F0, 5);
    writeBin(rig.image, image);
    {
        std::ofstream s(rig.settings);
        s << "[Settings]\nWrite_OK_Count=5\n";
    }
    const RunResult r = run_cli(
        rig.args("isp-demo", "M-068", {"--user-code", "AA5501", "--demo-settings", "9600,E,8,1"}));
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "Connection is OK... / 握手成功...")) << r.out;
    EXPECT_TRUE(has(r.out, "Program OK / 下载 OK")) << r.out;
    EXPECT_FALSE(has(r.out, "Have already encrypt.")) << r.out;
    rig.sim.stop();
    expectFlashHolds(readFile(rig.flash), image, "M-068");
    EXPECT_FALSE(has(readText(rig.settings), "Write_OK_Count=6"));
}

TEST(IspDemo, ASeriesOfThreeChipsEachWithItsOwnNumber) {
    AppRig rig;
    ASSERT_TRUE(rig.start("M-072", {"--in-app-loader", "--chips", "3", "--swap-delay", "300"}));
    const Bytes image = randomBytes(0x700, 6);
    writeBin(rig.image, image);
    const RunResult r = run_cli(
        rig.args("isp-demo", "M-072",
                 {"--series", "--count", "3", "--delay", "2", "--serial", "7FF,2,0041,1,hex"}),
        120s);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "After a few seconds re-connect will continue.  1")) << r.out;
    rig.sim.stop();
    for (int chip = 1; chip <= 3; ++chip) {
        Bytes want = image;
        want.resize(0x800, 0xFF);
        want[0x7FE] = 0x00;
        want[0x7FF] = static_cast<std::uint8_t>(40 + chip);  // the number counts in decimal
        expectFlashHolds(readFile(rig.flash + "." + std::to_string(chip)), want,
                         "chip " + std::to_string(chip));
    }
}

TEST(IspDemo, StopDuringTheCountdownEndsTheSeriesAtOnce) {
    AppRig rig;
    ASSERT_TRUE(rig.start("M-068", {"--in-app-loader", "--chips", "2", "--swap-delay", "300"}));
    writeBin(rig.image, randomBytes(0x300, 10));
    CliProcess cli;
    ASSERT_TRUE(cli.start(ispPath(), rig.args("isp-demo", "M-068", {"--series", "--delay", "9"})));
    ASSERT_TRUE(cli.waitForOutput("re-connect will continue.  9", 30s)) << cli.out();
    const auto stoppedAt = std::chrono::steady_clock::now();
    cli.signal(SIGINT);
    const RunResult r = cli.wait(30s);
    // Well before the countdown would have run out.
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 6s);
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    const std::string tail = r.out.substr(r.out.rfind("re-connect will continue."));
    EXPECT_TRUE(has(tail, "Operation is stop. / 操作被停止.")) << r.out;
    EXPECT_FALSE(has(tail, "We are trying to connect")) << r.out;
}

TEST(IspDemo, AWrongModelIsRefusedAndAModelWithoutCodeIsNotTried) {
    AppRig rig;
    ASSERT_TRUE(rig.start("M-070", {"--in-app-loader"}));
    writeBin(rig.image, randomBytes(0x200, 7));
    RunResult r = run_cli(rig.args("isp-demo", "M-068", {}));
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(has(r.err, "MCU Type is wrong. / MCU 型号错, 请重选")) << r.err;

    r = run_cli(rig.args("isp-demo", "M-074", {}));
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "this model cannot be programmed through the ISP demo")) << r.out;
    EXPECT_FALSE(has(r.out + r.err, "MCU Type is wrong")) << r.err;
    EXPECT_FALSE(has(r.out, "We are trying to connect")) << r.out;
}

TEST(IspDemo, ASilentApplicationGetsTheHintsThenStopEndsTheWait) {
    AppRig rig;
    // The loader opens only on a user code that is never sent.
    ASSERT_TRUE(rig.start("M-068", {"--in-app-loader", "--user-code", "77 88"}));
    writeBin(rig.image, randomBytes(0x200, 8));
    CliProcess cli;
    ASSERT_TRUE(cli.start(ispPath(), rig.args("isp-demo", "M-068", {})));
    ASSERT_TRUE(cli.waitForOutput(" 仍在连接中, 请给 MCU 上电...", 20s)) << cli.out();
    cli.signal(SIGINT);
    const RunResult r = cli.wait(20s);
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "连接失败，请尝试以下操作：")) << r.out;
    EXPECT_FALSE(has(r.out, "Connection is failure. You can try:")) << r.out;
    EXPECT_TRUE(has(r.out, "Operation is stop. / 操作被停止.")) << r.out;
}

TEST(IspDemo, StopDuringProgrammingEndsTheDemo) {
    AppRig rig;
    ASSERT_TRUE(rig.start("M-072", {"--in-app-loader", "--wire-time"}));
    writeBin(rig.image, randomBytes(0x6000, 9));
    CliProcess cli;
    ASSERT_TRUE(
        cli.start(ispPath(), rig.args("isp-demo", "M-072", {"--demo-settings", "4800,E,8,1"})));
    ASSERT_TRUE(cli.waitForOutput("Programming...", 30s)) << cli.out();
    cli.signal(SIGINT);
    const RunResult r = cli.wait(30s);
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "Operation is stop. / 操作被停止.")) << r.out;
    EXPECT_FALSE(has(r.out, "Program OK")) << r.out;
}

}  // namespace
}  // namespace qmx::test
