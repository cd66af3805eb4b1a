// What goes where: the log on stdout, errors and boxes on stderr, progress lines in a log,
// -q and -v, --format json results, the reported model with its catalogue names, and "-" as
// standard input and output.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "e2e/link/link_fixture.h"
#include "support/test_files.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes someBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

std::size_t occurrences(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

// A shell command line word.
std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

class OutputStreams : public LinkE2E {};

TEST_F(OutputStreams, SeriesInJsonGivesOneObjectPerChipAndKeepsTheLogOffStdout) {
    startSim("M-079", {"--chips", "2", "--swap-delay", "300", "--no-wire-time", "--flash-out",
                       dir.file("flash.bin")});
    const Bytes image = someBytes(0x900, 5);
    writeFile(dir.file("a.bin"), image);
    const RunResult r = isp({"--settings", dir.file("s.ini"), "--format", "json", "download",
                             dir.file("a.bin"), "--model", "M-079", "--fill", "FF", "--series",
                             "--count", "2", "--delay", "2", "--serial", "7FF,2,41,1,hex"},
                            90s);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const auto objects = linesOf(r.out);
    ASSERT_EQ(objects.size(), 2u) << "stdout holds the JSON results only:\n" << r.out;
    for (int chip = 1; chip <= 2; ++chip) {
        const std::string& o = objects[static_cast<std::size_t>(chip - 1)];
        EXPECT_EQ(o.front(), '{') << o;
        EXPECT_EQ(o.back(), '}') << o;
        EXPECT_TRUE(contains(o, "\"command\":\"download\",\"chip\":" + std::to_string(chip))) << o;
        EXPECT_TRUE(contains(o, "\"result\":\"ok\"")) << o;
        EXPECT_TRUE(
            std::regex_search(o, std::regex("\"serial\":\"0*" + std::to_string(40 + chip) + "\",")))
            << o;
        EXPECT_TRUE(std::regex_search(o, std::regex(R"("bytes":\d+,"duration_s":\d+\.\d+)"))) << o;
        EXPECT_TRUE(std::regex_search(o, std::regex(R"("baud":[1-9]\d+)"))) << o;
    }
    // The log went to stderr, with a progress line at every tenth (stderr is no terminal).
    EXPECT_TRUE(contains(r.err, "Program OK / 下载 OK")) << r.err;
    EXPECT_EQ(occurrences(r.err, "Programming   0 %"), 2u) << "once per chip:\n" << r.err;
    EXPECT_TRUE(std::regex_search(
        r.err, std::regex(R"(\nProgramming  [1-9]0 %  [.0-9]+K  \d\d:\d\d elapsed\n)")))
        << r.err;
    EXPECT_TRUE(contains(r.err, "Programming 100 %")) << r.err;
    // Both chips hold the image, each with its own number.
    sim.stop();
    for (int chip = 1; chip <= 2; ++chip) {
        const Bytes flash = readFile(dir.file("flash.bin") + "." + std::to_string(chip));
        ASSERT_GT(flash.size(), 0x800u);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x7FE, flash.begin()));
        EXPECT_EQ(flash[0x7FF], 40 + chip);
    }
}

