// Option configuration: after programming, the chip's option bytes (clock mode, oscillator
// gain, watchdog, reset, RS-485, data-flash choices) are written with the option command 8D in
// the form of the chip's family, confirmed by re-reading the status, and reported. A chip that
// already holds the wanted options is not written; its program is started at once.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ops/chip_link.h"

namespace qmx {

class IspCore;
struct ModelEntry;

// ---- pure rules ----

// The option command frame of each form: the option byte (and the reload value of the baud
// generator for family 2; the five option bytes and the clock field for families 3 and 4).
wire::Frame family0OptionFrame(std::uint8_t opt);
wire::Frame family2OptionFrame(std::uint8_t opt, std::uint8_t reloadHigh, std::uint8_t reloadLow);
wire::Frame family34OptionFrame(std::span<const std::uint8_t, 5> wanted,
                                std::array<std::uint8_t, 4> clockField);

// Family 2: nothing to write when the chip's option byte has bit 1 clear and equals the wanted
// byte once bits 1 and 5 are forced to 1.
bool family2OptionsUnchanged(std::uint8_t current, std::uint8_t wanted);
// Families 3 and 4: nothing to write when bit 1 of the first current byte is set and all five
// bytes are the wanted ones.
bool family34OptionsUnchanged(std::span<const std::uint8_t, 5> current,
                              std::span<const std::uint8_t, 5> wanted);
// The clock field: FF FF FF FF for a chip on an external clock (bit 1 of the first current
// byte set), else the measured clock in Hz, most significant byte first.
std::array<std::uint8_t, 4> family34ClockField(std::uint8_t currentByte1, double clockHz);

// ---- operations ----

// family0_option_byte: the family-0 option byte from the option page; 255 for other families.
std::uint8_t family0_option_byte(const IspCore& core);
// Beeps three times and reports that the options could not be set.
void report_option_error(IspCore& core);
// The option step (button `comLock`): button state ready, then the form of the chip's family.
// Succeeds when the chip took the options or already held them (the session may go on).
OpResult write_options(IspCore& core, ChipLink& link);
OpResult write_options(IspCore& core);

}  // namespace qmx
