// Button states of the main window and the beep signal. Every state change goes through
// set_button_state so that the window and the command line agree on the numbers.
#pragma once

#include "core/isp_core.h"

namespace qmx {

enum ButtonState : int {
    kButtonBusy = 2,         // a connection attempt runs: only Stop enabled
    kButtonIdle = 3,         // nothing runs: Download, Re-Download, read options enabled
    kButtonProgramming = 4,  // programming started
    kButtonReady = 6,        // options written or read
    kButtonIdentified = 20,  // a chip was identified during a download
};

inline bool isButtonState(int state) {
    return state == kButtonBusy || state == kButtonIdle || state == kButtonProgramming ||
           state == kButtonReady || state == kButtonIdentified;
}

// A state number outside the table changes nothing.
inline void set_button_state(IspCore& core, int state) {
    if (isButtonState(state)) core.ui().setButtonState(state);
}

// n system beeps (the face spaces them): one for a Stop during connect or erase, two for a
// Stop during programming and for warnings, three for every failure.
inline void beep_times(IspCore& core, int n) {
    if (n > 0) core.ui().beep(n);
}

}  // namespace qmx
