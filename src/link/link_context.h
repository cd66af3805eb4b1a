// What every step of the link works with: the channel it talks over, the connection facts it
// fills, the face it reports to, and the caller's few choices that shape a connection. The
// link layer takes nothing else from above: no core object, no button states, no settings.
#pragma once

#include <string>
#include <string_view>

#include "catalogue/model_catalogue.h"
#include "core/ui.h"
#include "link/connection_facts.h"
#include "link/power_switch.h"
#include "link/serial_channel.h"

namespace qmx {

struct LinkChoices {
    const ModelEntry* model = nullptr;  // the selected model; none counts as family 0
    std::string portPath;               // device path of the chosen port
    long maxBaud = 115200;              // the highest rate the user allows
    bool watchdogPinCommand = false;    // tell the chip its external watchdog's feed pin first
    std::string watchdogPin;            // that pin as text, "P1.0"
    PowerCycle powerCycle;              // switch the target off and on before the sync
    double chipWaitSeconds = 0;         // give up when no chip answers the sync; 0: wait for ever
};

struct LinkContext {
    SerialChannel& channel;
    ConnectionFacts& facts;
    Ui& ui;
    LinkChoices choices;

    int family() const { return choices.model ? choices.model->family : 0; }
    // One line for the message pane.
    void message(std::string_view line) { ui.appendMessage(std::string(line)); }
    // A pane line that reports a failure.
    void error(std::string_view line) { ui.appendError(std::string(line)); }
    // n system beeps: one for a Stop, three for every failure.
    void beep(int n) {
        if (n > 0) ui.beep(n);
    }
};

}  // namespace qmx
