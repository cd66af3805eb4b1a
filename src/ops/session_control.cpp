#include "ops/session_control.h"

#include "link/serial_channel.h"

namespace qmx {

void stop_download(IspCore& core, ChipLink& link) {
    link.stopHints();
    set_button_state(core, kStateIdle);
    core.session.stop_requested = true;
    core.session.connected = false;
    link.sendShortCommand(0x82);
    link.discardQueues();
    link.closePort();
}

void stop_download(IspCore& core) {
    auto link = makeChannelLink(core);
    stop_download(core, *link);
}

void run_user_program(IspCore& core, ChipLink& link) {
    link.sendShortCommand(0x82);
    link.waitAnswer(100);
    // The run frame 46 B9 6A 00 08 52 F 00 S 16 in one write; no answer is awaited.
    const auto fam = static_cast<std::uint8_t>(core.model ? core.model->family : 0);
    link.writeRaw(frames::boardCommand(0x52, fam, 0x00, false));
    link.closePort();
}

void run_user_program(IspCore& core) {
    auto link = makeChannelLink(core);
    run_user_program(core, *link);
}

}  // namespace qmx
