// Entering the loader from a running application. Two roads, both driven by bytes the user's
// own application understands:
//  - the user code: a byte string sent at its own port settings makes the application jump
//    into the chip's resident boot loader; an ordinary download follows (`comSendUserCode`);
//  - the ISP demo: programming through a loader that lives inside the user's application,
//    with 5A A5 frames (B0 connect, B5 model code, B2 erase, B3/B4 blocks, B1 finish),
//    optionally after sending the user code first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/session_state.h"
#include "ops/chip_link.h"

namespace qmx {

class IspCore;
struct ModelEntry;

// ---- pure rules ----

// The user code as bytes: pairs of hexadecimal digits, blanks between pairs optional
// ("1234 AB" gives 12 34 AB); separators and line ends between pairs are skipped. A token
// that is neither hexadecimal nor a separator (such as "GZ" or ":;") refuses the whole code:
// nothing is returned and `badToken` names it.
std::optional<std::vector<std::uint8_t>> parse_user_code(const std::string& text,
                                                         std::string* badToken = nullptr);

// The settings text of four port lists: baud trimmed, first letter of the parity, data bits,
// stop bits ("38400", "Even", "8", "1" gives "38400,E,8,1").
std::string portSettingsText(const std::string& baud, const std::string& parity,
                             const std::string& dataBits, const std::string& stopBits);

// Wait after each connect frame (B0) at the demo baud rate: 200 ms below 2400, 100 ms below
// 4800, else 50 ms.
int demoConnectWaitMs(long baud);

// One row of the in-application loader's model codes.
struct DemoModelCode {
    std::uint16_t code;
    const char* model;
    const char* idText;  // identification bytes as four upper-case hex digits
};
const std::vector<DemoModelCode>& demoModelCodes();
// The row of a model code, or null (no model, empty identification).
const DemoModelCode* demoModelForCode(std::uint16_t code);
// Whether some model code identifies a chip that fits this model: the models without a code
// can never be programmed through the ISP demo.
bool demoProgrammable(const ModelEntry& model);

// A block answer (5A A5 …) accepts when it is long enough to carry bytes 5 and 6 and they hold
// the 16-bit sum of the data bytes.
bool demoBlockAnswerAccepts(std::span<const std::uint8_t> answer, std::uint16_t dataSum);
// The model code of a B5 answer (bytes 6 and 7) and the option byte (byte 8); nothing when
// the answer is too short to carry them.
struct DemoModelAnswer {
    std::uint16_t code = 0;
    std::uint8_t option = 0;
};
std::optional<DemoModelAnswer> demoModelAnswer(std::span<const std::uint8_t> answer);
// Block-answer time-out through the in-application loader: the chip's clock is unknown there,
// so the longest clock rule applies, then the baud rule.
int demoAnswerTimeoutMs(long baud);

// ---- choices (the two pages' controls as plain values) ----

struct UserEntryChoices {
    std::string userCode;                              // `txtUserCode`
    std::string userCodeSettings;                      // from `cobUserCode*`, e.g. "38400,N,8,1"
    bool demoSendUserCode = false;                     // `che_Demo_DownLoad`
    std::string demoUserCode;                          // `txt_DEMO_UserCode`
    std::string demoUserCodeSettings = "38400,E,8,1";  // from `cob_DEMO_UserCode_*`
    std::string demoSettings = "38400,E,8,1";          // from `cob_DEMO_DownLoad_*`
};

// ---- operations ----

// Opens the port at `settingsText` and sends the user code; false (reported) when the code is
// refused, the settings are refused or the port cannot be opened. The code has left the line
// when this returns.
bool send_user_code(IspCore& core, const std::string& codeText, const std::string& settingsText);
// The send-user-code button: the user code, then a single download.
Outcome run_user_code_download(IspCore& core, const UserEntryChoices& choices);
// The ISP demo, single (series false) or chip after chip.
Outcome run_isp_demo(IspCore& core, const UserEntryChoices& choices, bool series);
// The steps of one demo cycle; each reports its own failure.
bool demo_connect(IspCore& core, const UserEntryChoices& choices);
bool demo_read_model(IspCore& core);
bool demo_erase(IspCore& core);
// One block through the in-application loader (the demo framing of send_block).
bool send_demo_block(IspCore& core, long address, int count, bool retry, bool fast);
// The demo Stop button: both stop flags. Safe from another thread; the running demo puts the
// receiver back into boot-loader mode when it ends.
void stop_isp_demo(IspCore& core);

}  // namespace qmx
