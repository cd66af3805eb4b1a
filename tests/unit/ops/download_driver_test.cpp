// The session driver against a scripted chip: the report of a good chip, the success counter,
// the series with its countdown, Stop, the run frame, and the file watch that waits for a
// running session to end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "catalogue/model_catalogue.h"
#include "core/isp_core.h"
#include "fake_chip.h"
#include "ops/download_driver.h"
#include "support/recording_ui.h"

namespace qmx {
namespace {

using test::FakeChip;
using test::RecordingUi;
namespace fs = std::filesystem;

struct CountingUi : RecordingUi {
    std::vector<std::string> replaced;
    void replaceMessages(const std::string& text) override { replaced.push_back(text); }
};

struct Rig {
    CountingUi ui;
    IspCore core{&ui};
    FakeChip chip{core};
    fs::path dir;

    explicit Rig(const char* model) {
        dir = fs::temp_directory_path() /
              ("qmx_driver_" + std::to_string(::getpid()) + "_" + std::to_string(counter()++));
        fs::create_directories(dir);
        core.settings.setPath(dir / "settings.ini");
        core.model = findModel(model);
        resetOptionPage(core.options, core.model->family);
        core.facts.firmware_version = "3.6";
        core.facts.firmware_suffix = familyFirmwareLetter(core.model->family);
        core.facts.clock_hz = 11059200;
        core.facts.option_byte = 0xFF;
        core.facts.ext_option_bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        core.buffer.bytes.fill(0xFF);
        for (long a = 0; a < 0x300; ++a)
            core.buffer.bytes[a] = static_cast<std::uint8_t>(a);
        core.buffer.viewStart = 0;
        core.buffer.viewEnd = 0x2FF;
        core.buffer.imageLoaded = true;
    }
    ~Rig() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    static int& counter() {
        static int n = 0;
        return n;
    }
};

TEST(DownloadTexts, TotalTimeAndReportLines) {
    EXPECT_EQ(totalTimeText(65), "01:05");
    EXPECT_EQ(totalTimeText(125), "02:05");
    EXPECT_EQ(totalTimeText(0), "00:00");
    EXPECT_EQ(totalTimeText(6000 + 59), "00:59");  // minutes keep their last two digits
    EXPECT_EQ(blockRetryLine(3),
              "Blocks sent again before the MCU confirmed them: 3 / 重发后才确认的块: 3");
    const auto lines = successReportLines("(有一部分数据未下载)。", "00:07");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Program OK / 下载 OK(有一部分数据未下载)。");
    EXPECT_EQ(lines[1], "Verify  OK / 校验 OK  ( Total: 00:07 )");
    EXPECT_EQ(lines[2], "Have already encrypt. / 已加密");
    EXPECT_EQ(countdownPaneText("T", 3),
              "T\r\n\r\nProgram succeed. / 下载成功.\r\n\r\nAfter a few seconds re-connect will "
              "continue.  3\r\n\r\nChinese:几秒钟后将继续下载下一个 MCU...  3");
}

TEST(DownloadSession, NoFileAsksForOne) {
    Rig r("M-079");
    r.core.buffer.imageLoaded = false;
    EXPECT_EQ(run_download_session(r.core, r.chip, 0).outcome, Outcome::NoFile);
    ASSERT_EQ(r.ui.boxes.size(), 1u);
    EXPECT_EQ(r.ui.boxes[0].text, "    Please open file./请打开文件。    ");
    EXPECT_EQ(r.chip.connects, 0);
}

TEST(DownloadSession, SerialNumberThatCannotBeAppliedIsRefusedBeforeConnecting) {
    Rig r("M-079");
    r.core.serial.enabled = true;
    r.core.serial.addressText = "2FF";
    r.core.serial.lengthText = "1";
    r.core.serial.nextValueText = "256";
    r.core.serial.format = SerialFormat::Binary;
    EXPECT_EQ(run_download_session(r.core, r.chip, 0).outcome, Outcome::BadInput);
    EXPECT_EQ(r.chip.connects, 0);
    ASSERT_FALSE(r.ui.boxes.empty());
    EXPECT_EQ(r.ui.boxes.back().text, "自动增量字节数太小");
}

TEST(DownloadSession, AStopForGoodIsNotClearedByTheNextSession) {
    // The command line's Ctrl-C may come just before a session starts (a file watch's next
    // download): that session must stop, not wait for a chip nobody will bring.
    Rig r("M-079");
    r.core.session.stop_requested = true;
    r.core.session.stop_for_good = true;
    r.core.download.writeOkCount = "41";
    EXPECT_EQ(run_download_session(r.core, r.chip, 0).outcome, Outcome::Stopped);
    EXPECT_EQ(r.core.download.writeOkCount, "41");
    EXPECT_TRUE(r.chip.blocks.empty());
}

TEST(DownloadSession, OneChipReportsCountsAndRuns) {
    Rig r("M-079");
    r.core.download.writeOkCount = "41";
    EXPECT_EQ(run_download_session(r.core, r.chip, 0).outcome, Outcome::Ok);
    const auto& l = r.ui.lines;
    ASSERT_GE(l.size(), 3u);
    EXPECT_EQ(l[l.size() - 3], "Program OK / 下载 OK");
    EXPECT_EQ(l[l.size() - 2].rfind("Verify  OK / 校验 OK  ( Total: 00:0", 0), 0u);
    EXPECT_EQ(l.back(), "Have already encrypt. / 已加密");
    EXPECT_EQ(r.core.download.writeOkCount, "42");
    EXPECT_EQ(r.core.settings.read("Settings", "Write_OK_Count"), "42");
    // The run frame: 46 B9 6A 00 08 52 02 00 C6 16.
    ASSERT_FALSE(r.chip.rawWrites.empty());
    EXPECT_EQ(r.chip.rawWrites[0], (std::vector<std::uint8_t>{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x52,
                                                              0x02, 0x00, 0xC6, 0x16}));
    EXPECT_EQ(r.ui.beeps, (std::vector<int>{1}));
    EXPECT_EQ(r.ui.buttonStates.back(), kStateIdle);
    EXPECT_FALSE(r.core.session.connected);
    EXPECT_FALSE(r.core.session.session_running);
}

TEST(DownloadSession, BlocksSentAgainAreCountedInTheReport) {
    Rig r("M-079");
    EXPECT_EQ(run_download_session(r.core, r.chip, 0).outcome, Outcome::Ok);
    ASSERT_GE(r.ui.lines.size(), 4u);
    EXPECT_EQ(r.ui.lines[r.ui.lines.size() - 4], blockRetryLine(0));
    Rig noisy("M-079");
    noisy.chip.dropBlock = [](const test::SentBlock&, std::size_t index) { return index == 1; };
    EXPECT_EQ(run_download_session(noisy.core, noisy.chip, 0).outcome, Outcome::Ok);
    ASSERT_GE(noisy.ui.lines.size(), 4u);
    EXPECT_EQ(noisy.ui.lines[noisy.ui.lines.size() - 4], blockRetryLine(1));
}

TEST(DownloadSession, FamilyOneSkipsTheOptionStep) {
    Rig r("M-085");
    EXPECT_EQ(run_download_session(r.core, r.chip, 0).outcome, Outcome::Ok);
    for (const auto& c : r.chip.commands)
        EXPECT_NE(c[3], 0x8D);
    EXPECT_EQ(r.ui.lines.back(), "Have already encrypt. / 已加密");
}

TEST(DownloadSession, NonNumericCounterCountsAsZero) {
    Rig r("M-079");
    r.core.download.writeOkCount = "abc";
    run_download_session(r.core, r.chip, 0);
    EXPECT_EQ(r.core.download.writeOkCount, "1");
}

TEST(DownloadSession, SeriesCountsDownBetweenChips) {
    Rig r("M-079");
    r.core.download.seriesLimit = 3;
    r.core.download.seriesDelayRow = 6;  // "3" seconds
    EXPECT_EQ(run_download_session(r.core, r.chip, 1).outcome, Outcome::Ok);
    EXPECT_EQ(r.chip.connects, 3);
    EXPECT_EQ(r.core.download.writeOkCount, "3");
    EXPECT_EQ(r.core.session.chips_done, 3);
    // Two gaps of three steps: 3, 2, 1.
    ASSERT_EQ(r.ui.replaced.size(), 6u);
    EXPECT_NE(r.ui.replaced[0].find("re-connect will continue.  3"), std::string::npos);
    EXPECT_NE(r.ui.replaced[2].find("MCU...  1"), std::string::npos);
}

TEST(DownloadSession, FailureStopsTheSessionWithoutFurtherText) {
    Rig r("M-079");
    r.chip.dropBlock = [](const test::SentBlock&, std::size_t) { return true; };
    EXPECT_EQ(run_download_session(r.core, r.chip, 1).outcome, Outcome::Failed);
    EXPECT_EQ(r.chip.connects, 1);
    EXPECT_EQ(r.core.download.writeOkCount, "0");
    EXPECT_EQ(r.chip.shortCommands.back(), 0x82);
    EXPECT_TRUE(r.ui.saw("Program is failure. / 下载失败 (End: "));
}

TEST(DownloadSession, StopDuringProgrammingEndsAsStopped) {
    Rig r("M-079");
    r.chip.stopAtBlock = 1;
    EXPECT_EQ(run_download_session(r.core, r.chip, 0).outcome, Outcome::Stopped);
    EXPECT_TRUE(r.ui.saw("Operation is stop. / 操作被停止."));
}

TEST(ClearCounter, AsksAndSaves) {
    Rig r("M-079");
    r.core.download.writeOkCount = "7";
    r.ui.scriptedAnswers = {BoxAnswer::No};
    clear_success_count(r.core);
    EXPECT_EQ(r.core.download.writeOkCount, "7");
    r.ui.scriptedAnswers = {BoxAnswer::Yes};
    clear_success_count(r.core);
    EXPECT_EQ(r.core.download.writeOkCount, "0");
    EXPECT_EQ(r.core.settings.read("Settings", "Write_OK_Count"), "0");
    EXPECT_EQ(r.ui.boxes.back().text, "您要把下载成功计数清0吗(Y/N)? ");
}

TEST(FileWatch, ChangeDuringASessionWaitsForItsEnd) {
    Rig r("M-079");
    const fs::path file = r.dir / "app.hex";
    std::ofstream(file) << ":00000001FF\n";
    r.core.buffer.currentPath = file.string();
    FileWatch watch;
    EXPECT_FALSE(watch.tick(r.core.buffer, true, false));  // first sight: remember
    EXPECT_FALSE(watch.tick(r.core.buffer, true, false));  // unchanged
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ofstream(file) << ":00000001FF\n:00000001FF\n";
    EXPECT_FALSE(watch.tick(r.core.buffer, true, true));  // seen while a session runs
    EXPECT_TRUE(watch.pending());
    EXPECT_FALSE(watch.tick(r.core.buffer, true, true));
    EXPECT_TRUE(watch.tick(r.core.buffer, true, false));   // session over: now
    EXPECT_FALSE(watch.tick(r.core.buffer, true, false));  // only once
    // Switched off: nothing, and a pending change is forgotten.
    std::ofstream(file) << "x";
    EXPECT_FALSE(watch.tick(r.core.buffer, false, false));
    // A file missing for a moment is waited for, not taken as a change.
    fs::remove(file);
    EXPECT_FALSE(watch.tick(r.core.buffer, true, false));
}

}  // namespace
}  // namespace qmx
