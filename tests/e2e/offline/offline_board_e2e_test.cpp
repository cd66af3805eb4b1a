// qmx-isp offline-board against the simulated board over a pseudo-terminal: what the board
// stores (its flash file) byte for byte against the image --dump-image writes, per family,
// version and kind of board; the refusals, Stop and a board that never answers.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <iterator>
#include <random>

#include "core/isp_core.h"
#include "image/hex_loader.h"
#include "offline/offline_board.h"
#include "ops/session_control.h"
#include "support/recording_ui.h"
#include "support/sim_process.h"
#include "support/test_files.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kStore = 0x10000;

// One simulated board, a settings file and a work folder.
struct Board {
    TempDir dir;
    SimProcess sim;
    std::string store = dir.file("store.bin");
    std::string log = dir.file("board.log");
    std::string settings = dir.file("settings.ini");
    std::string image = dir.file("image.bin");

    bool start(const std::string& model, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--model",     model, "--personality", "offline-board",
                                      "--flash-out", store, "--log",         log};
        if (std::find(extra.begin(), extra.end(), "--wire-time") == extra.end())
            args.push_back("--no-wire-time");
        args.insert(args.end(), extra.begin(), extra.end());
        const bool ok = sim.start(chipsimPath(), args);
        if (!ok) ADD_FAILURE() << sim.error() << sim.output();
        return ok;
    }
    std::vector<std::string> args(const std::string& file, const std::string& model,
                                  const std::vector<std::string>& extra) {
        std::vector<std::string> a{"--settings", settings, "offline-board", file,
                                   "--model",    model,    "--fill",        "FF"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    RunResult load(const std::string& file, const std::string& model,
                   std::vector<std::string> extra) {
        extra.insert(extra.end(), {"--port", sim.linkPath()});
        return run_cli(args(file, model, extra), 120s);
    }
    Bytes dump(const std::string& file, const std::string& model, std::vector<std::string> extra) {
        extra.insert(extra.end(), {"--dump-image", image});
        const RunResult r = run_cli(args(file, model, extra));
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        return readFile(image);
    }
    Bytes stopAndReadStore() {
        sim.stop();
        return readFile(store);
    }
    std::string boardLog() const {
        std::ifstream in(log);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

void expectSame(const Bytes& store, const Bytes& image, std::size_t from, std::size_t to,
                const char* what) {
    ASSERT_GT(store.size(), to) << what;
    ASSERT_GT(image.size(), to) << what;
    for (std::size_t a = from; a <= to; ++a)
        ASSERT_EQ(store[a], image[a]) << what << " at board address " << std::hex << a;
}

// ---------------------------------------------------------------- boards that take it all

struct BoardCase {
    const char* name;
    const char* model;
    const char* version;
    bool extended;
    std::size_t imageSize;
    std::vector<std::string> extra;
};

void PrintTo(const BoardCase& c, std::ostream* os) {
    *os << c.name;
}

class EveryBoard : public ::testing::TestWithParam<BoardCase> {};

TEST_P(EveryBoard, StoreHoldsTheImageTheBuilderMade) {
    const BoardCase& c = GetParam();
    Board board;
    std::vector<std::string> simArgs{"--board-version", c.version};
    if (c.extended) simArgs.push_back("--board-extended");
    ASSERT_TRUE(board.start(c.model, simArgs));
    const Bytes app = randomBytes(c.imageSize, 5);
    const std::string file = board.dir.file("app.bin");
    writeBin(file, app);

    const RunResult r = board.load(file, c.model, c.extra);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string v = std::string(1, c.version[0]) + "." + c.version[1];
    EXPECT_NE(r.out.find("Version: " + v + "\n脱机下载固件版本号: " + v), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Connect OK. / 连接成功。"), std::string::npos);
    EXPECT_NE(r.out.find("Download OK. / 下载成功。"), std::string::npos) << r.out;

    const Bytes image = board.dump(file, c.model, c.extra);
    ASSERT_EQ(image.size(), kStore);
    const Bytes store = board.stopAndReadStore();
    const int version = std::stoi(c.version);
    expectSame(store, image, 0x4000, version >= 17 ? 0xF7FF : 0xF3FF, "first phase");
    if (c.extended) {
        // The second store holds chip 0xAC00-0xF3FF at board 0x4000-0x87FF.
        ASSERT_EQ(store.size(), 2 * kStore);
        for (std::size_t a = 0xAC00; a <= 0xF3FF; ++a) {
            const std::uint8_t want = a < app.size() ? app[a] : 0xFF;
            ASSERT_EQ(store[kStore + 0x4000 + a - 0xAC00], want) << std::hex << a;
        }
    } else if (version == 16) {
        expectSame(store, image, 0x2000, 0x3FFF, "second part");
    } else {
        EXPECT_EQ(store[0x2000], 0xFF) << "no second phase for version " << version;
        EXPECT_EQ(board.boardLog().find("erase the second store"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    OfflineBoard, EveryBoard,
    ::testing::Values(
        // Family 2, version 1.6: first phase and the second part AC00-CBFF; a serial number
        // that crosses a 128-byte boundary; 4097 chips.
        BoardCase{"Family2Version16",
                  "M-065",
                  "16",
                  false,
                  0xB000,
                  {"--limit", "4097", "--serial", "0201,4,1234,2,bcd"}},
        // Family 3, version 1.7: the first phase reaches F7FF; the option bytes go along.
        BoardCase{"Family3Version17",
                  "M-010",
                  "17",
                  false,
                  0x0F00,
                  {"--limit", "1000000", "--option", "wdt-lock=yes"}},
        // Family 4, version 1.5: one phase only.
        BoardCase{"Family4Version15", "M-022", "15", false, 0x1F00, {"--limit", "7"}},
        // An extended board: the second phase sends chip AC00-F3FF.
        BoardCase{"ExtendedVersion17", "M-065", "17", true, 0xF000, {"--limit", "12"}}),
    [](const ::testing::TestParamInfo<BoardCase>& i) { return std::string(i.param.name); });

// Damaged bytes both ways: a block the board throws away for its CRC, or an answer the host
// throws away for its CRC, is sent again (the first block of the chunk as 30) until the store
// holds the image.
TEST(OfflineBoardLine, DamagedBlocksAreSentAgain) {
    Board board;
    ASSERT_TRUE(board.start("M-072", {"--fault", "corrupt=0.00005,seed=7"}));
    const std::string file = board.dir.file("app.bin");
    writeBin(file, randomBytes(0x3000, 8));
    const RunResult r = board.load(file, "M-072", {"--limit", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const Bytes image = board.dump(file, "M-072", {"--limit", "2"});
    const Bytes store = board.stopAndReadStore();
    expectSame(store, image, 0x4000, 0xF3FF, "first phase");
    expectSame(store, image, 0x2000, 0x3FFF, "second part");
    const std::string log = board.boardLog();
    EXPECT_NE(log.find("fault: byte"), std::string::npos) << "the seed must damage something";
    EXPECT_NE(log.find("block again"), std::string::npos) << log.substr(0, 4000);
}

// ---------------------------------------------------------------- refusals

TEST(OfflineBoardRefusals, BadLimitRefusedBeforeThePortOpens) {
    TempDir dir;
    const std::string file = dir.file("app.bin");
    writeBin(file, randomBytes(0x100, 1));
    for (const char* limit : {"0", "1000001", "2.5"}) {
        const RunResult r =
            run_cli({"--settings", dir.file("s.ini"), "offline-board", file, "--model", "M-072",
                     "--port", dir.file("no-such-port"), "--limit", limit});
        EXPECT_EQ(r.exitCode, 2) << limit << r.out << r.err;
        EXPECT_EQ((r.out + r.err).find("Open COM port is failure!"), std::string::npos) << r.err;
    }
    const RunResult zero = run_cli({"--settings", dir.file("s.ini"), "offline-board", file,
                                    "--model", "M-072", "--port", dir.file("x"), "--limit", "0"});
    EXPECT_NE(zero.err.find("脱机下载板下载数量上限应大于 0。"), std::string::npos) << zero.err;
}

TEST(OfflineBoardRefusals, ImageTheBoardCannotDeliverIsNotSent) {
    Board board;
    ASSERT_TRUE(board.start("M-065", {"--board-version", "15"}));
    const std::string file = board.dir.file("app.bin");
    writeBin(file, randomBytes(0xB000, 2));  // reaches beyond ABFF
    const RunResult r = board.load(file, "M-065", {"--limit", "1"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("AC00-AFFF"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Download OK"), std::string::npos) << r.out;
    board.sim.stop();
    EXPECT_EQ(board.boardLog().find("block"), std::string::npos) << "nothing may be sent";
}

TEST(OfflineBoardRefusals, UnknownVersionAndEmptyBoard) {
    for (const std::vector<std::string>& simArgs :
         {std::vector<std::string>{"--board-version", "0x1A"},
          std::vector<std::string>{"--board-capacity", "0"}}) {
        Board board;
        ASSERT_TRUE(board.start("M-072", simArgs));
        const std::string file = board.dir.file("app.bin");
        writeBin(file, randomBytes(0x400, 3));
        const RunResult r = board.load(file, "M-072", {"--limit", "1"});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("nothing was sent"), std::string::npos) << r.err;
        board.sim.stop();
        EXPECT_EQ(board.boardLog().find("erase 2000"), std::string::npos);
    }
}

// ---------------------------------------------------------------- no answer, Stop

TEST(OfflineBoardWaits, BoardThatNeverAnswers) {
    Board board;
    ASSERT_TRUE(board.start("M-072", {"--power-on-delay", "600000"}));
    const std::string file = board.dir.file("app.bin");
    writeBin(file, randomBytes(0x400, 4));
    const RunResult r = board.load(file, "M-072", {"--limit", "1", "--timeout", "2"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Communication is failure!\n连接失败。"), std::string::npos) << r.err;
}

TEST(OfflineBoardWaits, StopDuringWakeUpAndDuringTheDownload) {
    for (const char* when : {"请给脱机下载板上电。", "正在下载 ..."}) {
        Board board;
        const bool wake = std::string(when) == "请给脱机下载板上电。";
        ASSERT_TRUE(
            board.start("M-065", wake ? std::vector<std::string>{"--power-on-delay", "600000"}
                                      : std::vector<std::string>{"--wire-time"}));
        const std::string file = board.dir.file("app.bin");
        writeBin(file, randomBytes(0x8000, 6));
        CliProcess cli;
        std::vector<std::string> a =
            board.args(file, "M-065", {"--limit", "1", "--port", board.sim.linkPath()});
        ASSERT_TRUE(cli.start(ispPath(), a));
        ASSERT_TRUE(cli.waitForOutput(when, 30s)) << cli.out();
        cli.signal(SIGINT);
        const RunResult r = cli.wait(30s);
        EXPECT_EQ(r.exitCode, 3) << when << r.out << r.err;
        EXPECT_NE(r.out.find("Operation is stop.\n操作被停止."), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Download OK"), std::string::npos) << r.out;
    }
}

TEST(OfflineBoardWaits, LineThatVanishesMidDownload) {
    Board board;
    ASSERT_TRUE(board.start("M-072", {"--fault", "vanish-after=40", "--wire-time"}));
    const std::string file = board.dir.file("app.bin");
    writeBin(file, randomBytes(0x400, 9));
    const RunResult r = board.load(file, "M-072", {"--limit", "1"});
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_NE(r.err.find("串口已断开"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Download OK"), std::string::npos) << r.out;
}

// In one process: Stop in the middle of the download ends the CRC mode, the buttons were busy
// from start to end, and the user's code buffer keeps its serial number.
class StopWhenSending : public RecordingUi {
  public:
    IspCore* core = nullptr;
    void appendMessage(const std::string& line) override {
        RecordingUi::appendMessage(line);
        if (line == "正在下载 ...") core->session.stop_requested = true;
    }
};

TEST(OfflineBoardWaits, EveryEndLeavesTheChannelAndBufferAsBefore) {
    Board board;
    ASSERT_TRUE(board.start("M-072"));
    const std::string file = board.dir.file("app.bin");
    writeBin(file, randomBytes(0x2000, 7));

    StopWhenSending ui;
    IspCore core(&ui);
    ui.core = &core;
    core.model = findModel("M-072");
    core.portPath = board.sim.linkPath();
    core.buffer.fillByte = 0xFF;
    core.buffer.currentPath = file;
    core.buffer.clearOnLoad = true;
    ASSERT_TRUE(loadSelectedFile(core.buffer, *core.model, core.serial, ui).loaded());
    core.serial.enabled = true;
    core.serial.addressText = "0100";
    core.serial.lengthText = "2";
    core.serial.nextValueText = "0042";
    core.serial.incrementText = "1";
    const auto before = core.buffer.bytes;
    core.channel.set_header_expected(true);  // as a chip's handshake may leave it

    EXPECT_EQ(run_offline_board_session(core, "3", 5), Outcome::Stopped);
    EXPECT_FALSE(core.channel.crc_check());
    EXPECT_EQ(core.buffer.bytes, before);
    ASSERT_FALSE(ui.buttonStates.empty());
    EXPECT_EQ(ui.buttonStates.front(), kButtonBusy);
    EXPECT_EQ(ui.buttonStates.back(), kButtonIdle);
    EXPECT_EQ(std::count(ui.buttonStates.begin(), ui.buttonStates.end(), kButtonIdle), 1);
    EXPECT_TRUE(ui.saw("Operation is stop."));
}

}  // namespace
}  // namespace qmx::test
