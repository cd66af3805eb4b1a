// The --fault option and the reproducibility of injected faults.
#include <gtest/gtest.h>

#include <vector>

#include "faults.h"

using namespace qmxsim;

TEST(SimFaults, ParsesEveryItem) {
    std::string error;
    auto s = parseFaultSpec(
        "drop=0.1,corrupt=0.05,delay=30,mute-after=4,vanish-after=9,seed=77,option-busy=2", error);
    ASSERT_TRUE(s) << error;
    EXPECT_DOUBLE_EQ(s->drop, 0.1);
    EXPECT_DOUBLE_EQ(s->corrupt, 0.05);
    EXPECT_EQ(s->delayMs, 30);
    EXPECT_EQ(s->muteAfter, 4);
    EXPECT_EQ(s->vanishAfter, 9);
    EXPECT_EQ(s->seed, 77u);
    EXPECT_EQ(s->optionBusy, 2);
    EXPECT_TRUE(s->any());

    auto empty = parseFaultSpec("", error);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->any());
    EXPECT_EQ(empty->muteAfter, -1);
}

TEST(SimFaults, NoiseIsReproducibleAndNeverLooksLikeAFrameStart) {
    std::string error;
    auto s = parseFaultSpec("noise=12,seed=5", error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->noise, 12);
    EXPECT_TRUE(s->any());
    EXPECT_FALSE(parseFaultSpec("noise=1001", error));
    EXPECT_FALSE(parseFaultSpec("noise=-1", error));

    FaultInjector a(*s), b(*s);
    std::vector<int> seen(256, 0);
    for (int i = 0; i < 20000; ++i) {
        const std::uint8_t x = a.noiseByte();
        EXPECT_EQ(x, b.noiseByte());
        ++seen[x];
    }
    EXPECT_EQ(seen[0x46], 0);
    EXPECT_EQ(seen[0x68], 0);
    // Everything else turns up: it is noise, not a fixed pattern.
    EXPECT_GT(seen[0x00], 0);
    EXPECT_GT(seen[0xB9], 0);
    EXPECT_GT(seen[0x16], 0);
}

TEST(SimFaults, RejectsBadItems) {
    std::string error;
    for (const char* bad : {"drop=2", "drop=x", "corrupt=-0.1", "delay=-5",
                            "mute-after=", "vanish-after=1.5", "seed=", "loud=1", "drop"}) {
        error.clear();
        EXPECT_FALSE(parseFaultSpec(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

namespace {

std::vector<int> fates(const FaultSpec& spec, bool toChip, int n) {
    FaultInjector f(spec);
    std::vector<int> out;
    for (int i = 0; i < n; ++i) {
        const auto fate = f.decide(toChip);
        out.push_back(static_cast<int>(fate));
        if (fate == FaultInjector::Fate::corrupt) out.push_back(f.corruptValue(toChip, 0x55));
    }
    return out;
}

}  // namespace

TEST(SimFaults, SameSeedSameFaultsOtherSeedOtherFaults) {
    FaultSpec spec;
    spec.drop = 0.2;
    spec.corrupt = 0.2;
    spec.seed = 1234;
    const auto a = fates(spec, true, 500);
    EXPECT_EQ(a, fates(spec, true, 500));
    spec.seed = 1235;
    EXPECT_NE(a, fates(spec, true, 500));
    // Roughly the asked share of drops and corruptions.
    int drops = 0, corrupts = 0;
    FaultInjector f(spec);
    for (int i = 0; i < 10000; ++i) {
        const auto fate = f.decide(false);
        drops += fate == FaultInjector::Fate::drop;
        corrupts += fate == FaultInjector::Fate::corrupt;
    }
    EXPECT_NEAR(drops, 2000, 250);
    EXPECT_NEAR(corrupts, 2000, 250);
}

TEST(SimFaults, DirectionsDrawIndependently) {
    FaultSpec spec;
    spec.drop = 0.5;
    spec.seed = 9;
    FaultInjector mixed(spec);
    FaultInjector hostOnly(spec);
    std::vector<int> a, b;
    for (int i = 0; i < 200; ++i) {
        mixed.decide(true);  // traffic to the chip in between
        a.push_back(static_cast<int>(mixed.decide(false)));
        b.push_back(static_cast<int>(hostOnly.decide(false)));
    }
    EXPECT_EQ(a, b);
}

TEST(SimFaults, CorruptionAlwaysChangesTheByte) {
    FaultSpec spec;
    spec.corrupt = 1;
    FaultInjector f(spec);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(f.decide(true), FaultInjector::Fate::corrupt);
        EXPECT_NE(f.corruptValue(true, static_cast<std::uint8_t>(i)), static_cast<std::uint8_t>(i));
    }
}

TEST(SimFaults, RngBetweenStaysInRange) {
    Rng r(5);
    for (int i = 0; i < 1000; ++i) {
        const int v = r.between(-2, 2);
        EXPECT_GE(v, -2);
        EXPECT_LE(v, 2);
    }
    EXPECT_EQ(r.between(3, 3), 3);
}
