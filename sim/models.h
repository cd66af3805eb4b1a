// The chips the simulator can play: name, family, identification bytes and flash layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qmxsim {

struct ChipModel {
    std::string name;
    int family = 0;           // 0..4
    std::uint8_t id1 = 0xFF;  // identification byte 1 (family code)
    std::uint8_t id2 = 0x00;  // identification byte 2 (model within the family)
    std::uint32_t programEnd = 0;
    std::uint32_t dataStart = 0;
    std::uint32_t dataEnd = 0;

    // Highest address a host may write: the end of the data flash or of the program flash.
    std::uint32_t lastAddress() const { return dataEnd > programEnd ? dataEnd : programEnd; }
    // True when the model has a data-flash area of its own beside the program flash.
    bool hasDataFlash() const { return family >= 2 && dataStart <= dataEnd; }
    // True for addresses where the chip has flash: the program area and the data area. Between
    // them (family 3 keeps its data flash well above a small program area) there is nothing.
    bool hasFlashAt(std::uint64_t a) const {
        return a <= programEnd || (hasDataFlash() && a >= dataStart && a <= dataEnd);
    }
};

// Every model the simulator knows, in catalogue order.
const std::vector<ChipModel>& allModels();
// The model with this exact name, or nullptr.
const ChipModel* findModel(const std::string& name);

}  // namespace qmxsim
