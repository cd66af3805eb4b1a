#include "catalogue/setup_controls.h"

#include <gtest/gtest.h>

#include <map>

namespace qmx {
namespace {

std::map<std::string, bool> byName(const std::vector<ControlState>& states) {
    std::map<std::string, bool> m;
    for (const ControlState& s : states) {
        EXPECT_TRUE(m.emplace(s.control, s.enabled).second) << "twice: " << s.control;
    }
    return m;
}

TEST(SetupControls, LockDisablesEverythingItUnlocksAgain) {
    const auto locked = byName(lockedSetupControls());
    for (const auto& [name, enabled] : locked)
        EXPECT_FALSE(enabled) << name;
    const auto unlocked = byName(unlockedSetupControls(*findModel("M-070"), OptionChoices{}));
    for (const auto& [name, enabled] : unlocked) {
        EXPECT_TRUE(locked.count(name)) << name << " is unlocked but never locked";
    }
    // The auto-increment formats are left to their check box.
    EXPECT_TRUE(locked.count("optAuto_Increase(2)"));
    EXPECT_FALSE(unlocked.count("optAuto_Increase(0)"));
}

TEST(SetupControls, UnlockFollowsModelAndChoices) {
    OptionChoices c;
    auto f2 = byName(unlockedSetupControls(*findModel("M-070"), c));
    EXPECT_FALSE(f2.at("comDownSoft_ICE"));
    EXPECT_TRUE(f2.at("Option2(1)"));
    EXPECT_FALSE(f2.at("Option3(0)"));
    EXPECT_FALSE(f2.at("comb_WDT"));  // "无" chosen
    EXPECT_TRUE(f2.at("combMcuModel"));
    c.downloadWdt = 1;
    EXPECT_TRUE(byName(unlockedSetupControls(*findModel("M-070"), c)).at("comb_WDT"));

    auto monitor = byName(unlockedSetupControls(*findModel("M-076"), c));
    EXPECT_TRUE(monitor.at("comDownSoft_ICE"));
    EXPECT_TRUE(monitor.at("Option0(0)"));
    EXPECT_FALSE(monitor.at("Option1(0)"));
    auto f1 = byName(unlockedSetupControls(*findModel("M-088"), c));
    EXPECT_FALSE(f1.at("Option0(0)"));  // a notice row has no choices
}

}  // namespace
}  // namespace qmx
