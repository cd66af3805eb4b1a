#pragma once
// (first draft; the option-page work replaces this)
#include <cstdint>
#include <vector>

namespace qmx {

// The choices of the option page, as plain values.
struct OptionChoices {};

// The option bytes for the chip's family.
struct OptionSet {
    std::vector<std::uint8_t> bytes;
};

}  // namespace qmx
