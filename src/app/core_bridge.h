// The few places where the window reaches into the core beyond the subsystems' own calls:
// the port list, the read-options command, the status panel reset, and the preparations an
// operation needs before it starts on the worker thread. Kept in one file so that the window
// code stays a binding of widgets to the core.
#pragma once

#include <QString>

#include <vector>

#include "link/op_result.h"

namespace qmx {
class IspCore;
}

namespace qmx::gui {

struct PortRow {
    QString path;         // device path, e.g. /dev/ttyUSB0
    QString description;  // what the system says about it (may be empty)
};
// Serial ports found on this machine.
std::vector<PortRow> availablePorts();

// The read-options command ("Test Option / 检查 MCU 固件版本号及选项").
OpResult readChipOptions(IspCore& core);

// The result of an operation that reports only how it ended.
inline OpResult asResult(Outcome outcome) {
    return {outcome, {}};
}

// Empty the chip-status panel (labels 0 and 15 shown, 1-12 hidden).
void resetStatusPanel(IspCore& core);

// Before an operation starts on the worker: the channel learns the chosen port and the stop
// flag it must watch.
void prepareOperation(IspCore& core);

// Close the serial port, ignoring errors (the window is unloading; no operation runs).
void closePortQuietly(IspCore& core);

}  // namespace qmx::gui
