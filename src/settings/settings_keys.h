// The keys of the settings store: their names, defaults, the order in which start-up reads
// them and a save writes them, and the rules that turn stored text into the window's
// choices. The window and the command line bind their controls to `StoredSettings` and
// never spell a key themselves.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/option_set.h"
#include "settings/settings_store.h"

namespace qmx {

inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kAutoIncreaseSection = "Auto_Increase";

// Key names of section "Settings".
namespace setting {
inline constexpr std::string_view kMainLeft = "MainLeft";
inline constexpr std::string_view kMainTop = "MainTop";
inline constexpr std::string_view kMainWidth = "MainWidth";
inline constexpr std::string_view kMainHeight = "MainHeight";
inline constexpr std::string_view kDeviceProducts = "DeviceProducts";
inline constexpr std::string_view kFilePath = "FilePath";
inline constexpr std::string_view kFillByte = "fillbyte";
inline constexpr std::string_view kComPort = "COM_port";
inline constexpr std::string_view kBeepYesNo = "BeepYesNo";
inline constexpr std::string_view kDelayReDownload = "Dalay_ReDownLoad";
inline constexpr std::string_view kWriteOkCount = "Write_OK_Count";
inline constexpr std::string_view kPinFor485 = "pin_for_485";
inline constexpr std::string_view kPinAddressFor485 = "pin_address_for_485";
inline constexpr std::string_view kLogicOfControl485 = "logic_of_control_485";
inline constexpr std::string_view kPinExternalWdt = "pin_External_WDT";
inline constexpr std::string_view kPinAddressExternalWdt = "pin_address_External_WDT";
inline constexpr std::string_view kWdtPrescaler = "WDT_Prescalar";
inline constexpr std::string_view kSafetyLock = "安全锁";
inline constexpr std::string_view kDebugAutoOpenPort = "DebugAutoOpenPort";
// Production: hands-free power cycling of the target and the production log.
inline constexpr std::string_view kPowerCycle = "PowerCycle";
inline constexpr std::string_view kPowerCycleCommand = "PowerCycleCommand";
inline constexpr std::string_view kPowerOffMs = "PowerOffMs";
inline constexpr std::string_view kProductionLog = "ProductionLog";
inline constexpr std::string_view kProductionLogOn = "ProductionLogOn";
// The language of the system's texts: "both", "en" or "zh". Absent, the environment decides.
inline constexpr std::string_view kLanguage = "Language";
// Port settings of the user-command loader, the ISP demo's loader and user command, and
// the debug port, each in list order: baud, parity, data bits, stop bits (the debug port:
// port, baud, data bits, parity, stop bits).
inline constexpr std::array<std::string_view, 4> kUserCodePort = {
    "UserCodeBaud", "UserCodeParity", "UserCodeDataBits", "UserCodeStopBits"};
inline constexpr std::array<std::string_view, 4> kDemoDownloadPort = {
    "ISP_DEMO_DownLoad_Baud", "ISP_DEMO_DownLoad_Parity", "ISP_DEMO_DownLoad_DataBits",
    "ISP_DEMO_DownLoad_StopBits"};
inline constexpr std::array<std::string_view, 4> kDemoUserCodePort = {
    "ISP_DEMO_UserCodeBaud", "ISP_DEMO_UserCodeParity", "ISP_DEMO_UserCodeDataBits",
    "ISP_DEMO_UserCodeStopBits"};
inline constexpr std::array<std::string_view, 5> kDebugPort = {
    "DebugCOM", "DebugBaud", "DebugDataBits", "DebugParity", "DebugStopBits"};
}  // namespace setting

// Key names of section "Auto_Increase" (the serial-number auto-increment).
namespace auto_increase_key {
inline constexpr std::string_view kAddress = "address";
inline constexpr std::string_view kLength = "Length";
inline constexpr std::string_view kNextValue = "next_value";
inline constexpr std::string_view kIncrease = "Increase";
inline constexpr std::string_view kNumeralSystem = "numeral_system";
}  // namespace auto_increase_key

// The stored power-cycle modes, as the command line spells them ("cmd" runs the command).
inline constexpr std::array<std::string_view, 6> kPowerCycleModes = {
    "none", "dtr", "rts", "dtr-inverted", "rts-inverted", "cmd"};
inline constexpr int kDefaultPowerOffMs = 300;
inline constexpr int kMaxPowerOffMs = 60000;

// One key of section "Settings".
struct SettingKey {
    std::string_view name;
    std::string_view defaultText;  // value when absent; empty when the key is never read
    std::string_view control;      // the control it is read into or written from
    int listSize = 0;              // rows of that list when fixed here; 0 = not a fixed list
    bool readAtStartup = false;
    bool writtenEverySave = false;
};

// Every key of section "Settings", in table order.
const std::vector<SettingKey>& settingsKeys();
// The description of one key, or nullptr.
const SettingKey* findSettingKey(std::string_view name);

// Start-up reads, in order: the window geometry (step 1), the main keys (step 3, beginning
// with "DeviceProducts", which selects the model), then the port keys (step 9).
const std::vector<std::string_view>& geometryLoadOrder();
const std::vector<std::string_view>& mainLoadOrder();
const std::vector<std::string_view>& portLoadOrder();
// A save writes these, in order ("every save" keys). Between "COM_port" and the first port
// key the window refreshes the memory-range display of the current model.
const std::vector<std::string_view>& saveOrder();

// The persisted choices as typed values, with the defaults of a first run.
struct StoredSettings {
    int mainLeft = 0, mainTop = 0, mainWidth = 12000, mainHeight = 9045;  // twips
    int deviceProducts = kDefaultModelIndex;  // row of the model list (M-070)
    int safetyLock = 2;                       // "安全锁": read, then reset by the page build
    std::string filePath;                     // empty: the program's own folder
    int fillByteChoice = 1;                   // `optFillbyte`: 0 "FF", 1 "00"
    int comPort = 0;                          // row of `combCommPort` (the older form)
    std::string comPortPath;                  // the port's device path; wins over the row
    bool beep = true;                         // `optBeepYes`
    int redownloadDelay = 4;                  // row of `comDalay_ReDownLoad` ("5")
    std::string writeOkCount = "0";           // text of `txtWrite_OK_Count`
    bool rs485Off = true;                     // `opt_485_pin` choice 0 ("无485")
    int rs485Pin = 0;                         // row of `comb_485_pin` ("P1.0")
    bool rs485LogicHighSend = true;           // `opt_485_logic` choice 0
    bool externalWdtOff = true;               // `opt_External_WDT` choice 0 ("无")
    int externalWdtPin = 1;                   // row of `comb_ISP_DEMO_WDT` ("P1.1")
    int wdtPrescaler = 7;                     // row of `comWDT_Prescalar`; written, not read
    std::array<int, 4> userCodePort = {2, 2, 0, 0};      // 38400, "None", "8", "1"
    std::array<int, 4> demoDownloadPort = {2, 0, 0, 0};  // 38400, "Even", "8", "1"
    std::array<int, 4> demoUserCodePort = {2, 0, 0, 0};  // 38400, "Even", "8", "1"
    std::array<int, 5> debugPort = {0, 2, 0, 2, 0};      // COM1, 38400, "8", "None", "1"
    std::string debugPortPath;       // the debug port's device path; wins over debugPort[0]
    bool debugAutoOpenPort = false;  // `che_AutoOpenPort`; written, not read
    // Production: how the target's power is switched before each chip (one of
    // powerCycleModes()), the command for "cmd", the off time, and the production log.
    std::string powerCycle = "none";
    std::string powerCycleCommand;
    int powerOffMs = kDefaultPowerOffMs;
    std::string productionLog;  // the log file; empty: none chosen
    bool productionLogOn = false;
    std::string language = "both";  // `cobLanguage`: both, en or zh

