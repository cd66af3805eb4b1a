// The setup controls an operation locks while it runs and the enabled state each gets back
// when the operation ends or a model is selected, as data the window applies by control name.
#pragma once

#include <string>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "catalogue/option_set.h"

namespace qmx {

// One control (or one element of a control array, written "Name(i)") and whether it is
// enabled.
struct ControlState {
    std::string control;
    bool enabled = false;
};

// Every setup control an operation disables when it starts (all with enabled = false): the
// model list, Open File, both fill-byte choices, the port list, the monitor download and
// read-options buttons, both choices of the option rows `Option0` to `Option7`, the three
// auto-increment formats and their check box, and the download-time groups of the "选项"
// tab.
std::vector<ControlState> lockedSetupControls();

// The states after an operation ends or a model is selected: everything enabled except the
// monitor download button (only for a monitor model), the option rows not shown on the
// model's page, and the watchdog-feed pin list while "无" is chosen. The auto-increment
// formats are not listed: the auto-increment check box decides them.
std::vector<ControlState> unlockedSetupControls(const ModelEntry& model,
                                                const OptionChoices& choices);

}  // namespace qmx