TEST_F(OutputStreams, ReportedNameComesWithTheCatalogueModelsItFits) {
    // One chip per command: a chip leaves its boot loader when a command ends.
    auto against = [](std::vector<std::string> args) {
        SimProcess chip;
        EXPECT_TRUE(chip.start(chipsimPath(), {"--model", "M-070"})) << chip.error();
        args.insert(args.end(), {"--port", chip.linkPath()});
        return run_cli(args);
    };
    RunResult text = against({"connect", "--model", "M-070"});
    ASSERT_EQ(text.exitCode, 0) << text.out << text.err;
    EXPECT_TRUE(contains(text.out, "MCU Type is: M-058 (catalogue: M-070, M-087)\n")) << text.out;
    EXPECT_EQ(text.err, "");

    RunResult json = against({"--format", "json", "read-options", "--model", "M-070"});
    ASSERT_EQ(json.exitCode, 0) << json.out << json.err;
    const auto objects = linesOf(json.out);
    ASSERT_EQ(objects.size(), 1u) << json.out;
    EXPECT_TRUE(contains(objects[0], "\"command\":\"read-options\",\"result\":\"ok\"")) << json.out;
    EXPECT_TRUE(contains(objects[0],
                         "\"model_reported\":\"M-058\",\"catalogue\":[\"M-070\","
                         "\"M-087\"]"))
        << json.out;
    EXPECT_TRUE(std::regex_search(objects[0], std::regex(R"("firmware":"\d\.\dC")"))) << json.out;
    EXPECT_TRUE(contains(objects[0], "\"baud\":1200")) << json.out;
    EXPECT_TRUE(std::regex_search(objects[0], std::regex(R"("option_bytes":\["[0-9A-F]{2}"\])")))
        << json.out;
    EXPECT_TRUE(contains(json.err, "Read Chip Lock OK.")) << "the log moves to stderr";

    // The wrong selection: the errors on stderr name the models that would fit.
    RunResult wrong = against({"connect", "--model", "M-066"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(contains(wrong.err, "MCU Type is wrong. / MCU 型号错, 请重选")) << wrong.err;
    EXPECT_TRUE(contains(wrong.err, "This chip fits the model(s): M-070, M-087")) << wrong.err;
    EXPECT_TRUE(contains(wrong.err, "[box] MCU Type is wrong, please select")) << wrong.err;
    EXPECT_FALSE(contains(wrong.out, "MCU Type is wrong")) << wrong.out;
    EXPECT_TRUE(contains(wrong.out, "MCU Type is: M-058")) << "the log stays on stdout";

    // The catalogue list names what a chip of each model reports.
    RunResult models = run_cli({"models"});
    bool seen = false;
    for (const std::string& row : linesOf(models.out)) {
        if (row.rfind("M-070 ", 0) == 0) {
            seen = true;
            EXPECT_EQ(row.substr(row.size() - 6), " M-058") << row;
        }
    }
    EXPECT_TRUE(seen) << models.out;
}

TEST_F(OutputStreams, QuietPrintsNothingButErrorsVerboseTracesFramesAndBaudChanges) {
    startSim("M-066", {"--clock", "6000000"});
    RunResult quiet = isp({"-q", "connect", "--model", "M-066"});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
    sim.stop();
    startSim("M-066", {"--clock", "6000000"});

    RunResult verbose = isp({"-v", "connect", "--model", "M-066"});
    EXPECT_EQ(verbose.exitCode, 0) << verbose.err;
    for (const std::string& line : linesOf(verbose.out)) {
        if (!line.empty()) {
            EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d\d:\d\d:\d\d\.\d{3} )"))) << line;
        }
    }
    EXPECT_TRUE(std::regex_search(verbose.err, std::regex(R"(trace -> sync 7F x\d+)")))
        << verbose.err;
    EXPECT_TRUE(contains(verbose.err, "trace <- answer 80, 8 bytes: 46 B9 68 00 06 80 EE 16"))
        << verbose.err;
    EXPECT_TRUE(contains(verbose.err, "trace -> command ")) << verbose.err;
    // The switch to the chip's rate (38400 at 6 MHz) is marked where it happens.
    EXPECT_TRUE(contains(verbose.err, "trace == baud change: 38400,n,8,1")) << verbose.err;

    RunResult both = run_cli({"-q", "-v", "models"});
    EXPECT_EQ(both.exitCode, 2) << "-q and -v exclude each other";
}

TEST_F(OutputStreams, DashReadsStandardInputAndWritesStandardOutput) {
    const Bytes image = someBytes(0x123, 8);
    writeFile(dir.file("a.bin"), image);
    const std::string isp = quoted(ispPath());
    const std::string settings = " --settings " + quoted(dir.file("s.ini"));
    const RunResult fromFile = run_cli({"--settings", dir.file("s.ini"), "--format", "json",
                                        "image", dir.file("a.bin"), "--model", "M-079"});
    const RunResult fromStdin =
        run_program("/bin/sh", {"-c", isp + settings + " --format json image - --model M-079 < " +
                                          quoted(dir.file("a.bin"))});
    ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
    ASSERT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
    EXPECT_TRUE(contains(fromFile.out, "{\"command\":\"image\",\"checksum\":")) << fromFile.out;
    EXPECT_TRUE(contains(fromFile.out, "\"loadStart\":\"0000\",\"loadEnd\":\"0122\""))
        << fromFile.out;
    EXPECT_EQ(fromStdin.out, fromFile.out);

    // save - - : a pipe in, the saved range out, nothing else on stdout.
    const RunResult saved = run_program(
        "/bin/sh", {"-c", isp + settings + " save - - --model M-079 --from 10 --length 100 < " +
                              quoted(dir.file("a.bin")) + " > " + quoted(dir.file("out.bin"))});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(readFile(dir.file("out.bin")), Bytes(image.begin() + 0x10, image.begin() + 0x110));

    // A download reads its image from stdin too, but cannot reload it.
    const RunResult reload =
        run_program("/bin/sh", {"-c", isp + settings +
                                          " download - --port /dev/null --model M-079 --reload "
                                          "< /dev/null"});
    EXPECT_EQ(reload.exitCode, 2);
    EXPECT_TRUE(contains(reload.err, "need a file, not '-'")) << reload.err;
}

}  // namespace
}  // namespace qmx::test
