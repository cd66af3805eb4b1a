// One language: a whole download (with the hints a late chip brings) in English only or in
// Chinese only, and the flash holds the image either way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
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

// The command line's own texts: the option lists of every family, an option it refuses and a
// file it will not program. No chip is needed; in each language no line falls back to the
// other one, and the names --option takes stay as they are.
TEST(LanguageOfTheCommandLine, OptionListsAndRefusalsAreInOneLanguage) {
    TempDir dir;
    {
        std::ofstream bad(dir.file("bad.hex"));
        bad << ":0400000001020304F3\n:00000001FF\n";  // checksum off by one
    }
    const std::vector<std::string> oneModelPerFamily{"M-064", "M-085", "M-066", "M-002", "M-014"};
    for (const char* lang : {"en", "zh"}) {
        const bool english = std::string(lang) == "en";
        std::vector<std::string> lines;
        for (const std::string& model : oneModelPerFamily) {
            const RunResult r = run_cli({"--lang", lang, "options", "--model", model});
            EXPECT_EQ(r.exitCode, 0) << r.err;
            for (const std::string& l : linesOf(r.out))
                lines.push_back(l);
        }
        const RunResult option =
            run_cli({"--lang", lang, "download", "--port", "/dev/null", "--model", "M-070",
                     "--option", "speed=5T", dir.file("bad.hex")});
        const RunResult file = run_cli({"--lang", lang, "download", "--port", "/dev/null",
                                        "--model", "M-070", dir.file("bad.hex")});
        EXPECT_EQ(option.exitCode, 2);
        EXPECT_EQ(file.exitCode, 2);
        for (const RunResult* r : {&option, &file})
            for (const std::string& l : linesOf(r->err))
                lines.push_back(l);
        for (const std::string& l : lines) {
            if (english) {
                EXPECT_FALSE(hasChinese(l)) << l;
                continue;
            }
            // In Chinese, every line with words has Chinese; the names before ":" or "=" are
            // what --option takes, and lists of pins, numbers or HEX records have no words.
            const std::string shown = l.substr(l.find_first_of(":=") + 1);
            const bool words = std::regex_search(shown, std::regex("[A-Za-z]{3}"));
            if (words) {
                EXPECT_TRUE(hasChinese(l)) << "an English-only line: " << l;
            }
        }
        const std::string err = option.err + file.err;
        for (const char* expected : {english ? "values: 6T, 12T" : "可选值: 6T, 12T",
                                     english ? "not programmed" : "未下载"}) {
            EXPECT_NE(err.find(expected), std::string::npos) << err;
        }
    }
}

}  // namespace
}  // namespace qmx::test
