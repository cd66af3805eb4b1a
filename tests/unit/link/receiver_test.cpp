// The receive handler: boot-loader answers (with and without the 46 B9 header, with the sum or
// the CRC trailer) and user-command frames, fed in pieces as they arrive on a line.
#include <gtest/gtest.h>

#include "link/crc16.h"
#include "link/frame_receiver.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A chip answer 68 L body sum 16 with a correct sum.
Bytes answer(const Bytes& body) {
    Bytes f{0x68, 0x00, static_cast<std::uint8_t>(body.size() + 5)};
    f.insert(f.end(), body.begin(), body.end());
    unsigned sum = 0;
    for (auto b : f)
        sum += b;
    f.push_back(static_cast<std::uint8_t>(sum));
    f.push_back(0x16);
    return f;
}

Bytes crcAnswer(const Bytes& body) {
    Bytes f{0x68, 0x00, static_cast<std::uint8_t>(body.size() + 6)};
    f.insert(f.end(), body.begin(), body.end());
    std::uint16_t c = crc16Modbus(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(c & 0xFF));
    f.push_back(static_cast<std::uint8_t>(c >> 8));
    f.push_back(0x16);
    return f;
}

class Receiver : public ::testing::Test {
  protected:
    void SetUp() override { rx.set_receive_armed(true); }
    void feed(const Bytes& b) {
        rx.push(b.data(), b.size());
        rx.consume();
    }
    Bytes stored() const { return Bytes(rx.stored().begin(), rx.stored().end()); }
    FrameReceiver rx;
};

TEST_F(Receiver, BytesBeforeTheFirst68AreSkipped) {
    Bytes f = answer({0x80, 0x01});
    Bytes line{0x7F, 0x7F, 0x00, 0x55};
    line.insert(line.end(), f.begin(), f.end());
    feed(line);
    EXPECT_TRUE(rx.frame_ready());
    EXPECT_EQ(stored(), f);
}

