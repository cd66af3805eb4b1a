// The monitor image and the SoftICE command: where each part of the image lands, what short and
// long monitor files do, and that the command leaves the user's buffer as it found it.
#include <gtest/gtest.h>

#include <fstream>

#include "core/isp_core.h"
#include "monitor/monitor_image.h"
#include "monitor/softice.h"
#include "support/recording_ui.h"
#include "support/sim_process.h"
#include "unit/ops/fake_chip.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t n, std::uint8_t salt) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>((i * 7 + salt) ^ (i >> 8));
    return b;
}

Bytes slice(const MonitorImage& image, long from, std::size_t n) {
    return Bytes(image.begin() + from, image.begin() + from + static_cast<long>(n));
}

void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

TEST(MonitorImage, PartsLandAtTheirAddressesWithTheVariantOfTheFileName) {
    const Bytes core = pattern(384, 0x11), model = pattern(4096, 0x22);
    const auto other = buildMonitorImage(core, model, "QMX58_2003.ROM").image;
    const auto big = buildMonitorImage(core, model, "QMX516_2003.ROM").image;
    for (const auto* img : {&other, &big}) {
        EXPECT_EQ(slice(*img, 0, 3), (Bytes{0x02, 0x22, 0x00}));
        EXPECT_EQ(slice(*img, 3, 0x2000 - 3), Bytes(0x2000 - 3, 0xFF));
        EXPECT_EQ(slice(*img, 0x2000, 384), core);
        EXPECT_EQ(slice(*img, 0x2300, 4096), model);
        EXPECT_EQ(slice(*img, 0x3360, 0xA1), Bytes(0xA1, 0xFF));  // up to 3400 inclusive
        EXPECT_EQ((*img)[0x3401], 0x00);
        EXPECT_EQ((*img)[0xFFFF], 0x00);
    }
    // The first line of each patch block, and a line from the middle of block A.
    EXPECT_EQ(slice(other, 0x2180, 3), (Bytes{0x53, 0xB1, 0xFC}));
    EXPECT_EQ(slice(big, 0x2180, 3), (Bytes{0x43, 0xB1, 0x40}));
    EXPECT_EQ(slice(other, 0x2200, 4), (Bytes{0x53, 0xB1, 0xFC, 0x78}));
    EXPECT_EQ(slice(big, 0x2200, 4), (Bytes{0x78, 0x7F, 0xE4, 0xF5}));
    EXPECT_EQ(slice(other, 0x2190, 16), (Bytes{0xB6, 0xEF, 0x20, 0xE2, 0xFA, 0x53, 0xB1, 0xBF, 0xE4,
                                               0xF5, 0xB5, 0x02, 0x00, 0x00, 0x02, 0x21}));
    EXPECT_EQ(slice(other, 0x22C0, 8), (Bytes{0x53, 0xB1, 0xFC, 0x02, 0x10, 0x00, 0x80, 0xFE}));
    EXPECT_EQ(slice(other, 0x22E0, 16), Bytes(16, 0xFF));
    EXPECT_EQ(slice(other, 0x3300, 16), (Bytes{0x78, 0x7F, 0xE4, 0xF5, 0xD0, 0xF6, 0xD8, 0xFD, 0x75,
                                               0x81, 0x0D, 0x02, 0x10, 0x2F, 0x80, 0xFE}));
    EXPECT_EQ(slice(big, 0x3340, 6), (Bytes{0x94, 0x34, 0x40, 0xED, 0xE4, 0xFF}));
    EXPECT_EQ(slice(big, 0x3350, 16), Bytes(16, 0xFF));
    EXPECT_EQ(monitorPatchA(true).size(), 23u * 16);
    EXPECT_EQ(monitorPatchB(false).size(), 6u * 16);
    // The name comparison is exact.
    EXPECT_EQ(buildMonitorImage(core, model, "qmx516_2003.rom").image[0x2180], 0x53);
}

TEST(MonitorImage, ShortAndLongFilesFillExactlyTheirPlace) {
    const Bytes core = pattern(500, 1);
    const auto b = buildMonitorImage(core, pattern(100, 2), "QMX58_2003.ROM");
    EXPECT_TRUE(b.coreLong);
    EXPECT_EQ(b.coreShortBy, 0);
    EXPECT_EQ(b.modelShortBy, 3996);
    EXPECT_FALSE(b.modelLong);
    // The long core file stops at 217F: the patch code behind it is intact.
    EXPECT_EQ(slice(b.image, 0x2000, 384), Bytes(core.begin(), core.begin() + 384));
    EXPECT_EQ(b.image[0x2180], 0x53);
    EXPECT_EQ(slice(b.image, 0x2300, 100), pattern(100, 2));
    EXPECT_EQ(slice(b.image, 0x2300 + 100, 3996), Bytes(3996, 0xFF));
    // Nothing of either file lands at 0 (where the buffer start box would have put it).
    EXPECT_EQ(slice(b.image, 3, 0x7D), Bytes(0x7D, 0xFF));

    const auto empty = buildMonitorImage({}, {}, "QMX58_2003.ROM");
    EXPECT_EQ(empty.coreShortBy, 384);
    EXPECT_EQ(slice(empty.image, 0x2000, 384), Bytes(384, 0xFF));
}

