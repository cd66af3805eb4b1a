// The fixed table of chip models this programmer supports, in the order of the model list
// `combMcuModel`, and the decisions a model selection makes for the window (which tabs are
// offered, whether the monitor download is allowed, which option page is shown).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmx {

// One model of the catalogue. Addresses are inclusive. A model without data flash has either
// dataStart = programEnd + 1 > dataEnd (families 2 to 4) or both data ends equal to
// programEnd (families 0 and 1).
struct ModelEntry {
    std::string name;    // list text, e.g. "M-070"; exact, case-sensitive key
    int family = 0;      // 0..4: option page, option encoding, handshake rules
    std::string idCode;  // "FF" (family 0), two decimal digits (1), four upper-case hex (2..4)
    long programStart = 0;
    long programEnd = 0;
    long dataStart = 0;
    long dataEnd = 0;
    long bootStart = 0;
    long bootEnd = 0;
    bool noDataMemory = false;  // the data flash of this model is empty
    bool monitorCapable = false;
    std::string monitorImage;  // monitor image file name; empty unless monitorCapable
    int blockSize = 128;       // bytes per programming block: 128 (family 0) or 512
    int listIndex = -1;        // row of the model list

    // --- Quirks of single models ---
    long bootAreaSize = 1024;      // loader size the loaders keep free (2048 for the big loaders)
    bool dataAt32K = false;        // 0x5000-0x7FFF is a hole; the data memory starts at 0x8000
    bool bootAreaReported = true;  // the chip's feature flags tell its loader size
    // Whether a chip the handshake reported under this name limits the image size by its
    // firmware version (as every family-2 selection does).
    bool reportedWithSizeLimit(std::string_view identifiedName);

    // Pages the erase command clears: a fixed count, or (flash span - loader) / 512 when
    // eraseSpan is set; 255 (the whole chip) when neither is.
    int erasePages = 0;
    long eraseSpan = 0;
    // The identification bytes of the chip's status answer: the first byte alone
    // (idSecond < 0), or both; idFirst < 0 when the handshake never names this model.
    int idFirst = -1;
    int idSecond = -1;
};

// Number of rows of the model list, and the row selected on a first run (M-070).
inline constexpr int kModelCount = 85;
inline constexpr int kDefaultModelIndex = 2;

// All models in list order (85 rows).
const std::vector<ModelEntry>& modelCatalogue();

// The model of that exact (case-sensitive) name, or nullptr.
const ModelEntry* findModel(std::string_view name);

// The model at a list row, or nullptr when the row is outside the list.
const ModelEntry* modelAt(int listIndex);

// The list row of a model name, or -1.
int modelListIndex(std::string_view name);

// The first-run model (row kDefaultModelIndex).
const ModelEntry& defaultModel();

// The firmware letter a chip of this family reports ("A" for 0 … "E" for 4); empty when the
// family is out of range.
std::string_view familyFirmwareLetter(int family);

// Family 0 models whose speed option byte starts from 20h instead of 40h: the eight family-0
// models without a monitor image.
bool usesLowSpeedOptionBase(const ModelEntry& model);

// Names the handshake reports for a detected chip that are not rows of the list, with the
// family and identification text of that chip.
struct ReportedModel {
    std::string_view name;
    int family;
    std::string_view idCode;
    int idFirst = -1;  // identification bytes, as in ModelEntry
    int idSecond = -1;
    bool firmwareSizeLimit = false;  // the loader limits the image size by its version
};
const std::vector<ReportedModel>& reportedModelNames();

// The model name the handshake reports for a chip's identification bytes (a list row or a
// reported name); empty when no model carries these bytes.
std::string modelForIdBytes(std::uint8_t id1, std::uint8_t id2);

// Whether a chip the handshake reported under this name limits the image size by its
// firmware version (as every family-2 selection does).
bool reportedWithSizeLimit(std::string_view identifiedName);

// Pages the erase command clears on this model with a loader of `bootArea` bytes.
int erasePagesFor(const ModelEntry& model, int bootArea);

// Whether a chip identified by the handshake as `identifiedName` fits the selected model:
// the same name, an identified M-081 for the selections M-080 and M-083, or a reported name
// whose identification text equals the selection's.
bool identifiedModelFits(std::string_view identifiedName, const ModelEntry& selected);

// The catalogue models a chip identified as `identifiedName` fits, in list order.
std::vector<std::string> catalogueModelsFor(std::string_view identifiedName);

// The identified name as the user reads it: with the catalogue models it fits when those are
// not just itself ("M-058 (catalogue: M-070, M-087)").
std::string reportedModelText(std::string_view identifiedName);

// --- Selection --------------------------------------------------------------------------

// Keys and captions of the tabs a selection offers or withdraws. A withdrawn tab carries
// the caption kTabAbsent and shows no page.
inline constexpr std::string_view kTabAbsent = "_no_";
inline constexpr std::string_view kTabKeyIspDemo = "ISP DEMO";  // TabStrip1, "ISP DEMO"
inline constexpr std::string_view kTabKeyOffline = "TJXZ";      // TabStrip1, "脱机下载"
inline constexpr std::string_view kTabKeyMonitor = "softICE";   // TabStrip1, "仿真芯片"
inline constexpr std::string_view kTabKeyDebug1 = "Debug1";     // TabStrip2, "SFR/idata"
inline constexpr std::string_view kTabKeyDebug2 = "Debug2";     // TabStrip2, "xdata/IAP EEPROM"

// Everything a model selection decides, as data the face binds to. After taking it, the
// caller (the window or the command line) must, in this order:
//  1. make `entry` the current model (IspCore::model) and store `listIndex` for the list;
//  2. apply the tab captions (tabCaption for each key); when `rebuildDebugRegisters` is set,
//     rebuild the register table of the debug view; when a TabStrip1 tab now shown is
//     captioned "_no_", run the TabStrip1 page selection again (it keeps the shown page);
//  3. reset the chip-status report to its empty state;
//  4. schedule a settings save (the model row is persisted as "DeviceProducts");
//  5. unlock the setup controls, enabling the monitor download button only when
//     `monitorButtonEnabled`;
//  6. build the option page of `optionPageFamily` (resetOptionPage in option_set.h).
struct ModelSelection {
    const ModelEntry* entry = nullptr;
    int listIndex = -1;
    bool monitorButtonEnabled = false;  // `comDownSoft_ICE`
    bool offerIspDemo = false;          // user-command demo tab: family 2 only
    bool offerOffline = false;          // offline-board tab: families 2 to 4
    bool offerDebugViews = false;       // both debug-data tabs: families 2 to 4, monitor models
    bool offerMonitor = false;          // monitor tab: monitor models only
    bool rebuildDebugRegisters = false;
    int optionPageFamily = 0;

    // The caption a tab gets after this selection, by tab key (the kTabKey* constants);
    // kTabAbsent for a withdrawn tab; empty for a key the selection does not touch.
    std::string_view tabCaption(std::string_view key) const;
};

// Select the model at a list row; nullopt when the row is outside the list (the caller keeps
// its current selection).
std::optional<ModelSelection> selectModel(int listIndex);
// Select the model of that exact name; nullopt when no list row has that name.
std::optional<ModelSelection> selectModel(std::string_view name);
// The decisions for a given catalogue entry.
ModelSelection selectionFor(const ModelEntry& entry);

}  // namespace qmx
