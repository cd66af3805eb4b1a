// Hands-free boot entry: the target's power is switched off and on again before the
// synchronisation starts, so the boot loader listens without anybody touching the board. The
// switch is a modem line of the serial adapter (DTR or RTS driving a transistor or relay,
// either way round) or a user command for relay boards and switchable USB hubs, which is run
// with "off" or "on" as its last argument.
#pragma once

#include <optional>
#include <string>

namespace qmx {

class SerialChannel;

enum class PowerSwitchKind { None, Dtr, Rts, DtrInverted, RtsInverted, Command };

struct PowerCycle {
    PowerSwitchKind kind = PowerSwitchKind::None;
    std::string command;  // the command of `cmd:COMMAND`
    int offMs = 300;      // how long the power stays off

    bool enabled() const { return kind != PowerSwitchKind::None; }
    // The text it was parsed from ("dtr", "cmd:relay.sh" ...); empty when disabled.
    std::string text() const;
};

// Parses "dtr", "rts", "dtr-inverted", "rts-inverted" or "cmd:COMMAND"; nullopt with `error`
// set for anything else.
std::optional<PowerCycle> parsePowerCycle(const std::string& text, std::string& error);

// The level of the modem line that means "power on" for this switch (asserted for dtr/rts,
// released for the inverted ones).
bool powerOnLevel(PowerSwitchKind kind);

// Switches the power off or on. False with `error` set when the switch did not act: the port
// has no such modem line (a pseudo-terminal), or the command failed or could not be run.
// A command runs as `/bin/sh -c "COMMAND off"` and gets 10 s; the stop flag of the channel
// cuts the wait short.
bool switchPower(SerialChannel& channel, const PowerCycle& cycle, bool on, std::string& error);

}  // namespace qmx
