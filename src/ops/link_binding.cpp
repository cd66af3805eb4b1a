#include "ops/link_binding.h"

#include "catalogue/option_set.h"

namespace qmx {

void bind_channel(IspCore& core) {
    SerialChannel& ch = core.channel;
    ch.setUi(&core.ui());
    ch.setStopFlag(&core.session.stop_requested);
    // The channel speaks only when the port is lost underneath it: an error line.
    ch.setMessageSink([&core](std::string_view line) { core.error(line); });
    if (!core.portPath.empty()) ch.set_port_path(core.portPath);
    static thread_local bool calibrated = false;
    if (!calibrated) {
        ch.calibrate_loops();
        calibrated = true;
    }
}

LinkChoices linkChoices(const IspCore& core) {
    LinkChoices c;
    c.model = core.model;
    c.portPath = core.portPath;
    c.maxBaud = core.maxBaud;
    c.powerCycle = core.powerCycle;
    c.chipWaitSeconds = core.chipWaitSeconds;
    c.watchdogPinCommand = core.options.downloadWdt == 1;
    const auto& pins = watchdogFeedPinList();
    const int pin = core.options.downloadWdtPin;
    if (pin >= 0 && static_cast<std::size_t>(pin) < pins.size())
        c.watchdogPin = std::string(pins[static_cast<std::size_t>(pin)]);
    return c;
}

}  // namespace qmx
