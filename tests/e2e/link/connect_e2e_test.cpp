// The read-options and connect commands against a simulated chip of each family.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <regex>
#include <thread>

#include "link_fixture.h"

namespace qmx::test {
namespace {

struct Chip {
    const char* model;
    const char* clock;
    const char* letter;  // firmware letter of the family
    const char* baud;    // the rate connect settles on
};

// One chip per family 0..4, at the clocks the rates are known for.
const Chip kChips[] = {
    {"M-064", "11059200", "A", "115200"},  // family 0
    {"M-080", "12000000", "B", "38400"},   // family 1: 115200 and 57600 are too far off
    {"M-066", "6000000", "C", "38400"},    // family 2
    {"M-002", "12000000", "D", "57600"},   // family 3: generator E reaches 57600
    {"M-014", "33000000", "E", "115200"},  // family 4
};

class PerFamily : public LinkE2E, public ::testing::WithParamInterface<Chip> {};

TEST_P(PerFamily, ReadOptionsReportsVersionOptionsAndClockAt1200Baud) {
    const Chip& c = GetParam();
    startSim(c.model, {"--clock", c.clock});
    RunResult r = isp({"read-options", "--model", c.model});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, std::string("MCU Firmware Version: "))) << r.out;
    EXPECT_TRUE(contains(r.out, std::string(c.letter) + "\nChinese:MCU 固件版本号: ")) << r.out;
    const bool b = std::string(c.letter) == "B";
    const bool de = std::string(c.letter) == "D" || std::string(c.letter) == "E";
    EXPECT_TRUE(contains(r.out, de ? "Clock:" : "Internal clock:")) << r.out;
    EXPECT_TRUE(contains(r.out, b ? "Read MCU Firmware Version OK. / 读版本号成功."
                                  : "Read Chip Lock OK. / 读选项成功."))
        << r.out;
    EXPECT_FALSE(contains(r.out, "Now baud is"));
    // Every frame the chip answered went out at 1200 baud.
    std::istringstream log(simLog());
    int answers = 0;
    for (std::string line; std::getline(log, line);) {
        if (!contains(line, " tx ")) continue;
        ++answers;
        EXPECT_TRUE(contains(line, "1200 baud)")) << line;
    }
    EXPECT_GE(answers, 1);
    EXPECT_EQ(sim.stop(), 0);
}

TEST_P(PerFamily, ConnectSwitchesToTheFastestRateTheClockAllows) {
    const Chip& c = GetParam();
    startSim(c.model, {"--clock", c.clock});
    RunResult r = isp({"connect", "--model", c.model});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "We are trying to run more rapid ...")) << r.out;
    EXPECT_TRUE(contains(r.out, std::string("Now baud is: / 当前波特率为: ") + c.baud + " bps."))
        << r.out;
    EXPECT_FALSE(contains(r.out, "MCU Type is wrong"));
}

std::string familyName(const ::testing::TestParamInfo<Chip>& p) {
    return p.param.letter;
}
INSTANTIATE_TEST_SUITE_P(Families, PerFamily, ::testing::ValuesIn(kChips), familyName);

