// Production at scale against simulated chips: hands-free power cycling through a user
// command, the production log, and several ports programmed at once from one counter.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "support/sim_process.h"
#include "support/test_files.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    std::string l;
    while (std::getline(s, l))
        out.push_back(l);
    return out;
}

// The value of "key" in a flat JSON object line: a string's text or a number's digits.
std::string field(const std::string& json, const std::string& key) {
    const std::regex re("\"" + key + R"(\":(\"((?:[^\"\\]|\\.)*)\"|[-0-9.]+|\[[^\]]*\]))");
    std::smatch m;
    if (!std::regex_search(json, m, re)) return "<missing>";
    return m[2].matched ? m[2].str() : m[1].str();
}

// The image at 0 and the serial number (binary, 2 bytes at FFE..FFF) a chip must hold.
void expectChip(const Bytes& flash, const Bytes& image, unsigned serial, const std::string& who) {
    ASSERT_GT(flash.size(), 0xFFFu) << who;
    for (std::size_t a = 0; a < image.size(); ++a)
        ASSERT_EQ(flash[a], image[a]) << who << " address " << a;
    EXPECT_EQ(flash[0xFFE] * 256u + flash[0xFFF], serial) << who;
}

TEST(PowerCycleSeries, ThreeChipsProgrammedWithNobodyAtThePowerSwitch) {
    TempDir dir;
    const std::string fifo = dir.file("control");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string switchLog = dir.file("switch.log");
    // The chips stay off until the host switches them on: no chip is reached otherwise.
    SimProcess sim;
    ASSERT_TRUE(sim.start(chipsimPath(), {"--model", "M-070", "--chips", "3", "--swap-delay", "300",
                                          "--power-on-delay", "86400000", "--control", fifo,
                                          "--no-wire-time", "--flash-out", dir.file("flash")}))
        << sim.error();
    const Bytes image = randomBytes(0x900, 5);
    writeBin(dir.file("app.bin"), image);
    const std::string command =
        "cmd:sh -c 'echo \"power-$0\" > " + fifo + "; echo \"$0\" >> " + switchLog + "'";
    const std::string logFile = dir.file("production.jsonl");
    const RunResult r = run_cli({"--settings",
                                 dir.file("s.ini"),
                                 "download",
                                 dir.file("app.bin"),
                                 "--port",
                                 sim.linkPath(),
                                 "--model",
                                 "M-070",
                                 "--series",
                                 "--count",
                                 "3",
                                 "--delay",
                                 "2",
                                 "--power-cycle",
                                 command,
                                 "--power-off-ms",
                                 "200",
                                 "--serial",
                                 "FFF,2,41,1,hex",
                                 "--log-file",
                                 logFile},
                                90s);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::ifstream sw(switchLog);
    const std::string switched((std::istreambuf_iterator<char>(sw)), {});
    EXPECT_EQ(switched, "off\non\noff\non\noff\non\n");
    sim.stop();
    for (unsigned i = 1; i <= 3; ++i)
        expectChip(readFile(dir.file("flash." + std::to_string(i))), image, 40 + i,
                   "chip " + std::to_string(i));

    // One line per chip, every field there, in the order the chips were done.
    std::ifstream in(logFile);
    const auto records = lines(std::string((std::istreambuf_iterator<char>(in)), {}));
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string& rec = records[i];
        SCOPED_TRACE(rec);
        EXPECT_EQ(rec.front(), '{');
        EXPECT_EQ(rec.back(), '}');
        EXPECT_EQ(field(rec, "result"), "ok");
        EXPECT_EQ(field(rec, "serial"), std::to_string(41 + i));
        EXPECT_EQ(field(rec, "port"), sim.linkPath());
        EXPECT_EQ(field(rec, "model"), "M-070");
        EXPECT_EQ(field(rec, "chip_id"), "F0 04");
        EXPECT_EQ(field(rec, "firmware"), "3.6C");
        EXPECT_EQ(field(rec, "baud"), "115200");
        EXPECT_EQ(field(rec, "image"), dir.file("app.bin"));
        EXPECT_NE(field(rec, "checksum"), "");
        EXPECT_EQ(field(rec, "message"), "Have already encrypt. / 已加密");
        EXPECT_NEAR(std::stod(field(rec, "clock_hz")), 11059200, 60000);
        EXPECT_GT(std::stol(field(rec, "duration_ms")), 0);
        EXPECT_TRUE(std::regex_match(field(rec, "time"),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    }
}

// Three simulated chips side by side, each with its flash file.
struct Gang {
    TempDir dir;
    SimProcess sims[3];
    std::string settings = dir.file("settings.ini");

    bool start(const std::vector<std::vector<std::string>>& extra) {
        for (int i = 0; i < 3; ++i) {
            std::vector<std::string> args{"--model", "M-070", "--no-wire-time", "--flash-out",
                                          flash(i)};
            args.insert(args.end(), extra[i].begin(), extra[i].end());
            if (!sims[i].start(chipsimPath(), args)) {
                ADD_FAILURE() << sims[i].error();
                return false;
            }
        }
        return true;
    }
    std::string flash(int i) const { return dir.file("flash" + std::to_string(i)); }
    RunResult download(const std::string& image, std::vector<std::string> extra) {
        std::vector<std::string> a{"--settings", settings, "download", image, "--model", "M-070"};
        for (const auto& s : sims) {
            a.push_back("--port");
            a.push_back(s.linkPath());
        }
        a.insert(a.end(), extra.begin(), extra.end());
        return run_cli(a, 90s);
    }
    // The summary row of port i: OK count, failed count, last serial, result.
    std::vector<std::string> summaryRow(const std::string& out, int i) const {
        for (const auto& l : lines(out)) {
            if (l.rfind(sims[i].linkPath() + " ", 0) != 0) continue;
            std::stringstream in(l.substr(sims[i].linkPath().size()));
            std::vector<std::string> cells;
            std::string c;
            while (in >> c)
                cells.push_back(c);
            return cells;
        }
        return {};
    }
};

TEST(Gang, ThreePortsAtOnceWithDistinctConsecutiveNumbersFromOneCounter) {
    Gang g;
    ASSERT_TRUE(g.start({{}, {}, {}}));
    const Bytes image = randomBytes(0xC00, 9);
    writeBin(g.dir.file("app.bin"), image);
    const std::string logFile = g.dir.file("production.jsonl");
    const RunResult r =
        g.download(g.dir.file("app.bin"), {"--serial", "FFF,2,100,1,hex", "--log-file", logFile});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    std::set<unsigned> numbers;
    for (int i = 0; i < 3; ++i) {
        g.sims[i].stop();
        const Bytes flash = readFile(g.flash(i));
        ASSERT_GT(flash.size(), 0xFFFu);
        const unsigned serial = flash[0xFFE] * 256u + flash[0xFFF];
        expectChip(flash, image, serial, "port " + std::to_string(i));
        numbers.insert(serial);
        const auto row = g.summaryRow(r.out, i);
        ASSERT_EQ(row.size(), 4u) << r.out;
        EXPECT_EQ(row[0], "1");
        EXPECT_EQ(row[1], "0");
        EXPECT_EQ(std::stoul(row[2]), serial);
        EXPECT_EQ(row[3], "OK");
        // Every line of a station carries its port.
        EXPECT_NE(r.out.find("[" + g.sims[i].linkPath() + "] Program OK / 下载 OK"),
                  std::string::npos);
    }
    EXPECT_EQ(numbers, (std::set<unsigned>{100, 101, 102}));
    std::ifstream settings(g.settings);
    const std::string saved((std::istreambuf_iterator<char>(settings)), {});
    EXPECT_NE(saved.find("next_value=000103"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Write_OK_Count=3"), std::string::npos) << saved;
    // The stations share one log: three whole lines, one per port.
    std::ifstream in(logFile);
    const auto records = lines(std::string((std::istreambuf_iterator<char>(in)), {}));
    ASSERT_EQ(records.size(), 3u);
    std::set<std::string> ports;
    for (const auto& rec : records) {
        EXPECT_EQ(field(rec, "result"), "ok") << rec;
        ports.insert(field(rec, "port"));
    }
    EXPECT_EQ(ports.size(), 3u);
}

TEST(Gang, AMuteChipFailsItsPortOnlyAndHoldsUpNoNumber) {
    Gang g;
    ASSERT_TRUE(g.start({{}, {"--fault", "mute-after=3"}, {}}));
    const Bytes image = randomBytes(0x800, 4);
    writeBin(g.dir.file("app.bin"), image);
    const RunResult r = g.download(g.dir.file("app.bin"), {"--serial", "FFF,2,7,1,hex"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    std::set<unsigned> numbers;
    for (int i : {0, 2}) {
        g.sims[i].stop();
        const Bytes flash = readFile(g.flash(i));
        ASSERT_GT(flash.size(), 0xFFFu);
        const unsigned serial = flash[0xFFE] * 256u + flash[0xFFF];
        numbers.insert(serial);
        expectChip(flash, image, serial, "port " + std::to_string(i));
        EXPECT_EQ(g.summaryRow(r.out, i),
                  (std::vector<std::string>{"1", "0", std::to_string(serial), "OK"}))
            << r.out;
    }
    EXPECT_EQ(numbers, (std::set<unsigned>{7, 8}));
    EXPECT_EQ(g.summaryRow(r.out, 1), (std::vector<std::string>{"0", "1", "-", "FAILED"})) << r.out;
    EXPECT_NE(r.out.find("Success count / 下载成功计数: 2"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qmx::test
