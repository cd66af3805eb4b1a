// One language: a whole download (with the hints a late chip brings) in English only or in
// Chinese only, and the flash holds the image either way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "e2e/link/link_fixture.h"
#include "support/test_files.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool hasChinese(const std::string& s) {
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0xE3 && b <= 0xEF) return true;
    }
    return false;
}

bool hasLetters(const std::string& s) {
    for (const char c : s)
        if (std::isalpha(static_cast<unsigned char>(c))) return true;
    return false;
}

class Language : public LinkE2E {
  protected:
    // Downloads an image into a chip that is switched on only after the connection hints
    // have been printed; checks the flash; returns what was printed (stdout, then stderr).
    std::vector<std::string> download(std::vector<std::string> global) {
        startSim("M-070", {"--power-on-delay", "5000", "--no-wire-time", "--flash-out",
                           dir.file("flash.bin")});
        Bytes image(0x700);
        std::mt19937 rng(7);
        for (auto& b : image)
            b = static_cast<std::uint8_t>(rng());
        {
            std::ofstream out(dir.file("a.bin"), std::ios::binary);
            out.write(reinterpret_cast<const char*>(image.data()),
                      static_cast<std::streamsize>(image.size()));
        }
        global.insert(global.end(), {"--settings", dir.file("s.ini"), "download", dir.file("a.bin"),
                                     "--model", "M-070", "--fill", "FF"});
        const RunResult r = isp(global, 60s);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        sim.stop();
        std::ifstream in(dir.file("flash.bin"), std::ios::binary);
        const Bytes flash{std::istreambuf_iterator<char>(in), {}};
        EXPECT_TRUE(flash.size() >= image.size() &&
                    std::equal(image.begin(), image.end(), flash.begin()));
        EXPECT_TRUE(contains(r.out + r.err, "1.")) << "the hints were printed:\n" << r.out << r.err;
        auto lines = linesOf(r.out);
        for (const std::string& l : linesOf(r.err))
            lines.push_back(l);
        return lines;
    }
};

TEST_F(Language, EnglishShowsNoChineseCharacter) {
    const auto lines = download({"--lang", "en"});
    std::string all;
    for (const std::string& l : lines) {
        EXPECT_FALSE(hasChinese(l)) << l;
        all += l + "\n";
    }
    EXPECT_TRUE(contains(all, "Now baud is: ")) << all;
    EXPECT_TRUE(contains(all, "Program OK\n")) << all;
    EXPECT_TRUE(contains(all, "Connection is failure. You can try:")) << all;
}

TEST_F(Language, ChineseFromTheEnvironmentShowsEveryWordLineInChinese) {
    std::vector<std::string> lines;
    {
        const LocaleFor chinese("zh_CN.UTF-8");  // no --lang: the locale asks for Chinese
        lines = download({});
    }
    std::string all;
    for (const std::string& l : lines) {
        if (hasLetters(l)) {
            EXPECT_TRUE(hasChinese(l)) << "an English-only line: " << l;
        }
        EXPECT_EQ(l.find("Chinese:"), std::string::npos) << l;
        all += l + "\n";
    }
    EXPECT_TRUE(contains(all, "当前波特率为: ")) << all;
    EXPECT_TRUE(contains(all, "连接失败，请尝试以下操作：")) << all;
    EXPECT_TRUE(contains(all, "下载 OK")) << all;
}

}  // namespace
}  // namespace qmx::test
