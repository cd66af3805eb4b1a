// Download options: the choices of the option page of each chip family (as plain values), the
// page layout the window binds to, and the option bytes (`OptionSet`) built from the choices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/model_catalogue.h"

namespace qmx {

// The user's choices, each the index of the chosen button or list row. The three rows of the
// "Step 4" frame (row0..row2) mean different things per family (see familyOptions); the page
// build resets them to the family's defaults. The other groups keep their choices across
// model changes.
struct OptionChoices {
    // Rows 0..2 of the "Step 4" frame (`Option0`..`Option2`): choice 0 or 1.
    int row0 = 1;
    int row1 = 1;
    int row2 = 1;

    // Family 2 groups of the "选项" tab.
    int eraseData = 1;       // `opt_erase_data`: 0 "YES", 1 "NO"
    int downloadWdt = 0;     // `opt_ISP_DEMO_WDT`: 0 "无", 1 "用1个I/O口喂狗"
    int downloadWdtPin = 0;  // row of `comb_WDT` (watchdogFeedPinList)
    int auxRam = 1;          // 0 `optAUX_RAM_NO` "禁止访问", 1 `optAUX_RAM_YES`
    int resetWdt = 0;  // 0 `optRST_CLOSE_WDT_YES` "复位关看门狗", 1 `optRST_CLOSE_WDT_NO`

    // Family 3 and 4 groups of the "选项" tab.
    int rs485 = 0;        // `opt_485_pin`: 0 "无485", 1 "用1个I/O口控制"
    int rs485Pin = 0;     // row of `comb_485_pin` (ioPinList)
    int rs485Logic = 0;   // `opt_485_logic`: 0 "高电平发送,低接收", 1 "高接收,低发送"
    int externalWdt = 0;  // `opt_External_WDT`: 0 "无", 1 "用1个I/O口喂狗"
    int externalWdtPin = 1;   // row of `comb_ISP_DEMO_WDT` (ioPinList)
    int wdtLock = 1;          // row 8 (`Option8`): 0 "YES", 1 "NO"
    int wdtPowerUpStart = 1;  // row 9 (`Option9`)
    int wdtIdleStop = 1;      // row 10 (`Option10`)
    int wdtPrescaler = 7;     // row of `comWDT_Prescalar` ("2" … "256")

