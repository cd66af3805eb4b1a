#include "settings/settings_keys.h"

#include <cctype>
#include <charconv>
#include <optional>

#include "catalogue/text_util.h"

namespace qmx {
namespace {

using namespace setting;

std::optional<int> parseInt(std::string_view text) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// A two-way value: "True"/"False" as saved, or a number (0 false, anything else true).
std::optional<bool> parseBool(std::string_view text) {
    text = trimBlanks(text);
    if (equalsIgnoreCase(text, "true")) return true;
    if (equalsIgnoreCase(text, "false")) return false;
    if (auto n = parseInt(text)) return *n != 0;
    return std::nullopt;
}

// Reads the keys of `store` and records the keys whose stored value is refused.
class Reader {
  public:
    Reader(const SettingsStore& store, std::vector<std::string>* rejected)
        : store_(store), rejected_(rejected) {}

    // A list row; refused when not a number or outside 0..listSize-1 (listSize 0: no upper
    // bound known here).
    void index(std::string_view key, int& target) {
        if (!store_.contains(kSettingsSection, key)) return;
        const SettingKey* k = findSettingKey(key);
        const int size = k ? k->listSize : 0;
        auto n = parseInt(store_.read(kSettingsSection, key));
        if (!n || *n < 0 || (size > 0 && *n >= size)) return reject(key);
        target = *n;
    }
    void number(std::string_view key, int& target) {
        if (!store_.contains(kSettingsSection, key)) return;
        auto n = parseInt(store_.read(kSettingsSection, key));
        if (!n) return reject(key);
        target = *n;
    }
    void boolean(std::string_view key, bool& target) {
        if (!store_.contains(kSettingsSection, key)) return;
        auto b = parseBool(store_.read(kSettingsSection, key));
        if (!b) return reject(key);
        target = *b;
    }
    bool has(std::string_view key) const { return store_.contains(kSettingsSection, key); }
    std::string text(std::string_view key) const { return store_.read(kSettingsSection, key); }
    void reject(std::string_view key) {
        if (rejected_) rejected_->emplace_back(key);
    }

