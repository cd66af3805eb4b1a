#include "catalogue/setup_controls.h"

namespace qmx {
namespace {

std::string element(std::string_view name, int index) {
    return std::string(name) + "(" + std::to_string(index) + ")";
}

// Controls locked and unlocked alike, in the order the window lists them, without the
// monitor button, the option rows and the auto-increment formats.
std::vector<std::string> commonControls() {
    return {"combMcuModel",
            "comLoadFile",
            element("optFillbyte", 0),
            element("optFillbyte", 1),
            "combCommPort",
            "comReadChipLock",
            "cheAuto_Increase",
            element("opt_erase_data", 0),
            element("opt_erase_data", 1),
            element("opt_ISP_DEMO_WDT", 0),
            element("opt_ISP_DEMO_WDT", 1),
            "comb_WDT",
            "optAUX_RAM_NO",
            "optAUX_RAM_YES",
            "optRST_CLOSE_WDT_NO",
            "optRST_CLOSE_WDT_YES"};
}

std::string optionRowChoice(int row, int choice) {
    return element("Option" + std::to_string(row), choice);
}

}  // namespace

std::vector<ControlState> lockedSetupControls() {
    std::vector<ControlState> states;
    for (std::string& c : commonControls())
        states.push_back({std::move(c), false});
    states.push_back({"comDownSoft_ICE", false});
    for (int row = 0; row < 8; ++row) {
        states.push_back({optionRowChoice(row, 0), false});
        states.push_back({optionRowChoice(row, 1), false});
    }
    for (int i = 0; i < 3; ++i)
        states.push_back({element("optAuto_Increase", i), false});
    return states;
}

std::vector<ControlState> unlockedSetupControls(const ModelEntry& model,
                                                const OptionChoices& choices) {
    std::vector<ControlState> states;
    for (std::string& c : commonControls()) {
        // The watchdog-feed pin stays off while no watchdog is fed.
        const bool enabled = c != "comb_WDT" || choices.downloadWdt != 0;
        states.push_back({std::move(c), enabled});
    }
    states.push_back({"comDownSoft_ICE", model.monitorCapable});
    const OptionPage page = optionPage(model.family);
    for (int row = 0; row < 8; ++row) {
        const auto shown = static_cast<std::size_t>(row) < page.rows.size() &&
                           !page.rows[static_cast<std::size_t>(row)].notice;
        states.push_back({optionRowChoice(row, 0), shown});
        states.push_back({optionRowChoice(row, 1), shown});
    }
    return states;
}

}  // namespace qmx