TEST_F(Receiver, AFrameSplitAcrossArrivalsIsAssembled) {
    Bytes f = answer({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    for (std::size_t i = 0; i < f.size(); ++i) {
        EXPECT_FALSE(rx.frame_ready()) << "complete too early at byte " << i;
        feed({f[i]});
    }
    EXPECT_TRUE(rx.frame_ready());
    EXPECT_EQ(stored(), f);
}

TEST_F(Receiver, WrongSumSetsTheErrorAndEmptiesTheBuffer) {
    Bytes f = answer({0x80});
    f[f.size() - 2] ^= 0x01;
    feed(f);
    EXPECT_FALSE(rx.frame_ready());
    EXPECT_TRUE(rx.frame_error());
    EXPECT_EQ(rx.count(), 0);
    // The next good frame is taken.
    feed(answer({0x80}));
    EXPECT_TRUE(rx.frame_ready());
}

TEST_F(Receiver, WrongEndByteDropsTheFrameSilently) {
    Bytes f = answer({0x80});
    f.back() = 0x17;
    feed(f);
    EXPECT_FALSE(rx.frame_ready());
    EXPECT_FALSE(rx.frame_error());
    EXPECT_EQ(rx.count(), 0);
}

TEST_F(Receiver, ABrokenFrameDoesNotSwallowTheAnswerBehindItInTheSameRead) {
    Bytes f = answer({0x80, 0x01});
    Bytes line{0x68, 0x00, 0x05, 0xAA, 0xBB};  // end byte BB: dropped
    line.insert(line.end(), f.begin(), f.end());
    feed(line);
    EXPECT_TRUE(rx.frame_ready());
    EXPECT_EQ(stored(), f);
}

TEST_F(Receiver, LengthBeyondTheBufferNeverCompletesAndStaysInBounds) {
    Bytes f{0x68, 0x07, 0xD0};  // L = 2000
    f.resize(3000, 0x16);
    feed(f);
    EXPECT_FALSE(rx.frame_ready());
    EXPECT_EQ(rx.count(), FrameReceiver::kSize);
}

TEST_F(Receiver, UnarmedReceiverDropsEverything) {
    rx.set_receive_armed(false);
    feed(answer({0x80}));
    EXPECT_FALSE(rx.frame_ready());
    EXPECT_EQ(rx.count(), 0);
}

TEST_F(Receiver, WithTheHeaderExpectedOnlyA46B9FrameIsAssembled) {
    rx.set_header_expected(true);
    Bytes f = answer({0x80});
    feed(f);  // no header: never assembled
    EXPECT_FALSE(rx.frame_ready());
    EXPECT_EQ(rx.count(), 0);
    feed({0x46, 0x00});  // a lone 46 restarts the search
    EXPECT_FALSE(rx.header_46_seen());
    feed(f);
    EXPECT_FALSE(rx.frame_ready());
    Bytes good{0x46, 0xB9};
    good.insert(good.end(), f.begin(), f.end());
    feed(good);
    EXPECT_TRUE(rx.frame_ready());
    EXPECT_EQ(stored(), f);
    EXPECT_FALSE(rx.header_46_seen());
}

TEST_F(Receiver, CrcTrailerIsCheckedInCrcMode) {
    rx.set_crc_check(true);
    Bytes f = crcAnswer({0x51, 0x00, 0x00});
    feed(f);
    EXPECT_TRUE(rx.frame_ready());
    rx.clear_after_flush();
    Bytes bad = crcAnswer({0x51, 0x00, 0x00});
    bad[bad.size() - 3] ^= 0xFF;
    feed(bad);
    EXPECT_FALSE(rx.frame_ready());
    EXPECT_TRUE(rx.frame_error());
}

TEST_F(Receiver, FlushResetsTheReceiver) {
    feed(answer({0x80}));
    ASSERT_TRUE(rx.frame_ready());
    rx.clear_after_flush();
    EXPECT_FALSE(rx.frame_ready());
    EXPECT_EQ(rx.count(), 0);
}

TEST_F(Receiver, DebugModeHandsBytesToTheDebugParser) {
    Bytes got;
    rx.set_debug_mode(true);
    rx.set_debug_sink(
        [&](const std::uint8_t* d, std::size_t n) { got.insert(got.end(), d, d + n); });
    feed(answer({0x80}));
    EXPECT_FALSE(rx.frame_ready());
    EXPECT_EQ(got, answer({0x80}));
}

// User-command frames: 5A A5 L(2) code(s) sum16 16.
Bytes userAnswer(const Bytes& codes) {
    Bytes f{0x5A, 0xA5, 0x00, static_cast<std::uint8_t>(codes.size() + 7)};
    f.insert(f.end(), codes.begin(), codes.end());
    unsigned sum = 0;
    for (auto b : f)
        sum += b;
    f.push_back(static_cast<std::uint8_t>(sum >> 8));
    f.push_back(static_cast<std::uint8_t>(sum));
    f.push_back(0x16);
    return f;
}

TEST_F(Receiver, UserFrameAfterNoiseAndAFalseStart) {
    rx.set_user_command_mode(true);
    Bytes line{0x00, 0x5A, 0x00, 0x5A, 0x5A};
    Bytes f = userAnswer({0xB0});
    line.insert(line.end(), f.begin() + 1, f.end());  // 5A 5A A5 ...: the last 5A starts it
    for (auto b : line)
        feed({b});
    EXPECT_TRUE(rx.user_frame_ready());
    EXPECT_EQ(stored(), f);
}

TEST_F(Receiver, UserFrameWithWrongSumOrEndIsDropped) {
    rx.set_user_command_mode(true);
    Bytes f = userAnswer({0xB2});
    f[f.size() - 2] ^= 1;
    feed(f);
    EXPECT_FALSE(rx.user_frame_ready());
    EXPECT_EQ(rx.count(), 0);
    // A wrong end byte takes whatever follows it on the line along: the port is flushed too.
    Bytes g = userAnswer({0xB2});
    g.back() = 0x00;
    const Bytes behind = userAnswer({0xB2});
    g.insert(g.end(), behind.begin(), behind.end());
    rx.push(g.data(), g.size());
    EXPECT_TRUE(rx.consume());
    EXPECT_FALSE(rx.user_frame_ready());
    EXPECT_EQ(rx.count(), 0);
    EXPECT_EQ(rx.pending(), 0u);
    feed(userAnswer({0xB2}));
    EXPECT_TRUE(rx.user_frame_ready());
}

}  // namespace
}  // namespace qmx
