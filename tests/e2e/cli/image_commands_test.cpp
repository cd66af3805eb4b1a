// The image-side commands of qmx-isp (models, options, image, save) run as a user runs them,
// on files written by other tools, checked against an independent reading of the same files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_process.h"

namespace {

using qmx::test::run_cli;
using qmx::test::run_program;
using qmx::test::TempDir;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

const std::string kSrecCat = "/usr/bin/srec_cat";

bool haveTool(const std::string& tool) {
    return access(("/usr/bin/" + tool).c_str(), X_OK) == 0;
}

// Parses the rows of `image --dump` back into address -> byte.
std::vector<std::pair<long, int>> parseDump(const std::string& out) {
    std::vector<std::pair<long, int>> cells;
    for (const std::string& l : lines(out)) {
        if (l.size() < 10 || l[0] != ' ' || l.compare(7, 3, "   ") != 0) continue;
        long address = std::stol(l.substr(1, 6), nullptr, 16);
        std::istringstream bytes(l.substr(10));
        for (std::string b; bytes >> b; ++address)
            cells.emplace_back(address, std::stoi(b, nullptr, 16));
    }
    return cells;
}

const std::string kBlinkHex = std::string(QMX_SOURCE_DIR) + "/examples/blink/blink.hex";

class ImageCommands : public ::testing::Test {
  protected:
    TempDir dir;
    std::string settings() const { return dir.file("settings.ini"); }
    qmx::test::RunResult cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--settings", settings()});
        return run_cli(args);
    }
};

TEST_F(ImageCommands, ModelsListsTheWholeCatalogueInListOrder) {
    auto r = cli({"models"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 86u);  // a heading and 85 models
    EXPECT_EQ(rows[1].rfind("M-", 0), 0u);
    int family0 = 0, family2 = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        std::istringstream row(rows[i]);
        std::string name, idCode;
        int family = -1;
        row >> name >> family >> idCode;
        if (family == 0) {
            ++family0;
            EXPECT_EQ(idCode, "FF") << rows[i];
        }
        if (family == 2) {
            ++family2;
            EXPECT_TRUE(idCode.rfind("F0", 0) == 0 || idCode.rfind("F1", 0) == 0) << rows[i];
        }
    }
    EXPECT_GT(family0, 0);
    EXPECT_GT(family2, 0);
}

