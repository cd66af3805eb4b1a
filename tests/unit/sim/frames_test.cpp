// The chip's command receiver and its answer frames, byte by byte.
#include <gtest/gtest.h>

#include "frames.h"

using namespace qmxsim;

namespace {

struct Fed {
    int frames = 0;
    int rejected = 0;
    FrameFault lastFault = FrameFault::none;
    CommandFrame last;
};

Fed feedAll(CommandReceiver& r, const Bytes& bytes) {
    Fed f;
    for (auto b : bytes) {
        switch (r.feed(b)) {
            case CommandReceiver::Result::frame:
                ++f.frames;
                f.last = r.frame();
                break;
            case CommandReceiver::Result::rejected:
                ++f.rejected;
                f.lastFault = r.fault();
                break;
            case CommandReceiver::Result::none:
                break;
        }
    }
    return f;
}

}  // namespace

TEST(SimFrames, StatusRequestIsTheKnownEightBytes) {
    EXPECT_EQ(buildCommand(0x50, {}), (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x06, 0x50, 0xC0, 0x16}));
    // The short commands carry fixed sums.
    EXPECT_EQ(buildCommand(0x80, {})[6], 0xF0);
    EXPECT_EQ(buildCommand(0x82, {})[6], 0xF2);
    EXPECT_EQ(buildCommand(0x95, {})[6], 0x05);
    // Erase with 32 pages.
    EXPECT_EQ(buildCommand(0x84, {0x20}),
              (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x07, 0x84, 0x20, 0x15, 0x16}));
    // The family-0 option command for 6-clock mode.
    EXPECT_EQ(buildCommand(0x8D, {0x28}),
              (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x07, 0x8D, 0x28, 0x26, 0x16}));
}

TEST(SimFrames, ReceiverSkipsSyncAndNoiseAndTakesTheFrame) {
    CommandReceiver r;
    Bytes in{0x7F, 0x7F, 0x00, 0x46, 0x00, 0xB9, 0x6A};  // a lone 46 and stray bytes first
    const Bytes cmd = buildCommand(0x8E, {0xFF, 0xFD, 0x00, 0x06, 0x17});
    in.insert(in.end(), cmd.begin(), cmd.end());
    const Fed f = feedAll(r, in);
    ASSERT_EQ(f.frames, 1);
    EXPECT_EQ(f.rejected, 0);
    EXPECT_EQ(f.last.command, 0x8E);
    EXPECT_EQ(f.last.payload, (Bytes{0xFF, 0xFD, 0x00, 0x06, 0x17}));
    EXPECT_EQ(f.last.raw, cmd);
}

TEST(SimFrames, RepeatedHeaderByteStillStartsAFrame) {
    CommandReceiver r;
    Bytes in{0x46, 0x46};
    const Bytes cmd = buildCommand(0x50, {});
    in.insert(in.end(), cmd.begin() + 1, cmd.end());  // 46 46 B9 6A ...
    EXPECT_EQ(feedAll(r, in).frames, 1);
}

TEST(SimFrames, FrameSplitAcrossFeedsIsAssembled) {
    CommandReceiver r;
    const Bytes cmd = buildCommand(0x00, {0, 0, 0, 0, 0, 3, 1, 2, 3});
    const Bytes a(cmd.begin(), cmd.begin() + 5);
    const Bytes b(cmd.begin() + 5, cmd.end());
    EXPECT_EQ(feedAll(r, a).frames, 0);
    EXPECT_TRUE(r.busy());
    const Fed f = feedAll(r, b);
    ASSERT_EQ(f.frames, 1);
    EXPECT_EQ(f.last.payload.size(), 9u);
}

TEST(SimFrames, BadSumBadEndAndBadLengthAreRejectedAndTheNextFrameStillCounts) {
    CommandReceiver r;
    Bytes badSum = buildCommand(0x50, {});
    badSum[6] ^= 0x01;
    Fed f = feedAll(r, badSum);
    EXPECT_EQ(f.frames, 0);
    EXPECT_EQ(f.rejected, 1);
    EXPECT_EQ(f.lastFault, FrameFault::badSum);

    Bytes badEnd = buildCommand(0x50, {});
    badEnd.back() = 0x17;
    f = feedAll(r, badEnd);
    EXPECT_EQ(f.lastFault, FrameFault::badEnd);

    f = feedAll(r, Bytes{0x46, 0xB9, 0x6A, 0x00, 0x05});
    EXPECT_EQ(f.lastFault, FrameFault::badLength);
    f = feedAll(r, Bytes{0x46, 0xB9, 0x6A, 0xFF, 0xFF});
    EXPECT_EQ(f.lastFault, FrameFault::badLength);

    f = feedAll(r, buildCommand(0x82, {}));
    EXPECT_EQ(f.frames, 1);
    EXPECT_EQ(f.last.command, 0x82);
}

TEST(SimFrames, LargestBlockFrameFits) {
    CommandReceiver r;
    Bytes payload{0, 0, 0x10, 0, 0x02, 0x00};
    for (int i = 0; i < 512; ++i)
        payload.push_back(static_cast<std::uint8_t>(i * 7));
    const Fed f = feedAll(r, buildCommand(0x00, payload));
    ASSERT_EQ(f.frames, 1);
    EXPECT_EQ(f.last.payload.size(), 518u);
}

TEST(SimFrames, AnswerFrameLengthSumAndHeader) {
    const Bytes a = buildAnswer({0x80, 0x5A}, false);
    EXPECT_EQ(a, (Bytes{0x68, 0x00, 0x07, 0x80, 0x5A,
                        static_cast<std::uint8_t>(0x68 + 7 + 0x80 + 0x5A), 0x16}));
    const Bytes h = buildAnswer({0x80}, true);
    EXPECT_EQ(h, (Bytes{0x46, 0xB9, 0x68, 0x00, 0x06, 0x80, 0xEE, 0x16}));
}

TEST(SimFrames, HexText) {
    EXPECT_EQ(hexText(Bytes{0x46, 0xB9, 0x0A}), "46 B9 0A");
    EXPECT_EQ(hexText(Bytes{}), "");
}
