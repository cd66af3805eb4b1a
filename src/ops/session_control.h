// Button states, beeps, and the two commands any step may end a chip with: Stop (the chip is
// told 82 and the port closed) and Run (the chip leaves its boot loader and starts the user
// program). The session driver and the programming, option and connect steps all call these;
// nothing here calls back into them.
#pragma once

#include "core/isp_core.h"
#include "ops/chip_link.h"

namespace qmx {

// Button states of the main window. Every state change goes through set_button_state so that
// the window and the command line agree on the numbers.
enum ButtonState : int {
    kButtonBusy = 2,         // a connection attempt runs: only Stop enabled
    kButtonIdle = 3,         // nothing runs: Download, Re-Download, read options enabled
    kButtonProgramming = 4,  // programming started
    kButtonReady = 6,        // options written or read
    kButtonIdentified = 20,  // a chip was identified during a download
};

// The programming steps' names for the same states.
inline constexpr int kStateBusy = kButtonBusy;
inline constexpr int kStateIdle = kButtonIdle;
inline constexpr int kStateProgramming = kButtonProgramming;
inline constexpr int kStateOptionsDone = kButtonReady;
inline constexpr int kStateIdentified = kButtonIdentified;

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

// Ends whatever runs (the Stop button `comStop_Download`): idle buttons, stop flag set,
// `connected` cleared, the chip told 82, queues emptied, port closed.
void stop_download(IspCore& core, ChipLink& link);
void stop_download(IspCore& core);

// Starts the chip's user program (the Run button `comRun`): 82, then the run frame in one
// write; no answer is awaited. The port is closed afterwards.
void run_user_program(IspCore& core, ChipLink& link);
void run_user_program(IspCore& core);

}  // namespace qmx