    friend bool operator==(const OptionChoices&, const OptionChoices&) = default;
};

// Pins offered for the RS-485 direction line and the external watchdog (15 pins: P1.0 to
// P1.7, P3.0 to P3.5, P3.7).
const std::vector<std::string_view>& ioPinList();
// Pins offered for feeding an external watchdog during download (36 pins: P0.0 to P4.3).
const std::vector<std::string_view>& watchdogFeedPinList();
// Rows of the watchdog prescaler list: "2", "4", … "256".
const std::vector<std::string_view>& prescalerList();

// Bit address of a pin text such as "P3.7": 90h + n when the second character is "1",
// otherwise B0h + n; n is the value of the last character, 0 when that is not a digit.
std::uint8_t pinAddress(std::string_view pinText);

// The message shown when one I/O line is chosen for both RS-485 and the external watchdog.
inline constexpr std::string_view kPinConflictMessage =
    "请不要用同一个 I/O 口线控制 485 和 外部看门狗。";

// Check run when either pin list changes: the message when both lists show the same pin,
// whether or not the two functions are switched on.
std::optional<std::string_view> pinListConflict(const OptionChoices& choices);

// One option of a family's page, for listing and for setting by name.
struct OptionDescriptor {
    std::string_view name;                  // command-line name, e.g. "speed"
    std::string_view label;                 // the page's label text
    std::string_view control;               // the window's control, e.g. "Option0"
    std::vector<std::string_view> choices;  // texts as the page shows them
    std::vector<std::string_view> values;   // short names of the choices, same order
    int defaultIndex = 0;                   // choice the page selects by default
    int OptionChoices::*field = nullptr;    // where the choice is kept
};

// The options of a family's page, in page order (rows of "Step 4" first, then the groups of
// the "选项" tab). Family 1 has none. Out-of-range families have none.
const std::vector<OptionDescriptor>& familyOptions(int family);

// Choice index for a value given as its short name (ASCII, case-insensitive) or its exact
// text; nullopt when it is neither.
std::optional<int> findChoice(const OptionDescriptor& option, std::string_view value);

// Set one option of the family's page by name and value (short name or exact text).
// Returns an empty string on success, otherwise the error text naming the valid names or
// values; the choices are unchanged then.
std::string setOption(OptionChoices& choices, int family, std::string_view name,
                      std::string_view value);
// The same for one "NAME=VALUE" text.
std::string setOption(OptionChoices& choices, int family, std::string_view assignment);

// --- Page layout ------------------------------------------------------------------------

// One row of the "Step 4" frame.
struct OptionRow {
    std::string_view label;
    std::string_view choice0;  // empty for the notice row of family 1
    std::string_view choice1;
    bool notice = false;  // a wide notice without choices
};

// What the page build shows for a family.
struct OptionPage {
    std::string_view frameCaption;      // caption of `Frame2`
    std::vector<OptionRow> rows;        // rows 0.. of `Frame2` that are shown
    std::string_view noteBelowRows;     // `LabOptionC(0)`; empty = hidden
    std::string_view label7;            // `Label7`; empty = hidden
    bool showAuxRamGroup = false;       // `Frame14`
    bool showEraseWdtGroup = false;     // `Frame15`
    bool showRs485Group = false;        // `Frame23` and the two RS-485 pictures
    bool showExternalWdtGroup = false;  // `Frame20`
    bool showWatchdogRows = false;      // rows 8 to 10 with the prescaler list and `Label20`
    bool beepFrameHigh = true;          // `Frame16` placed high (families 0, 1) or low with border
};

// Texts of the watchdog rows 8, 9 and 10.
inline constexpr std::string_view kWatchdogRowLabels[3] = {
    "启动内部看门狗后禁止改看门狗控制寄存器",
    "下次上电时自动用有关参数启动内部看门狗",
    "下次冷启动后Idle(空闲)状态时停止内部看门狗计数",
};

OptionPage optionPage(int family);

// The choices of a freshly built page of the family with the window's default choices in
// every group (what `qmx-isp options` lists as defaults).
OptionChoices defaultOptionChoices(int family);

// The page build: reset rows 0..2 to the family's defaults and the watchdog rows 8..10 to
// "NO". The tab groups (erase, AUX-RAM, RS-485, watchdogs, prescaler) keep their choices.
void resetOptionPage(OptionChoices& choices, int family);

// Enabled state of the dependent controls, following the current choices.
struct OptionEnables {
    bool prescaler = true;         // `comWDT_Prescalar`, `Label20`: row 9 "YES" only
    bool idleRow = true;           // row 10 with its label: row 9 "YES" only
    bool rs485PinAndLogic = true;  // `comb_485_pin`, "控制逻辑:", `opt_485_logic`
    bool externalWdtPin = true;    // `comb_ISP_DEMO_WDT`
    bool downloadWdtPin = true;    // `comb_WDT`
};
OptionEnables optionEnables(const OptionChoices& choices);

// --- Option bytes -----------------------------------------------------------------------

// The option bytes for the chip's family, in the order the option command sends them:
// family 0 one byte (`speedOption`), family 1 none, family 2 one byte (`optionByte`),
// families 3 and 4 five bytes (`clockSource`, `watchdogControl`, `startupControl`,
// `rs485PinAddress`, `watchdogPinAddress`).
struct OptionSet {
    int family = 0;
    std::vector<std::uint8_t> bytes;
    bool sixClock = false;    // "6T/双倍速" chosen (families 0 and 2)
    bool halfGain = false;    // "1/2 gain" chosen (family 2)
    std::string pinConflict;  // families 3, 4: the conflict message to show; empty if none

    std::uint8_t speedOption() const { return byteAt(0, 0); }
    std::uint8_t optionByte() const { return byteAt(2, 0); }
    std::uint8_t clockSource() const { return byteAt(3, 0); }
    std::uint8_t watchdogControl() const { return byteAt(3, 1); }
    std::uint8_t startupControl() const { return byteAt(3, 2); }
    std::uint8_t rs485PinAddress() const { return byteAt(3, 3); }
    std::uint8_t watchdogPinAddress() const { return byteAt(3, 4); }

  private:
    // Byte i of a family's set (families 3 and 4 share one layout); FFh when absent.
    std::uint8_t byteAt(int forFamily, std::size_t i) const {
        const int f = family == 4 ? 3 : family;
        return f == forFamily && i < bytes.size() ? bytes[i] : 0xFF;
    }
};

// Build the option bytes of the model's family from the choices. Families 3 and 4 fill
// `pinConflict` when both pin addresses are the same P1/P3 pin (the face shows it; the bytes
// are still used).
OptionSet buildOptionSet(const OptionChoices& choices, const ModelEntry& model);

}  // namespace qmx
