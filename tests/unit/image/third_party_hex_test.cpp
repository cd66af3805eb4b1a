// Intel-HEX written by other tools (SDCC's packihx, srec_cat) must load to exactly the bytes
// that srec_cat reads from the same file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "image/hex_loader.h"
#include "image_fixture.h"

namespace qmx::test {
namespace {

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

int run(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str());
}

class ThirdPartyHex : public ImageTest {
  protected:
    // Loads `hex` with our loader (fill FF, a model whose area is the whole 64 KB) and
    // compares every cell with srec_cat's reading of the same file, holes filled with FF.
    void expectSameAsSrecCat(const std::string& hex) {
        const std::string bin = (dir / "reference.bin").string();
        ASSERT_EQ(
            run("srec_cat '" + hex + "' -intel -fill 0xFF 0 0x10000 -o '" + bin + "' -binary"), 0);
        const std::string reference = readFile(bin);
        ASSERT_EQ(reference.size(), 0x10000u);

        buffer.fillByte = 0xFF;
        buffer.currentPath = hex;
        LoadResult r = loadSelectedFile(buffer, model("M-064"), serial, ui);
        ASSERT_TRUE(r.loaded());
        EXPECT_EQ(r.badRecords, 0);
        EXPECT_TRUE(ui.boxes.empty()) << ui.boxes.front().text;
        for (std::size_t a = 0; a < 0x10000; ++a)
            ASSERT_EQ(buffer.bytes[a], static_cast<std::uint8_t>(reference[a])) << "address " << a;
    }
};

TEST_F(ThirdPartyHex, SdccPackihxOutput) {
    if (!haveTool("sdcc") || !haveTool("packihx") || !haveTool("srec_cat"))
        GTEST_SKIP() << "sdcc, packihx or srec_cat is not installed";
    writeFile("prog.c",
              "#include <8051.h>\n"
              "__code unsigned char table[300] = {1, 2, 3, 4, 5, 250, 251, 252};\n"
              "void main(void) { unsigned int i; for (;;) for (i = 0; i < 300; i++) "
              "P1 = table[i]; }\n");
    const std::string d = dir.string();
    ASSERT_EQ(run("cd '" + d + "' && sdcc -mmcs51 prog.c -o prog.ihx"), 0);
    ASSERT_EQ(run("cd '" + d + "' && packihx prog.ihx > prog.hex"), 0);
    expectSameAsSrecCat(d + "/prog.hex");
    EXPECT_EQ(buffer.loadStart, 0);
    EXPECT_GT(buffer.loadEnd, 300);
}

TEST_F(ThirdPartyHex, ShippedBlinkExample) {
    if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    expectSameAsSrecCat(std::string(QMX_SOURCE_DIR) + "/examples/blink/blink.hex");
}

TEST_F(ThirdPartyHex, SrecCatOutputWithExtendedAddressRecords) {
    if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    std::mt19937 rng(1234);
    std::vector<std::uint8_t> data(5000);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    const std::string in = writeFile("in.bin", data);
    const std::string hex = (dir / "out.hex").string();
    ASSERT_EQ(run("srec_cat '" + in + "' -binary -offset 0x1234 -o '" + hex + "' -intel -obs=32"),
              0);
    // srec_cat starts with an extended linear address record of 0.
    ASSERT_NE(readFile(hex).find(":020000040000FA"), std::string::npos);
    expectSameAsSrecCat(hex);
    EXPECT_EQ(buffer.bytes[0], 0xFF);  // the record's two zero bytes were not stored
    EXPECT_EQ(buffer.bytes[0x1234], data[0]);
    EXPECT_EQ(buffer.loadEnd, 0x1234 + 5000 - 1);
}

// The committed samples (tests/data/thirdparty/generate.sh) need no tools at test time.
class CommittedSamples : public ImageTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CommittedSamples, LoadsLikeSrecCatReadsIt) {
    const std::string base = std::string(QMX_TEST_DATA_DIR) + "/thirdparty/" + GetParam();
    const std::string reference = readFile(base + ".bin");
    ASSERT_FALSE(reference.empty());
    buffer.fillByte = 0xFF;
    buffer.currentPath = base + ".hex";
    LoadResult r = loadSelectedFile(buffer, model("M-064"), serial, ui);
    EXPECT_EQ(r.badRecords, 0);
    EXPECT_TRUE(ui.boxes.empty());
    for (std::size_t a = 0; a < 0x10000; ++a) {
        const std::uint8_t want =
            a < reference.size() ? static_cast<std::uint8_t>(reference[a]) : 0xFF;
        ASSERT_EQ(buffer.bytes[a], want) << "address " << a;
    }
    EXPECT_EQ(buffer.loadEnd, static_cast<long>(reference.size()) - 1);
}

INSTANTIATE_TEST_SUITE_P(ThirdPartyHex, CommittedSamples,
                         ::testing::Values("sdcc_table", "srec_offset"));

TEST_F(ThirdPartyHex, CommittedSampleAbove64KIsReportedNotWrapped) {
    buffer.fillByte = 0xFF;
    buffer.currentPath = std::string(QMX_TEST_DATA_DIR) + "/thirdparty/srec_high.hex";
    LoadResult r = loadSelectedFile(buffer, model("M-070"), serial, ui);
    EXPECT_TRUE(r.clipped);
    for (std::size_t a = 0; a < 0x10000; ++a)
        ASSERT_EQ(buffer.bytes[a], 0xFF) << "address " << a;
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text.rfind("    File over the valid scope.", 0), 0u);
}

}  // namespace
}  // namespace qmx::test