    friend bool operator==(const StoredSettings&, const StoredSettings&) = default;
};

// Read every key that start-up reads, applying the read rules: "fillbyte" "00" selects
// choice 1 and anything else choice 0; "BeepYesNo" "True" selects YES and anything else NO;
// "COM_port" and "DebugCOM" hold a device path (from "/") or, as written before, a row, of
// which a negative one becomes 0 ("COM_port") or is refused ("DebugCOM"); a list row outside its
// list, a non-numeric index or a two-way value that is neither true nor false, or a "Language"
// other than both, en and zh, is ignored (the default stays) and its key is added to `rejected`
// when given; so is a "PowerCycle" that names no mode (it stays "none") and a "PowerOffMs" outside
// 0 ... 60000. "WDT_Prescalar" and "DebugAutoOpenPort" are not read.
StoredSettings loadStoredSettings(const SettingsStore& store,
                                  std::vector<std::string>* rejected = nullptr);

// Set every "every save" key from the values, in save order (call store.save() afterwards
// to write the batch). "安全锁" is written as "0"; "Write_OK_Count" trimmed.
void storeSettings(SettingsStore& store, const StoredSettings& values);

// Keys written by other steps: the folder of the last opened or saved file, the success
// counter after a download, and the window geometry (only for a window in its normal state).
void storeFilePath(SettingsStore& store, std::string_view folder);
void storeWriteOkCount(SettingsStore& store, std::string_view count);
void storeWindowGeometry(SettingsStore& store, int left, int top, int width, int height);
// The language, written once the user has chosen one (until then the environment decides).
void storeLanguage(SettingsStore& store, std::string_view language);

// The option choices restored at start-up: RS-485 and external-watchdog choices and pins;
// the prescaler always starts at row 7 ("256").
void applyToOptionChoices(const StoredSettings& values, OptionChoices& choices);
// Take the persisted option choices from the current choices before a save.
void captureOptionChoices(StoredSettings& values, const OptionChoices& choices);

// Text forms: "True"/"False" for two-way choices; a decimal index for list rows.
std::string boolText(bool value);

}  // namespace qmx
