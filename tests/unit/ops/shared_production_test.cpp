// The gang's shared counter and serial numbers under concurrent stations: no number in two
// chips, a failed chip's number goes to the next chip (once), the saved next value is past
// every number used, and the stream stops before a number that does not fit.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "ops/serial_number_store.h"
#include "ops/shared_production.h"
#include "settings/settings_store.h"
#include "support/sim_process.h"

namespace qmx {
namespace {

SerialNumberSpec numbering(const std::string& next, long count) {
    SerialNumberSpec s;
    s.enabled = s.active = true;
    s.format = SerialFormat::Binary;
    s.nextValueText = next;
    s.count = count;
    return s;
}

TEST(SharedProduction, ConcurrentStationsNeverShareANumberAndLoseNone) {
    test::TempDir dir;
    SettingsStore store;
    store.open(dir.file("settings.ini"));
    SharedProduction shared(store, "10", numbering("5", 2));

    std::mutex m;
    std::multiset<unsigned long> programmed;  // numbers in counted chips
    std::vector<std::thread> stations;
    for (int t = 0; t < 4; ++t) {
        stations.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t));
            for (int chip = 0; chip < 50; ++chip) {
                std::string error;
                const auto v = shared.reserveSerial(error);
                ASSERT_TRUE(v) << error;
                // A chip that fails gives its number back; a second release is harmless.
                if (rng() % 4 == 0) {
                    shared.releaseSerial(*v);
                    shared.releaseSerial(*v);
                    continue;
                }
                std::string saveError;
                shared.countSuccess(saveError);
                shared.commitSerial(*v);
                shared.commitSerial(*v);  // a second commit changes nothing
                std::lock_guard<std::mutex> lock(m);
                programmed.insert(std::stoul(v->value));
            }
        });
    }
    for (auto& s : stations)
        s.join();

    const std::set<unsigned long> distinct(programmed.begin(), programmed.end());
    EXPECT_EQ(distinct.size(), programmed.size()) << "a number was written into two chips";
    // Numbers of failed chips were taken again: what is neither used nor left over is none.
    std::set<unsigned long> all = distinct;
    for (const std::string& v : shared.unusedSerials())
        EXPECT_TRUE(all.insert(std::stoul(v)).second);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(*all.begin(), 5u);
    EXPECT_EQ(*all.rbegin() - *all.begin() + 1, all.size()) << "a number was skipped";
    EXPECT_EQ(shared.okCount(), std::to_string(10 + programmed.size()));

    // What a later run starts from: past every counted number, and the counter.
    SettingsStore again;
    again.open(dir.file("settings.ini"));
    SerialNumberSpec saved;
    loadSerialSettings(saved, again);
    EXPECT_EQ(std::stoul(saved.nextValueText), *distinct.rbegin() + 1);
}

TEST(SharedProduction, StreamStopsBeforeANumberThatDoesNotFitButReusesReleasedOnes) {
    test::TempDir dir;
    SettingsStore store;
    store.open(dir.file("settings.ini"));
    SharedProduction shared(store, "0", numbering("254", 1));  // one byte: up to 255
    std::string error;
    const auto a = shared.reserveSerial(error);
    const auto b = shared.reserveSerial(error);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(shared.canReserve(error));
    EXPECT_FALSE(shared.reserveSerial(error));
    EXPECT_NE(error.find("256"), std::string::npos) << error;
    shared.releaseSerial(*a);
    EXPECT_TRUE(shared.canReserve(error));
    const auto again = shared.reserveSerial(error);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->value, a->value);
    // The first chip's late second release does not take the number from the chip that has it.
    shared.releaseSerial(*a);
    EXPECT_FALSE(shared.canReserve(error));
}

}  // namespace
}  // namespace qmx
