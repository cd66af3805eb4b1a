// The simulated offline board at the byte level: silent until powered, its CRC-16 against a
// published check value, answers with CRC trailers, and every frame that breaks the tables
// logged and left unanswered.
#include <gtest/gtest.h>

#include "models.h"
#include "offline_board.h"

using namespace qmxsim;

namespace {

OfflineBoard makeBoard(BoardConfig b = {}) {
    ChipConfig c;
    c.model = *findModel("M-072");
    return OfflineBoard(c, b);
}

std::vector<ChipAction> feed(OfflineBoard& board, const Bytes& bytes) {
    std::vector<ChipAction> all;
    for (auto b : bytes) {
        auto a = board.receive(b, 115200);
        all.insert(all.end(), a.begin(), a.end());
    }
    return all;
}

// 46 B9 6A 00 09 code K P crcL crcH 16, the CRC taken by hand over 6A ... P.
Bytes command(std::uint8_t code, std::uint8_t family, std::uint8_t param) {
    Bytes f{0x46, 0xB9, 0x6A, 0x00, 0x09, code, family, param};
    const std::uint16_t c = crc16(f.data() + 2, 6);
    f.push_back(static_cast<std::uint8_t>(c & 0xFF));
    f.push_back(static_cast<std::uint8_t>(c >> 8));
    f.push_back(0x16);
    return f;
}

TEST(SimOfflineBoard, CrcIsModbus) {
    const std::string check = "123456789";
    EXPECT_EQ(crc16(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0x4B37);
}

TEST(SimOfflineBoard, SilentUntilPoweredThenAnswersWithCrc) {
    BoardConfig cfg;
    cfg.version = 0x17;
    cfg.capacityK = 48;
    cfg.extended = true;
    OfflineBoard board = makeBoard(cfg);
    EXPECT_TRUE(feed(board, {0xAA}).empty());
    board.powerOn();
    const auto wake = feed(board, {0xAA});
    ASSERT_EQ(wake.size(), 1u);
    const Bytes& a = wake[0].bytes;
    ASSERT_EQ(a.size(), 7u);
    EXPECT_EQ(a[0], 0x68);
    EXPECT_EQ(a[2], 0x07);
    EXPECT_EQ(a[3], 0x80);
    const std::uint16_t c = crc16(a.data(), 4);
    EXPECT_EQ(a[4], c & 0xFF);
    EXPECT_EQ(a[5], c >> 8);
    EXPECT_EQ(a[6], 0x16);

    const auto info = feed(board, command(0x0E, 2, 0));
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].bytes[3], 0x0E);
    EXPECT_EQ(info[0].bytes[4], 0x01);  // extended
    EXPECT_EQ(info[0].bytes[5], 48);
    const auto version = feed(board, command(0x0C, 2, 0));
    ASSERT_EQ(version.size(), 1u);
    EXPECT_EQ(version[0].bytes[4], 0x17);
}

TEST(SimOfflineBoard, FramesThatBreakTheTablesAreLoggedNotAnswered) {
    OfflineBoard board = makeBoard();
    board.powerOn();
    Bytes badCrc = command(0x84, 2, 0);
    badCrc[8] ^= 0x01;
    // The plain-sum stop command a host sends at the end is not a board frame.
    const Bytes stop{0x46, 0xB9, 0x6A, 0x00, 0x06, 0x82, 0xF2, 0x16};
    for (const Bytes& frame : {badCrc, stop, command(0x55, 2, 0)}) {
        const auto actions = feed(board, frame);
        ASSERT_FALSE(actions.empty());
        for (const auto& a : actions)
            EXPECT_EQ(a.kind, ChipAction::Kind::note) << a.note;
    }
    // A command for another family is answered but logged.
    const auto other = feed(board, command(0x80, 3, 0xF3));
    ASSERT_EQ(other.size(), 2u);
    EXPECT_EQ(other[0].kind, ChipAction::Kind::note);
    EXPECT_NE(other[0].note.find("family 3"), std::string::npos);
    EXPECT_EQ(other[1].kind, ChipAction::Kind::answer);
}

TEST(SimOfflineBoard, DataBlockStoredAtItsAddress) {
    OfflineBoard board = makeBoard();
    board.powerOn();
    Bytes f{0x46, 0xB9, 0x6A, 0x00, 3 + 13, 0x00, 0x00, 0x00, 0x40, 0x10, 0x00, 0x03, 1, 2, 3};
    const std::uint16_t c = crc16(f.data() + 2, f.size() - 2);
    f.push_back(static_cast<std::uint8_t>(c & 0xFF));
    f.push_back(static_cast<std::uint8_t>(c >> 8));
    f.push_back(0x16);
    const auto actions = feed(board, f);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, ChipAction::Kind::answer);
    EXPECT_EQ(actions[0].bytes[3], 0x80);
    EXPECT_EQ(board.flash()[0x4010], 1);
    EXPECT_EQ(board.flash()[0x4012], 3);
    EXPECT_EQ(board.flash()[0x4013], 0xFF);
}

}  // namespace
