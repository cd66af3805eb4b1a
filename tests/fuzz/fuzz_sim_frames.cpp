// Arbitrary bytes into the simulated chip's receiver and boot loader: no crash, no write outside
// the flash, answers always well formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "chip.h"
#include "frames.h"
#include "models.h"

using namespace qmxsim;

namespace {

void checkAnswer(const Bytes& a) {
    std::size_t i = 0;
    if (a.size() >= 2 && a[0] == 0x46 && a[1] == 0xB9) i = 2;
    if (a.size() < i + 5 || a[i] != 0x68) std::abort();
    const std::size_t L = static_cast<std::size_t>(a[i + 1]) * 256 + a[i + 2];
    if (L != a.size() - i || a.back() != 0x16) std::abort();
    if (sum8(a.data() + i, L - 2) != a[a.size() - 2]) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte picks the model, so every family's option and erase rules are reached.
    const auto& models = allModels();
    ChipConfig c;
    c.model = models[data[0] % models.size()];
    c.firmware = typicalFirmware(c.model.family);
    c.options = erasedOptions(c.model.family);
    c.optionBusy = data[0] & 1;
    Chip chip(c);
    const std::size_t flashSize = chip.flash().size();
    chip.powerOn();
    chip.receive(0x7F, 1200);

    CommandReceiver plain;
    for (std::size_t i = 1; i < size; ++i) {
        plain.feed(data[i]);
        for (const auto& a : chip.receive(data[i], 1200)) {
            if (a.kind == ChipAction::Kind::answer) checkAnswer(a.bytes);
        }
        if (chip.power() == Power::running) {
            chip.powerOff();
            chip.powerOn();
            chip.receive(0x7F, 1200);
        }
    }
    if (chip.flash().size() != flashSize) std::abort();
    return 0;
}