TEST_F(LinkE2E, ConnectHonoursTheBaudLimit) {
    startSim("M-066");
    RunResult r = isp({"connect", "--model", "M-066", "--max-baud", "9600"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 9600 bps.")) << r.out;
}

TEST_F(LinkE2E, ConnectShowsTheExactCrystal) {
    startSim("M-064");
    RunResult r = isp({"connect", "--model", "M-064"});
    EXPECT_EQ(r.exitCode, 0);
    // The measured clock of an 11.0592 MHz chip is within a count of it.
    EXPECT_TRUE(contains(r.out, "Internal clock:11.05")) << r.out;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 115200 bps.")) << r.out;
}

TEST_F(LinkE2E, TraceShowsBothDirectionsWithTimestamps) {
    startSim("M-066");
    RunResult r = isp({"--trace", "read-options", "--model", "M-066"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.err, " >> 7F 7F")) << r.err.substr(0, 400);
    EXPECT_TRUE(contains(r.err, " << 68")) << r.err.substr(0, 400);
    EXPECT_TRUE(contains(r.err, ">> 46 B9")) << r.err.substr(0, 400);
}

TEST_F(LinkE2E, PortsListsWithoutFailing) {
    RunResult r = run_cli({"ports"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(r.out.empty());
}

TEST_F(LinkE2E, WrongModelIsRefused) {
    startSim("M-002");
    RunResult r = isp({"connect", "--model", "M-004"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "MCU Type is wrong. / MCU 型号错, 请重选")) << r.err;
    EXPECT_TRUE(contains(r.err, "MCU Type is wrong, please select another MCU")) << r.err;
    EXPECT_FALSE(contains(r.out, "Now baud is"));
}

TEST_F(LinkE2E, UnknownModelIsBadInput) {
    RunResult r = run_cli({"connect", "--port", dir.file("none"), "--model", "M-999"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "M-999"));
}

TEST_F(LinkE2E, MissingPortGivesTheThreeOpenFailureLines) {
    for (const char* cmd : {"connect", "read-options"}) {
        RunResult r = run_cli({cmd, "--port", dir.file("no-such-port"), "--model", "M-066"});
        EXPECT_EQ(r.exitCode, 4) << cmd;
        EXPECT_TRUE(contains(r.err,
                             "Open COM port failure! / 打开串口失败!\n"
                             "The COM port opened by another Program or no the COM port.\n"
                             "Chinese:串口已被其它程序打开或该串口不存在。"))
            << r.err;
    }
}

TEST_F(LinkE2E, SilentChipGetsTheHintsAfterFourSecondsAndStopEndsTheSync) {
    startSim("M-066", {"--power-on-delay", "600000"});
    CliProcess p;
    ASSERT_TRUE(p.start(ispPath(), {"connect", "--port", sim.linkPath(), "--model", "M-066"}));
    ASSERT_TRUE(p.waitForOutput("Chinese:正在尝试与 MCU/单片机 握手连接", 5s));
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(p.waitForOutput(" 仍在连接中, 请给 MCU 上电...", 10s)) << p.out();
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GT(waited, 3500ms);
    EXPECT_LT(waited, 6000ms);
    EXPECT_TRUE(contains(p.out(), "Connection is failure. You can try:\n 1.Give your MCU"));
    p.signal(SIGINT);
    RunResult r = p.wait(10s);
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_TRUE(contains(r.out, "Operation is stop. / 操作被停止.")) << r.out;
    // The hints come once per handshake.
    EXPECT_EQ(r.out.find("Connection is failure."), r.out.rfind("Connection is failure."));
}

TEST_F(LinkE2E, StopWhileSyncingBeforeTheHints) {
    startSim("M-002", {"--power-on-delay", "600000"});
    CliProcess p;
    ASSERT_TRUE(p.start(ispPath(), {"read-options", "--port", sim.linkPath(), "--model", "M-002"}));
    ASSERT_TRUE(p.waitForOutput("Chinese:正在尝试与", 5s));
    std::this_thread::sleep_for(300ms);
    p.signal(SIGINT);
    RunResult r = p.wait(10s);
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_TRUE(contains(r.out, "Operation is stop. / 操作被停止.")) << r.out;
    EXPECT_FALSE(contains(r.out, "Connection is failure."));
}

TEST_F(LinkE2E, ChipPoweredOnLaterIsFoundByTheContinuingSync) {
    startSim("M-066", {"--power-on-delay", "1500"});
    RunResult r = isp({"connect", "--model", "M-066"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 115200 bps.")) << r.out;
}

TEST_F(LinkE2E, VanishingLineEndsTheSyncWithExit4) {
    startSim("M-066", {"--power-on-delay", "600000"});
    CliProcess p;
    ASSERT_TRUE(p.start(ispPath(), {"connect", "--port", sim.linkPath(), "--model", "M-066"}));
    ASSERT_TRUE(p.waitForOutput("Chinese:正在尝试与", 5s));
    std::this_thread::sleep_for(300ms);
    sim.kill();
    RunResult r = p.wait(10s);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4) << r.out;
    EXPECT_TRUE(contains(r.err, "串口已断开")) << r.err;
}

TEST_F(LinkE2E, OldLoaderWithoutStatusBytesIsAskedSeparately) {
    startSim("M-066", {"--short-status"});
    RunResult r = isp({"read-options", "--model", "M-066"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "We are Reading Chip Lock./ 正在读加密位,双倍速,版本号")) << r.out;
    EXPECT_TRUE(contains(r.out, "MCU Firmware Version: 3.6")) << r.out;
}

TEST_F(LinkE2E, SlowAnswersStillConnect) {
    startSim("M-066", {"--fault", "delay=300"});
    RunResult r = isp({"connect", "--model", "M-066"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 115200 bps.")) << r.out;
}

TEST_F(LinkE2E, UnansweredRateTestsEndInTheTimedFailure) {
    // The chip answers the synchronisation and then nothing more.
    startSim("M-066", {"--fault", "mute-after=1"});
    RunResult r = isp({"connect", "--model", "M-066"}, 90s);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(contains(r.err, "Handshake is failed. / 握手失败 (End: ")) << r.err;
    EXPECT_FALSE(contains(r.out, "Now baud is"));
}

TEST_F(LinkE2E, RateSearchStepsDownAndAPassInTheLastRoundIsAPass) {
    // This chip's UART cannot run above 28800 baud: 115200, 57600 and 38400 each fail a round
    // of three tests, and the fourth and last round passes at 28800.
    startSim("M-066", {"--fault", "max-rate=28800"});
    RunResult r = isp({"connect", "--model", "M-066"}, 90s);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 28800 bps.")) << r.out;
    EXPECT_FALSE(contains(r.out + r.err, "Handshake is failed")) << r.err;
    std::vector<std::string> tested;
    std::istringstream log(simLog());
    for (std::string line; std::getline(log, line);) {
        const auto at = line.find("baud test reload ");
        if (at == std::string::npos) continue;
        const auto colon = line.find(": ", at);
        tested.push_back(line.substr(colon + 2, line.find(' ', colon + 2) - colon - 2));
    }
    EXPECT_EQ(tested, (std::vector<std::string>{"115200", "115200", "115200", "57600", "57600",
                                                "57600", "38400", "38400", "38400", "28800"}));
}

TEST_F(LinkE2E, ASecondProgramIsRefusedWhileADownloadUsesThePort) {
    // Root or not: the download holds the port, a second qmx-isp is told who does (exit 4)
    // and the download goes on undisturbed.
    startSim("M-079", {"--flash-out", dir.file("flash.bin")});
    std::vector<std::uint8_t> image(0x6000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    {
        std::ofstream f(dir.file("a.bin"), std::ios::binary);
        f.write(reinterpret_cast<const char*>(image.data()),
                static_cast<std::streamsize>(image.size()));
    }
    CliProcess first;
    ASSERT_TRUE(
        first.start(ispPath(), {"--settings", dir.file("s.ini"), "download", dir.file("a.bin"),
                                "--port", sim.linkPath(), "--model", "M-079"}));
    ASSERT_TRUE(first.waitForOutput("Programming.../ 正在下载...", 30s)) << first.out();
    RunResult second = isp({"--settings", dir.file("s2.ini"), "connect", "--model", "M-079"});
    EXPECT_EQ(second.exitCode, 4) << second.out;
    EXPECT_TRUE(std::regex_search(second.err, std::regex(R"(port in use by process \d+)")))
        << second.err;
    RunResult r = first.wait(60s);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Program OK / 下载 OK")) << r.out;
    sim.stop();
    std::ifstream in(dir.file("flash.bin"), std::ios::binary);
    std::vector<std::uint8_t> flash((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(LinkE2E, NoiseBeforeEveryAnswerIsSkipped) {
    // Line noise ahead of the status frame, the rate test and the switch answers.
    startSim("M-066", {"--fault", "noise=24,seed=9"});
    RunResult r = isp({"connect", "--model", "M-066"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "MCU Firmware Version: 3.6C")) << r.out;
    EXPECT_TRUE(contains(r.out, "Internal clock:11.0")) << r.out;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 115200 bps.")) << r.out;
    EXPECT_TRUE(contains(simLog(), "fault: noise ")) << "the noise was not sent";
}

TEST_F(LinkE2E, CorruptedStatusFrameIsNotTaken) {
    // Seed 3 corrupts a byte of the chip's first status frame; the host keeps syncing instead
    // of reading a wrong clock or model from it.
    startSim("M-066", {"--fault", "corrupt=0.03,seed=3"});
    CliProcess p;
    ASSERT_TRUE(p.start(ispPath(), {"connect", "--port", sim.linkPath(), "--model", "M-066"}));
    EXPECT_TRUE(p.waitForOutput("Connection is failure. You can try:", 10s)) << p.out();
    p.signal(SIGINT);
    RunResult r = p.wait(10s);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(contains(r.out, "MCU Firmware Version"));
    ASSERT_TRUE(contains(simLog(), "to the host arrives as")) << "the seed no longer corrupts";
}

}  // namespace
}  // namespace qmx::test