TEST_F(ImageCommands, OptionsShowChoicesAndTheirBytesAndRejectUnknownModels) {
    auto r = cli({"options", "--model", "M-079"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("option bytes (defaults): "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("*"), std::string::npos) << "the default choice is marked";

    auto bad = cli({"options", "--model", "M-999"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown model 'M-999'"), std::string::npos);
}

TEST_F(ImageCommands, ImageOfAnSdccProgramMatchesSrecCatsReading) {
    if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat (package srecord) is not installed";
    auto r = cli({"image", kBlinkHex, "--model", "M-070", "--dump"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("checksum: "), std::string::npos);
    EXPECT_NE(r.out.find("loadStart=0000 "), std::string::npos) << r.out;

    // srec_cat's own reading of the file, as a binary from address 0.
    std::string bin = dir.file("blink.bin");
    auto conv = run_program(kSrecCat, {kBlinkHex, "-intel", "-o", bin, "-binary"});
    ASSERT_EQ(conv.exitCode, 0) << conv.err;
    std::string ref = readFile(bin);
    ASSERT_FALSE(ref.empty());

    auto cells = parseDump(r.out);
    ASSERT_GE(cells.size(), ref.size());
    for (std::size_t a = 0; a < ref.size(); ++a) {
        ASSERT_EQ(cells[a].first, static_cast<long>(a));
        EXPECT_EQ(cells[a].second, static_cast<unsigned char>(ref[a])) << "address " << a;
    }
}

TEST_F(ImageCommands, ExtendedAddressRecordsAreNotData) {
    if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat (package srecord) is not installed";
    // srec_cat writes a type-04 record first; 16 bytes of 5A at 0x0040.
    std::string hex = dir.file("ext.hex");
    auto gen = run_program(kSrecCat,
                           {"-generate", "0x40", "0x50", "-constant", "0x5A", "-o", hex, "-intel"});
    ASSERT_EQ(gen.exitCode, 0) << gen.err;
    ASSERT_NE(readFile(hex).find(":02000004"), std::string::npos);

    auto r = cli({"image", hex, "--model", "M-070", "--fill", "FF", "--dump"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("loadStart=0000 loadEnd=004F"), std::string::npos) << r.out;
    for (auto [address, value] : parseDump(r.out)) {
        // The extended-address record's two zero bytes must not land at address 0.
        EXPECT_EQ(value, address >= 0x40 ? 0x5A : 0xFF) << "address " << address;
    }
}

TEST_F(ImageCommands, SeveralFilesMergeUnlessClearIsGiven) {
    std::string a = dir.file("a.hex"), b = dir.file("b.hex");
    writeFile(a, ":040000001122334452\r\n:00000001FF\r\n");
    writeFile(b, ":02010000AABB98\r\n:00000001FF\r\n");
    auto merged = cli({"image", a, b, "--model", "M-070", "--dump"});
    ASSERT_EQ(merged.exitCode, 0) << merged.out;
    EXPECT_NE(merged.out.find("viewStart=0000 viewEnd=0101"), std::string::npos) << merged.out;
    EXPECT_NE(merged.out.find(" 000000   11 22 33 44"), std::string::npos) << merged.out;

    auto cleared = cli({"image", a, b, "--model", "M-070", "--clear", "--dump"});
    ASSERT_EQ(cleared.exitCode, 0) << cleared.out;
    // A HEX load counts from the buffer start address (0), so the view still begins at 0.
    EXPECT_NE(cleared.out.find("viewEnd=0101"), std::string::npos) << cleared.out;
    EXPECT_NE(cleared.out.find(" 000100   AA BB"), std::string::npos) << cleared.out;
    EXPECT_EQ(cleared.out.find("11 22 33 44"), std::string::npos) << cleared.out;
}

TEST_F(ImageCommands, BadInputGivesStatusTwoAndClearWords) {
    auto missing = cli({"image", dir.file("nothing.hex"), "--model", "M-070"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("Can not find the file./找不到文件"), std::string::npos)
        << missing.out;

    auto unknown = cli({"image", kBlinkHex, "--model", "X-1"});
    EXPECT_EQ(unknown.exitCode, 2);

    std::string broken = dir.file("broken.hex");
    writeFile(broken, ":0400000011223344EF\r\n:00000001FF\r\n");  // wrong record checksum
    auto bad = cli({"image", broken, "--model", "M-070"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("[box"), std::string::npos) << "the checksum box is printed";

    // `save` agrees with `image`: the box is printed, nothing is written unless --yes.
    std::string out = dir.file("out.bin");
    auto saved = cli({"save", broken, out, "--model", "M-070", "--from", "0", "--length", "4"});
    EXPECT_EQ(saved.exitCode, 2);
    EXPECT_NE(saved.err.find("[box"), std::string::npos) << saved.err;
    EXPECT_NE(access(out.c_str(), F_OK), 0);
    auto yes = run_cli({"--yes", "--settings", settings(), "save", broken, out, "--model", "M-070",
                        "--from", "0", "--length", "4"});
    EXPECT_EQ(yes.exitCode, 0) << yes.err;
    EXPECT_EQ(readFile(out), "\x11\x22\x33\x44");
    // `image` takes --yes the same way: the warning still shows, the load is accepted.
    auto shown = run_cli({"--yes", "--settings", settings(), "image", broken, "--model", "M-070"});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.err.find("bad checksum"), std::string::npos) << shown.err;

    // Random bytes under a .hex name, and a HEX file cut short before its end record.
    std::string noise = dir.file("noise.hex");
    std::string bytes;
    for (int i = 0; i < 640; ++i)
        bytes += static_cast<char>((i * 37 + 11) % 251);
    writeFile(noise, bytes);
    auto n = cli({"image", noise, "--model", "M-070"});
    EXPECT_EQ(n.exitCode, 2);
    EXPECT_NE(n.err.find("no Intel-HEX data record"), std::string::npos) << n.out;
    std::string cut = dir.file("cut.hex");
    writeFile(cut, ":040000001122334452\r\n");
    auto c = cli({"image", cut, "--model", "M-070"});
    EXPECT_EQ(c.exitCode, 2);
    EXPECT_NE(c.err.find("no Intel-HEX end record"), std::string::npos) << c.out;
}

TEST_F(ImageCommands, HexArgumentsOutsideTheirRangeAreRefusedNotCut) {
    std::string out = dir.file("out.bin");
    for (const std::vector<std::string>& range :
         {std::vector<std::string>{"--from", "100000", "--length", "10"},
          std::vector<std::string>{"--from", "0", "--length", "1000010"},
          std::vector<std::string>{"--from", "10000", "--length", "1"}}) {
        std::vector<std::string> args{"save", kBlinkHex, out, "--model", "M-070"};
        args.insert(args.end(), range.begin(), range.end());
        auto r = cli(args);
        EXPECT_EQ(r.exitCode, 2) << range[1] << " " << range[3];
        EXPECT_NE(r.err.find("must be"), std::string::npos) << r.err;
        EXPECT_NE(access(out.c_str(), F_OK), 0);
    }
    auto start = cli({"image", kBlinkHex, "--model", "M-070", "--start", "100000"});
    EXPECT_EQ(start.exitCode, 2);
    EXPECT_EQ(start.out.find("checksum:"), std::string::npos) << start.out;
}

TEST_F(ImageCommands, BoxTextsAndExtentsArePrintedAsTheSystemWritesThem) {
    // Two bytes from 0x37FF: the second lies in M-070's boot area.
    std::string over = dir.file("over.hex");
    writeFile(over, ":0237FF00AABB63\r\n:00000001FF\r\n");
    auto r = cli({"image", over, "--model", "M-070"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    // The box on stderr, the results on stdout.
    EXPECT_EQ(lines(r.err), (std::vector<std::string>{
                                "[box Open HEX file]     File over the valid scope.",
                                "文件超出有效空间, 超出的部分已丢失。",
                                "",
                                "       按确定继续。",
                            }));
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                                "checksum: 0000165H",
                                "loadStart=0000 loadEnd=37FF viewStart=0000 viewEnd=37FF",
                            }));

    // An empty binary file: nothing read, so the load ends before it starts.
    std::string empty = dir.file("empty.bin");
    writeFile(empty, "");
    auto e = cli({"image", empty, "--model", "M-070"});
    ASSERT_EQ(e.exitCode, 0) << e.out << e.err;
    EXPECT_EQ(lines(e.out), (std::vector<std::string>{
                                "checksum: 0000000H",
                                "loadStart=0000 loadEnd=-0001 viewStart=0000 viewEnd=0000",
                            }));
}

TEST_F(ImageCommands, SaveWritesTheRangeAndRefusesBadRanges) {
    if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat (package srecord) is not installed";
    std::string out = dir.file("out.bin");
    auto r = cli({"save", kBlinkHex, out, "--model", "M-070", "--from", "10", "--length", "20"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::string bin = dir.file("ref.bin");
    ASSERT_EQ(run_program(kSrecCat, {kBlinkHex, "-intel", "-o", bin, "-binary"}).exitCode, 0);
    EXPECT_EQ(readFile(out), readFile(bin).substr(0x10, 0x20));

    std::string none = dir.file("none.bin");
    auto zero = cli({"save", kBlinkHex, none, "--model", "M-070", "--from", "0", "--length", "0"});
    EXPECT_EQ(zero.exitCode, 2);
    EXPECT_NE(access(none.c_str(), F_OK), 0) << "a refused save writes nothing";

    // A folder that cannot be written keeps the file that is there.
    if (geteuid() != 0) {
        std::string ro = dir.file("ro");
        mkdir(ro.c_str(), 0755);
        writeFile(ro + "/keep.bin", "old");
        chmod(ro.c_str(), 0555);
        auto fail = cli({"save", kBlinkHex, ro + "/keep.bin", "--model", "M-070", "--from", "0",
                         "--length", "10"});
        chmod(ro.c_str(), 0755);
        EXPECT_EQ(fail.exitCode, 1);
        EXPECT_EQ(readFile(ro + "/keep.bin"), "old");
    }
}

TEST_F(ImageCommands, DamagedSettingsFileGivesDefaultsAndAWarning) {
    writeFile(settings(), std::string("\x00\xff\xfe garbage [[[\n", 17));
    auto r = cli({"image", kBlinkHex, "--model", "M-070"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("checksum: "), std::string::npos);
}

}  // namespace
