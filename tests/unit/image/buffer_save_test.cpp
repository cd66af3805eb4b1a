// Saving a range of the buffer: refusals, exact contents, atomic replacement.
#include "image/buffer_save.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "image/hex_loader.h"
#include "image_fixture.h"

namespace qmx::test {
namespace {

class SaveTest : public ImageTest {
  protected:
    void SetUp() override {
        ImageTest::SetUp();
        for (std::size_t i = 0; i < CodeBuffer::kSize; ++i)
            buffer.bytes[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    }
    std::string expected(long start, long length) const {
        return std::string(buffer.bytes.begin() + start, buffer.bytes.begin() + start + length);
    }
};

TEST_F(SaveTest, RefusalsWriteNothing) {
    const std::string out = (dir / "out.bin").string();
    EXPECT_EQ(saveBufferRange(buffer, "0", "0", out, ui), SaveStatus::TooSmall);
    EXPECT_EQ(saveBufferRange(buffer, "0", "", out, ui), SaveStatus::TooSmall);
    EXPECT_EQ(saveBufferRange(buffer, "1", "10000", out, ui), SaveStatus::TooBig);
    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_EQ(ui.boxes[0].text, "File length too small.\r\n文件长度不能小于 0。");
    EXPECT_EQ(ui.boxes[2].text, "File length too big.\r\n文件长度太大。");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(SaveTest, WritesExactlyTheRange) {
    const std::string out = (dir / "out.bin").string();
    ASSERT_EQ(saveBufferRange(buffer, "0", "10000", out, ui), SaveStatus::Saved);
    EXPECT_EQ(readFile(out), expected(0, 0x10000));

    // Only the last four digits of the start box count: 12345 is 0x2345.
    ASSERT_EQ(saveBufferRange(buffer, "12345", "10", out, ui), SaveStatus::Saved);
    EXPECT_EQ(readFile(out), expected(0x2345, 0x10));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SaveTest, DeviceOrFifoIsNeverReplaced) {
    const std::string fifo = (dir / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(saveBufferRange(buffer, "0", "10", fifo, ui), SaveStatus::WriteFailed);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("Not a regular file"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SaveTest, TemporariesOfKilledSavesAreRemovedOnTheNextSave) {
    namespace fs = std::filesystem;
    const fs::path dead = dir / ".out.bin.tmp-999999999-0";  // no such process
    const fs::path old = dir / (".out.bin.tmp-" + std::to_string(::getpid()) + "-7");
    const fs::path live = dir / (".out.bin.tmp-" + std::to_string(::getpid()) + "-8");
    const fs::path other = dir / ".notes.txt.tmp-999999999-0";
    for (const auto& p : {dead, old, live, other})
        writeFile(p.filename().string(), "half");
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(2));
    ASSERT_EQ(saveBufferRange(buffer, "0", "10", (dir / "out.bin").string(), ui),
              SaveStatus::Saved);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(live)) << "a save still running is left alone";
    EXPECT_TRUE(fs::exists(other)) << "only this file's temporaries are ours to remove";
}

TEST_F(SaveTest, OneKilobyteBinaryRoundTrip) {
    std::vector<std::uint8_t> data(1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 13);
    buffer.reset();
    buffer.currentPath = writeFile("in.bin", data);
    loadSelectedFile(buffer, model("M-064"), serial, ui);
    EXPECT_EQ(defaultSaveLengthText(buffer), "400");
    const std::string out = (dir / "copy.bin").string();
    ASSERT_EQ(saveBufferRange(buffer, "0", defaultSaveLengthText(buffer), out, ui),
              SaveStatus::Saved);
    EXPECT_EQ(readFile(out), std::string(data.begin(), data.end()));
}

TEST_F(SaveTest, ReplacesAnExistingFileAndKeepsItsPermissions) {
    const std::string out = writeFile("old.bin", std::string(5000, 'x'));
    ::chmod(out.c_str(), 0640);
    ASSERT_EQ(saveBufferRange(buffer, "100", "20", out, ui), SaveStatus::Saved);
    EXPECT_EQ(readFile(out), expected(0x100, 0x20));
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // No temporary file is left behind.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST_F(SaveTest, FailedWriteSaysSoAndKeepsTheOldFile) {
    // A path whose folder does not exist cannot be written.
    const std::string bad = (dir / "no-such-folder" / "out.bin").string();
    EXPECT_EQ(saveBufferRange(buffer, "0", "10", bad, ui), SaveStatus::WriteFailed);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text.rfind("File write error. / 文件写入失败。\r\n" + bad, 0), 0u);

    // The disk fills up while writing (a file-size limit makes the write fail the same way):
    // the old file stays as it was and no temporary file is left.
    const std::string old = writeFile("keep.bin", "old contents");
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const SaveStatus status = saveBufferRange(buffer, "0", "1000", old, ui);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(status, SaveStatus::WriteFailed);
    EXPECT_EQ(readFile(old), "old contents");
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace qmx::test