  private:
    const SettingsStore& store_;
    std::vector<std::string>* rejected_;
};

// The production keys: a mode that names none of the known switches stays "none", so an
// edited or newer file never switches anybody's power by a guess.
void readProduction(Reader& r, StoredSettings& v) {
    if (r.has(kPowerCycle)) {
        const std::string mode(trimBlanks(r.text(kPowerCycle)));
        bool known = false;
        for (std::string_view m : kPowerCycleModes)
            known = known || equalsIgnoreCase(mode, m);
        if (known) {
            v.powerCycle = mode;
            for (char& c : v.powerCycle)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            r.reject(kPowerCycle);
        }
    }
    if (r.has(kPowerCycleCommand)) v.powerCycleCommand = r.text(kPowerCycleCommand);
    int offMs = v.powerOffMs;
    r.number(kPowerOffMs, offMs);
    if (offMs >= 0 && offMs <= kMaxPowerOffMs)
        v.powerOffMs = offMs;
    else
        r.reject(kPowerOffMs);
    if (r.has(kProductionLog)) v.productionLog = r.text(kProductionLog);
    r.boolean(kProductionLogOn, v.productionLogOn);
}

}  // namespace

const std::vector<SettingKey>& settingsKeys() {
    static const std::vector<SettingKey> keys = [] {
        std::vector<SettingKey> k = {
            {kMainLeft, "0", "frmMain.Left", 0, true, false},
            {kMainTop, "0", "frmMain.Top", 0, true, false},
            {kMainWidth, "12000", "frmMain.Width", 0, true, false},
            {kMainHeight, "9045", "frmMain.Height", 0, true, false},
            {kDeviceProducts, "2", "combMcuModel", kModelCount, true, true},
            {kFilePath, "", "CommonDialog1", 0, true, false},
            {kFillByte, "00", "optFillbyte", 0, true, true},
            {kComPort, "0", "combCommPort", 0, true, true},
            {kBeepYesNo, "True", "optBeepYes", 0, true, true},
            {kDelayReDownload, "4", "comDalay_ReDownLoad", 8, true, true},
            {kWriteOkCount, "0", "txtWrite_OK_Count", 0, true, true},
            {kPinFor485, "1", "opt_485_pin", 0, true, true},
            {kPinAddressFor485, "0", "comb_485_pin", 15, true, true},
            {kLogicOfControl485, "1", "opt_485_logic", 0, true, true},
            {kPinExternalWdt, "1", "opt_External_WDT", 0, true, true},
            {kPinAddressExternalWdt, "1", "comb_ISP_DEMO_WDT", 15, true, true},
            {kWdtPrescaler, "", "comWDT_Prescalar", 8, false, true},
        };
        // Baud and data-bit lists are sized by the window; parity and stop-bit lists have
        // three rows; the debug port list has eight.
        const std::array<std::string_view, 4> userCodeControls = {
            "cobUserCodeBaud", "cobUserCodeParity", "cobUserCodeDataBits", "cobUserCodeStopBits"};
        const std::array<std::string_view, 4> demoDownloadControls = {
            "cob_DEMO_DownLoad_Baud", "cob_DEMO_DownLoad_Parity", "cob_DEMO_DownLoad_DataBits",
            "cob_DEMO_DownLoad_StopBits"};
        const std::array<std::string_view, 4> demoUserCodeControls = {
            "cob_DEMO_UserCode_Baud", "cob_DEMO_UserCode_Parity", "cob_DEMO_UserCode_DataBits",
            "cob_DEMO_UserCode_StopBits"};
        const std::array<std::string_view, 4> defaultsUser = {"2", "2", "0", "0"};
        const std::array<std::string_view, 4> defaultsDemo = {"2", "0", "0", "0"};
        const std::array<int, 4> sizes4 = {0, 3, 0, 3};
        for (std::size_t i = 0; i < 4; ++i) {
            k.push_back(
                {kUserCodePort[i], defaultsUser[i], userCodeControls[i], sizes4[i], true, true});
        }
        for (std::size_t i = 0; i < 4; ++i) {
            k.push_back({kDemoDownloadPort[i], defaultsDemo[i], demoDownloadControls[i], sizes4[i],
                         true, true});
        }
        for (std::size_t i = 0; i < 4; ++i) {
            k.push_back({kDemoUserCodePort[i], defaultsDemo[i], demoUserCodeControls[i], sizes4[i],
                         true, true});
        }
        const std::array<std::string_view, 5> debugControls = {
            "com_Debug_COM", "com_Debug_Baud", "com_Debug_DataBits", "com_Debug_ParityCheck",
            "com_Debug_StopBits"};
        const std::array<std::string_view, 5> debugDefaults = {"0", "2", "0", "2", "0"};
        const std::array<int, 5> debugSizes = {8, 0, 0, 3, 3};
        for (std::size_t i = 0; i < 5; ++i) {
            k.push_back(
                {kDebugPort[i], debugDefaults[i], debugControls[i], debugSizes[i], true, true});
        }
        k.push_back({kDebugAutoOpenPort, "", "che_AutoOpenPort", 0, false, true});
        k.push_back({kSafetyLock, "2", "Option0", 0, true, true});
        k.push_back({kPowerCycle, "none", "comPowerCycle", 0, true, true});
        k.push_back({kPowerCycleCommand, "", "txtPowerCycleCommand", 0, true, true});
        k.push_back({kPowerOffMs, "300", "txtPowerOffMs", 0, true, true});
        k.push_back({kProductionLog, "", "txtProductionLog", 0, true, true});
        k.push_back({kProductionLogOn, "False", "cheProductionLog", 0, true, true});
        k.push_back({kLanguage, "both", "cobLanguage", 0, true, false});
        return k;
    }();
    return keys;
}

const SettingKey* findSettingKey(std::string_view name) {
    for (const SettingKey& k : settingsKeys()) {
        if (k.name == name) return &k;
    }
    return nullptr;
}

const std::vector<std::string_view>& geometryLoadOrder() {
    static const std::vector<std::string_view> order = {kMainLeft, kMainTop, kMainWidth,
                                                        kMainHeight};
    return order;
}

const std::vector<std::string_view>& mainLoadOrder() {
    static const std::vector<std::string_view> order = {
        kDeviceProducts,
        kSafetyLock,
        kFilePath,
        kFillByte,
        kComPort,
        kBeepYesNo,
        kDelayReDownload,
        kWriteOkCount,
        kPinFor485,
        kPinAddressFor485,
        kLogicOfControl485,
        kPinExternalWdt,
        kPinAddressExternalWdt,
        kPowerCycle,
        kPowerCycleCommand,
        kPowerOffMs,
        kProductionLog,
        kProductionLogOn,
        kLanguage,
    };
    return order;
}

const std::vector<std::string_view>& portLoadOrder() {
    static const std::vector<std::string_view> order = [] {
        std::vector<std::string_view> o(kUserCodePort.begin(), kUserCodePort.end());
        o.insert(o.end(), kDemoDownloadPort.begin(), kDemoDownloadPort.end());
        o.insert(o.end(), kDemoUserCodePort.begin(), kDemoUserCodePort.end());
        o.insert(o.end(), kDebugPort.begin(), kDebugPort.end());
        return o;
    }();
    return order;
}

const std::vector<std::string_view>& saveOrder() {
    static const std::vector<std::string_view> order = [] {
        std::vector<std::string_view> o = {kDeviceProducts, kSafetyLock, kFillByte, kComPort};
        const auto& ports = portLoadOrder();
        o.insert(o.end(), ports.begin(), ports.end());
        o.insert(o.end(), {kDebugAutoOpenPort, kBeepYesNo, kDelayReDownload, kWriteOkCount,
                           kPinFor485, kPinAddressFor485, kLogicOfControl485, kPinExternalWdt,
                           kPinAddressExternalWdt, kWdtPrescaler, kPowerCycle, kPowerCycleCommand,
                           kPowerOffMs, kProductionLog, kProductionLogOn});
        return o;
    }();
    return order;
}

std::string boolText(bool value) {
    return value ? "True" : "False";
}

StoredSettings loadStoredSettings(const SettingsStore& store, std::vector<std::string>* rejected) {
    StoredSettings v;
    Reader r(store, rejected);

    r.number(kMainLeft, v.mainLeft);
    r.number(kMainTop, v.mainTop);
    r.number(kMainWidth, v.mainWidth);
    r.number(kMainHeight, v.mainHeight);

    r.index(kDeviceProducts, v.deviceProducts);
    r.number(kSafetyLock, v.safetyLock);
    if (r.has(kFilePath)) v.filePath = r.text(kFilePath);
    if (r.has(kFillByte)) v.fillByteChoice = r.text(kFillByte) == "00" ? 1 : 0;
    if (r.has(kComPort)) {
        // The port by its device path; a number is the list row older versions stored.
        if (const std::string text(trimBlanks(r.text(kComPort))); text.starts_with('/')) {
            v.comPortPath = text;
        } else if (auto n = parseInt(text)) {
            v.comPort = *n < 0 ? 0 : *n;
        } else {
            r.reject(kComPort);
        }
    }
    if (r.has(kBeepYesNo)) v.beep = equalsIgnoreCase(trimBlanks(r.text(kBeepYesNo)), "true");
    r.index(kDelayReDownload, v.redownloadDelay);
    if (r.has(kWriteOkCount)) v.writeOkCount = r.text(kWriteOkCount);
    r.boolean(kPinFor485, v.rs485Off);
    r.index(kPinAddressFor485, v.rs485Pin);
    r.boolean(kLogicOfControl485, v.rs485LogicHighSend);
    r.boolean(kPinExternalWdt, v.externalWdtOff);
    r.index(kPinAddressExternalWdt, v.externalWdtPin);
    if (r.has(kLanguage)) {
        const std::string language(trimBlanks(r.text(kLanguage)));
        if (language == "both" || language == "en" || language == "zh")
            v.language = language;
        else
            r.reject(kLanguage);
    }

    readProduction(r, v);

    for (std::size_t i = 0; i < 4; ++i)
        r.index(kUserCodePort[i], v.userCodePort[i]);
    for (std::size_t i = 0; i < 4; ++i)
        r.index(kDemoDownloadPort[i], v.demoDownloadPort[i]);
    for (std::size_t i = 0; i < 4; ++i)
        r.index(kDemoUserCodePort[i], v.demoUserCodePort[i]);
    // The debug port by its device path, or the list row older versions stored.
    if (const std::string text(trimBlanks(r.text(kDebugPort[0]))); text.starts_with('/'))
        v.debugPortPath = text;
    else
        r.index(kDebugPort[0], v.debugPort[0]);
    for (std::size_t i = 1; i < 5; ++i)
        r.index(kDebugPort[i], v.debugPort[i]);
    return v;
}

void storeSettings(SettingsStore& store, const StoredSettings& v) {
    const auto put = [&store](std::string_view key, const std::string& value) {
        store.set(kSettingsSection, key, value);
    };
    put(kDeviceProducts, std::to_string(v.deviceProducts));
    put(kSafetyLock, "0");
    put(kFillByte, v.fillByteChoice == 0 ? "FF" : "00");
    put(kComPort, v.comPortPath.empty() ? std::to_string(v.comPort) : v.comPortPath);
    for (std::size_t i = 0; i < 4; ++i)
        put(kUserCodePort[i], std::to_string(v.userCodePort[i]));
    for (std::size_t i = 0; i < 4; ++i) {
        put(kDemoDownloadPort[i], std::to_string(v.demoDownloadPort[i]));
    }
    for (std::size_t i = 0; i < 4; ++i) {
        put(kDemoUserCodePort[i], std::to_string(v.demoUserCodePort[i]));
    }
    put(kDebugPort[0], v.debugPortPath.empty() ? std::to_string(v.debugPort[0]) : v.debugPortPath);
    for (std::size_t i = 1; i < 5; ++i)
        put(kDebugPort[i], std::to_string(v.debugPort[i]));
    put(kDebugAutoOpenPort, v.debugAutoOpenPort ? "1" : "0");
    put(kBeepYesNo, boolText(v.beep));
    put(kDelayReDownload, std::to_string(v.redownloadDelay));
    put(kWriteOkCount, std::string(trimBlanks(v.writeOkCount)));
    put(kPinFor485, boolText(v.rs485Off));
    put(kPinAddressFor485, std::to_string(v.rs485Pin));
    put(kLogicOfControl485, boolText(v.rs485LogicHighSend));
    put(kPinExternalWdt, boolText(v.externalWdtOff));
    put(kPinAddressExternalWdt, std::to_string(v.externalWdtPin));
    put(kWdtPrescaler, std::to_string(v.wdtPrescaler));
    put(kPowerCycle, v.powerCycle);
    put(kPowerCycleCommand, v.powerCycleCommand);
    put(kPowerOffMs, std::to_string(v.powerOffMs));
    put(kProductionLog, v.productionLog);
    put(kProductionLogOn, boolText(v.productionLogOn));
}

void storeFilePath(SettingsStore& store, std::string_view folder) {
    store.set(kSettingsSection, kFilePath, folder);
}

void storeWriteOkCount(SettingsStore& store, std::string_view count) {
    store.set(kSettingsSection, kWriteOkCount, trimBlanks(count));
}

void storeWindowGeometry(SettingsStore& store, int left, int top, int width, int height) {
    store.set(kSettingsSection, kMainLeft, std::to_string(left));
    store.set(kSettingsSection, kMainTop, std::to_string(top));
    store.set(kSettingsSection, kMainWidth, std::to_string(width));
    store.set(kSettingsSection, kMainHeight, std::to_string(height));
}

void applyToOptionChoices(const StoredSettings& v, OptionChoices& c) {
    c.rs485 = v.rs485Off ? 0 : 1;
    c.rs485Pin = v.rs485Pin;
    c.rs485Logic = v.rs485LogicHighSend ? 0 : 1;
    c.externalWdt = v.externalWdtOff ? 0 : 1;
    c.externalWdtPin = v.externalWdtPin;
    c.wdtPrescaler = 7;
}

void captureOptionChoices(StoredSettings& v, const OptionChoices& c) {
    v.rs485Off = c.rs485 == 0;
    v.rs485Pin = c.rs485Pin;
    v.rs485LogicHighSend = c.rs485Logic == 0;
    v.externalWdtOff = c.externalWdt == 0;
    v.externalWdtPin = c.externalWdtPin;
    v.wdtPrescaler = c.wdtPrescaler;
}

void storeLanguage(SettingsStore& store, std::string_view language) {
    store.set(kSettingsSection, kLanguage, std::string(language));
}

}  // namespace qmx
