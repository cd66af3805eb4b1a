#include "ops/session_control.h"

#include "link/serial_channel.h"
#include "link/wire_format.h"

namespace qmx {

void stop_download(IspCore& core, ChipLink& link) {
    link.stopHints();
    set_button_state(core, kStateIdle);
    core.session.stop_requested = true;
    core.session.connected = false;
    link.sendShortCommand(wire::Command::Stop);
    link.discardQueues();
    link.closePort();
}

void stop_download(IspCore& core) {
    auto link = makeChannelLink(core);
    stop_download(core, *link);
}

void run_user_program(IspCore& core, ChipLink& link) {
    link.sendShortCommand(wire::Command::Stop);
    link.waitAnswer(100);
    // The run command (family, parameter 0, summed) in one write; no answer is awaited.
    const auto fam = static_cast<std::uint8_t>(core.model ? core.model->family : 0);
    link.writeRaw(wire::boardCommand(wire::code(wire::Command::Run), fam, 0x00, false).bytes);
    link.closePort();
}

void run_user_program(IspCore& core) {
    auto link = makeChannelLink(core);
    run_user_program(core, *link);
}

}  // namespace qmx
