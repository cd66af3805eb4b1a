// The `app` personality: the chip runs a user application instead of listening for sync.
// The application watches the line for its user code. Without an in-application loader the
// code makes it jump into the resident boot loader, which then listens for sync as after a
// power-on. With an in-application loader it answers 5A A5 frames itself (connect, model code,
// erase, blocks, finish) and writes the blocks into the flash.
//
// Frames, both ways: 5A A5 LL LL cmd ... sumH sumL 16, LL the whole frame, the sum 16 bits
// over every byte before it.
#pragma once

#include <cstdint>
#include <vector>

#include "chip.h"
#include "frames.h"

namespace qmxsim {

struct AppConfig {
    Bytes userCode;            // empty: no code (the in-application loader listens at once)
    bool inAppLoader = false;  // the application carries its own loader
};

// The model code an in-application loader reports for a model; 0 when it has none.
std::uint16_t appModelCode(const std::string& modelName);
// A 5A A5 frame around `body` (command and fields).
Bytes buildUserFrame(const Bytes& body);

class App {
  public:
    App(AppConfig config, Chip& chip) : config_(std::move(config)), chip_(chip) {
        loaderOpen_ = config_.inAppLoader && config_.userCode.empty();
    }

    // One byte the running application took in, sent at hostRate.
    std::vector<ChipAction> receive(std::uint8_t b, double hostRate);
    bool loaderOpen() const { return loaderOpen_; }

  private:
    std::vector<ChipAction> userCodeSeen();
    std::vector<ChipAction> frameByte(std::uint8_t b, double hostRate);
    std::vector<ChipAction> handle(const Bytes& frame, double hostRate);
    ChipAction answer(const Bytes& body, double hostRate, const std::string& note) const;

    AppConfig config_;
    Chip& chip_;
    Bytes recent_;  // the last bytes seen, as long as the user code
    bool loaderOpen_ = false;
    bool programmed_ = false;  // erased or written since the loader opened
    Bytes frame_;
};

}  // namespace qmxsim