TEST(MonitorImage, FilesAreFoundInTheOrderOfTheFolders) {
    test::TempDir a, b;
    writeFile(b.file("QMX2000.rom"), pattern(384, 3));
    EXPECT_EQ(findMonitorFile("QMX2000.rom", {a.path(), b.path()}), b.file("QMX2000.rom"));
    writeFile(a.file("QMX2000.rom"), pattern(384, 4));
    EXPECT_EQ(findMonitorFile("QMX2000.rom", {a.path(), b.path()}), a.file("QMX2000.rom"));
    EXPECT_EQ(findMonitorFile("QMX58_2003.ROM", {a.path(), b.path()}), "");
    const std::string text = missingMonitorFileText("QMX58_2003.ROM", {a.path(), b.path()});
    EXPECT_NE(text.find(a.path() + "/QMX58_2003.ROM"), std::string::npos);
    EXPECT_NE(text.find("找不到文件 " + a.path() + "/QMX58_2003.ROM"), std::string::npos);
    EXPECT_EQ(text.find('\\'), std::string::npos);
    const auto dirs = monitorSearchDirs("/opt/mon");
    ASSERT_GE(dirs.size(), 3u);
    EXPECT_EQ(dirs.front(), "/opt/mon");
    EXPECT_EQ(dirs.back(), installedMonitorDir());
}

class SoftIce : public ::testing::Test {
  protected:
    void SetUp() override {
        core.setUi(&ui);
        core.model = findModel("M-064");
        writeFile(dir.file("QMX2000.rom"), pattern(384, 5));
        writeFile(dir.file("QMX516_2003.ROM"), pattern(4096, 6));
        // The user's own file, loaded before the command.
        core.buffer.bytes.fill(0x5A);
        core.buffer.imageLoaded = true;
        core.buffer.currentPath = "/home/user/app.hex";
        core.buffer.checksumText = "1234";
        core.buffer.viewStart = 0x100;
        core.buffer.viewEnd = 0x1FF;
        core.facts.firmware_version = "2.1";
    }
    test::TempDir dir;
    test::RecordingUi ui;
    IspCore core;
};

TEST_F(SoftIce, WritesTheImageAndLeavesTheUsersBufferAsItWas) {
    test::FakeChip chip(core);
    core.session.stop_requested = true;  // left over from an earlier Stop
    ui.scriptedAnswers = {BoxAnswer::Yes, BoxAnswer::Yes};
    EXPECT_EQ(downloadSoftIce(core, chip, dir.path()), SessionOutcome::Ok);
    const auto image =
        buildMonitorImage(pattern(384, 5), pattern(4096, 6), "QMX516_2003.ROM").image;
    EXPECT_EQ(slice(MonitorImage(chip.flash), 0x2000, 0x1400), slice(image, 0x2000, 0x1400));
    EXPECT_EQ(slice(MonitorImage(chip.flash), 0, 0x80), slice(image, 0, 0x80));
    EXPECT_TRUE(ui.saw("Download Soft_ICE is succeed /下载 Soft_ICE 成功"));
    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_EQ(ui.boxes[0].defaultAnswer, BoxAnswer::No);
    EXPECT_EQ(ui.boxes[2].text, "Download Soft_ICE is succeed.\r\nChinese:下载 Soft_ICE 成功。");

    EXPECT_EQ(core.buffer.bytes[0x2000], 0x5A);
    EXPECT_TRUE(core.buffer.imageLoaded);
    EXPECT_EQ(core.buffer.currentPath, "/home/user/app.hex");
    EXPECT_EQ(core.buffer.checksumText, "1234");
    EXPECT_EQ(core.buffer.viewEnd, 0x1FF);
}

TEST_F(SoftIce, RefusalsTouchNeitherBufferNorChip) {
    test::FakeChip chip(core);
    ui.scriptedAnswers = {BoxAnswer::Yes, BoxAnswer::No};
    EXPECT_EQ(downloadSoftIce(core, chip, dir.path()), SessionOutcome::Stopped);
    EXPECT_EQ(ui.boxes.size(), 2u);

    // Not monitor-capable: refused before any question.
    core.model = findModel("M-070");
    EXPECT_EQ(downloadSoftIce(core, chip, dir.path()), SessionOutcome::BadInput);
    EXPECT_EQ(ui.boxes.size(), 3u);

    // A missing model monitor file is named with its full path.
    core.model = findModel("M-076");
    EXPECT_EQ(downloadSoftIce(core, chip, dir.path()), SessionOutcome::BadInput);
    ASSERT_EQ(ui.boxes.size(), 4u);
    EXPECT_NE(ui.boxes[3].text.find(dir.path() + "/QMX58_2003.ROM"), std::string::npos);

    EXPECT_EQ(chip.connects, 0);
    EXPECT_TRUE(chip.blocks.empty());
    EXPECT_EQ(core.buffer.bytes[0], 0x5A);
    EXPECT_EQ(core.buffer.currentPath, "/home/user/app.hex");
}

TEST_F(SoftIce, AFailedPassReportsAndStillRestoresTheBuffer) {
    test::FakeChip chip(core);
    chip.dropBlock = [](const test::SentBlock& b, std::size_t) { return b.address == 0; };
    ui.scriptedAnswers = {BoxAnswer::Yes, BoxAnswer::Yes};
    EXPECT_EQ(downloadSoftIce(core, chip, dir.path()), SessionOutcome::Failed);
    EXPECT_TRUE(ui.saw("Program is failure. / 下载失败"));
    EXPECT_FALSE(ui.saw("Download Soft_ICE is succeed"));
    EXPECT_EQ(core.buffer.bytes[0], 0x5A);
}

}  // namespace
}  // namespace qmx
