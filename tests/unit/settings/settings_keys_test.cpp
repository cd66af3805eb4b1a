#include "settings/settings_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace qmx {
namespace {

// A store that is never written to disk.
SettingsStore memoryStore(std::string_view text = {}) {
    SettingsStore s(std::filesystem::path("/nonexistent/qmx-test/settings.ini"));
    s.loadText(text);
    return s;
}

// Key names in the order a serialised store lists them.
std::vector<std::string> keysInFileOrder(const SettingsStore& s) {
    std::vector<std::string> keys;
    for (const auto& sec : s.sections()) {
        for (const auto& l : sec.lines) {
            if (!l.key.empty()) keys.push_back(l.key);
        }
    }
    return keys;
}

TEST(FirstRun, DefaultsOfAnEmptyStore) {
    std::vector<std::string> rejected;
    const StoredSettings v = loadStoredSettings(memoryStore(), &rejected);
    EXPECT_TRUE(rejected.empty());
    EXPECT_EQ(v, StoredSettings{});
    EXPECT_EQ(modelAt(v.deviceProducts)->name, "M-070");
    EXPECT_EQ(v.fillByteChoice, 1);  // "00"
    EXPECT_EQ(v.comPort, 0);
    EXPECT_TRUE(v.beep);
    EXPECT_EQ(v.redownloadDelay, 4);
    EXPECT_EQ(v.writeOkCount, "0");
    EXPECT_EQ(v.userCodePort, (std::array<int, 4>{2, 2, 0, 0}));
    EXPECT_EQ(v.demoDownloadPort, (std::array<int, 4>{2, 0, 0, 0}));
    EXPECT_EQ(v.debugPort, (std::array<int, 5>{0, 2, 0, 2, 0}));

    OptionChoices c;
    c.wdtPrescaler = 3;
    applyToOptionChoices(v, c);
    EXPECT_EQ(c.rs485, 0);
    EXPECT_EQ(ioPinList()[static_cast<std::size_t>(c.rs485Pin)], "P1.0");
    EXPECT_EQ(c.rs485Logic, 0);  // "高电平发送,低接收"
    EXPECT_EQ(c.externalWdt, 0);
    EXPECT_EQ(ioPinList()[static_cast<std::size_t>(c.externalWdtPin)], "P1.1");
    EXPECT_EQ(prescalerList()[static_cast<std::size_t>(c.wdtPrescaler)], "256");
}

TEST(KeyTable, DefaultsInTheTableGiveTheFirstRunValues) {
    // Storing each key's table default must read back as the first-run values.
    SettingsStore s = memoryStore();
    for (const SettingKey& k : settingsKeys()) {
        if (k.readAtStartup) s.set(kSettingsSection, k.name, k.defaultText);
    }
    std::vector<std::string> rejected;
    EXPECT_EQ(loadStoredSettings(s, &rejected), StoredSettings{});
    EXPECT_TRUE(rejected.empty());
}

TEST(KeyTable, OrdersCoverTheTable) {
    std::set<std::string_view> all;
    for (const SettingKey& k : settingsKeys())
        all.insert(k.name);
    EXPECT_EQ(all.size(), settingsKeys().size());
    EXPECT_EQ(all.size(), 42u);
    for (auto name : saveOrder()) {
        ASSERT_NE(findSettingKey(name), nullptr) << name;
        EXPECT_TRUE(findSettingKey(name)->writtenEverySave) << name;
    }
    std::size_t everySave = 0;
    for (const SettingKey& k : settingsKeys())
        everySave += k.writtenEverySave ? 1 : 0;
    EXPECT_EQ(everySave, saveOrder().size());
    std::vector<std::string_view> loads = geometryLoadOrder();
    loads.insert(loads.end(), mainLoadOrder().begin(), mainLoadOrder().end());
    loads.insert(loads.end(), portLoadOrder().begin(), portLoadOrder().end());
    for (const SettingKey& k : settingsKeys()) {
        const bool listed = std::find(loads.begin(), loads.end(), k.name) != loads.end();
        EXPECT_EQ(listed, k.readAtStartup) << k.name;
    }
    EXPECT_EQ(mainLoadOrder().front(), "DeviceProducts");
    EXPECT_EQ(mainLoadOrder()[1], "安全锁");
    // The production keys follow the keys of the first versions, which end with the prescaler.
    EXPECT_EQ(saveOrder()[saveOrder().size() - 6], "WDT_Prescalar");
    EXPECT_EQ(saveOrder().back(), "ProductionLogOn");
}

TEST(ReadRules, TwoWayAndListValues) {
    std::vector<std::string> rejected;
    StoredSettings v = loadStoredSettings(memoryStore("[Settings]\n"
                                                      "fillbyte=FF\n"
                                                      "COM_port=-3\n"
                                                      "BeepYesNo=False\n"
                                                      "pin_for_485=False\n"
                                                      "logic_of_control_485=0\n"
                                                      "pin_External_WDT=-1\n"
                                                      "Dalay_ReDownLoad=7\n"
                                                      "Write_OK_Count=42\n"),
                                          &rejected);
    EXPECT_TRUE(rejected.empty());
    EXPECT_EQ(v.fillByteChoice, 0);
    EXPECT_EQ(v.comPort, 0);
    EXPECT_FALSE(v.beep);
    EXPECT_FALSE(v.rs485Off);
    EXPECT_FALSE(v.rs485LogicHighSend);
    EXPECT_TRUE(v.externalWdtOff);  // -1 is the stored form of true
    EXPECT_EQ(v.redownloadDelay, 7);
    EXPECT_EQ(v.writeOkCount, "42");

    // Anything but "00" is choice 0; anything but "True" is NO.
    v = loadStoredSettings(memoryStore("[Settings]\nfillbyte=zz\nBeepYesNo=yes\n"));
    EXPECT_EQ(v.fillByteChoice, 0);
    EXPECT_FALSE(v.beep);
    v = loadStoredSettings(memoryStore("[Settings]\nfillbyte=00\nBeepYesNo=True\n"));
    EXPECT_EQ(v.fillByteChoice, 1);
    EXPECT_TRUE(v.beep);
}

TEST(ReadRules, RejectedValuesKeepDefaultsAndLoadingGoesOn) {
    std::vector<std::string> rejected;
    const StoredSettings v = loadStoredSettings(memoryStore("[Settings]\n"
                                                            "DeviceProducts=200\n"
                                                            "COM_port=abc\n"
                                                            "Dalay_ReDownLoad=8\n"
                                                            "pin_address_for_485=15\n"
                                                            "pin_for_485=maybe\n"
                                                            "UserCodeParity=3\n"
                                                            "DebugCOM=-1\n"
                                                            "DebugBaud=5\n"
                                                            "pin_address_External_WDT=14\n"),
                                                &rejected);
    EXPECT_EQ(v.deviceProducts, 2);
    EXPECT_EQ(v.comPort, 0);
    EXPECT_EQ(v.redownloadDelay, 4);
    EXPECT_EQ(v.rs485Pin, 0);
    EXPECT_TRUE(v.rs485Off);
    EXPECT_EQ(v.userCodePort[1], 2);
    EXPECT_EQ(v.debugPort[0], 0);
    EXPECT_EQ(v.debugPort[1], 5);     // baud lists are bounded by the window
    EXPECT_EQ(v.externalWdtPin, 14);  // a later key is still read
    EXPECT_EQ(rejected, (std::vector<std::string>{"DeviceProducts", "COM_port", "Dalay_ReDownLoad",
                                                  "pin_for_485", "pin_address_for_485",
                                                  "UserCodeParity", "DebugCOM"}));
    // The last list row is accepted.
    EXPECT_EQ(loadStoredSettings(memoryStore("[Settings]\nDeviceProducts=84\n")).deviceProducts,
              84);
}

TEST(SaveRules, EverySaveWritesItsKeysInOrder) {
    SettingsStore s = memoryStore();
    StoredSettings v;
    v.fillByteChoice = 0;
    v.beep = false;
    v.writeOkCount = "  17 ";
    v.wdtPrescaler = 2;
    v.debugAutoOpenPort = true;
    v.safetyLock = 6;
    storeSettings(s, v);
    const std::vector<std::string> keys = keysInFileOrder(s);
    ASSERT_EQ(keys.size(), saveOrder().size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(keys[i], saveOrder()[i]);
    EXPECT_EQ(s.read(kSettingsSection, "fillbyte"), "FF");
    EXPECT_EQ(s.read(kSettingsSection, "BeepYesNo"), "False");
    EXPECT_EQ(s.read(kSettingsSection, "Write_OK_Count"), "17");
    EXPECT_EQ(s.read(kSettingsSection, "安全锁"), "0");
    EXPECT_EQ(s.read(kSettingsSection, "pin_for_485"), "True");
    EXPECT_EQ(s.read(kSettingsSection, "WDT_Prescalar"), "2");
    EXPECT_EQ(s.read(kSettingsSection, "DebugAutoOpenPort"), "1");
    EXPECT_FALSE(s.contains(kSettingsSection, "FilePath"));
    EXPECT_FALSE(s.contains(kSettingsSection, "MainLeft"));
}

TEST(SaveRules, SavedChoicesComeBackExceptThePrescaler) {
    StoredSettings v;
    v.deviceProducts = 73;
    v.fillByteChoice = 0;
    v.comPort = 3;
    v.beep = false;
    v.redownloadDelay = 0;
    v.writeOkCount = "9";
    v.userCodePort = {0, 1, 0, 2};
    v.demoDownloadPort = {1, 2, 0, 1};
    v.demoUserCodePort = {3, 1, 0, 0};
    v.debugPort = {7, 4, 0, 0, 2};
    OptionChoices c;
    c.rs485 = 1;
    c.rs485Pin = 14;
    c.rs485Logic = 1;
    c.externalWdt = 1;
    c.externalWdtPin = 3;
    c.wdtPrescaler = 1;
    captureOptionChoices(v, c);

    SettingsStore s = memoryStore();
    storeSettings(s, v);
    SettingsStore reread = memoryStore(s.serialise());
    const StoredSettings back = loadStoredSettings(reread);
    StoredSettings expected = v;
    expected.wdtPrescaler = 7;  // written, not read
    expected.safetyLock = 0;    // always written as "0"
    EXPECT_EQ(back, expected);
    OptionChoices restored;
    applyToOptionChoices(back, restored);
    EXPECT_EQ(restored.rs485, 1);
    EXPECT_EQ(restored.rs485Pin, 14);
    EXPECT_EQ(restored.rs485Logic, 1);
    EXPECT_EQ(restored.externalWdt, 1);
    EXPECT_EQ(restored.externalWdtPin, 3);
    EXPECT_EQ(restored.wdtPrescaler, 7);
}

TEST(SaveRules, PortStoredByPathOlderRowStillRead) {
    // The port is written as its device path and read back as one; a row number from an older
    // version is still a row, and a path wins over any row.
    StoredSettings v;
    v.comPort = 4;
    v.comPortPath = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    SettingsStore s = memoryStore();
    storeSettings(s, v);
    EXPECT_EQ(s.read(kSettingsSection, "COM_port"), v.comPortPath);
    const StoredSettings back = loadStoredSettings(memoryStore(s.serialise()));
    EXPECT_EQ(back.comPortPath, v.comPortPath);
    EXPECT_EQ(back.comPort, 0);

    const StoredSettings old = loadStoredSettings(memoryStore("[Settings]\nCOM_port=2\n"));
    EXPECT_EQ(old.comPort, 2);
    EXPECT_TRUE(old.comPortPath.empty());
    storeSettings(s, old);
    EXPECT_EQ(s.read(kSettingsSection, "COM_port"), "2");  // no path known: the row again
}

TEST(SaveRules, ProductionChoicesComeBackAndBadOnesSwitchNothing) {
    StoredSettings v;
    v.powerCycle = "cmd";
    v.powerCycleCommand = "/opt/relay/switch.sh --board 2 'port 3'";
    v.powerOffMs = 1250;
    v.productionLog = "/srv/生产/line 1.jsonl";
    v.productionLogOn = true;
    SettingsStore s = memoryStore();
    storeSettings(s, v);
    EXPECT_EQ(s.read(kSettingsSection, "PowerCycle"), "cmd");
    EXPECT_EQ(s.read(kSettingsSection, "ProductionLogOn"), "True");
    std::vector<std::string> rejected;
    const StoredSettings back = loadStoredSettings(memoryStore(s.serialise()), &rejected);
    EXPECT_TRUE(rejected.empty());
    EXPECT_EQ(back.powerCycle, v.powerCycle);
    EXPECT_EQ(back.powerCycleCommand, v.powerCycleCommand);
    EXPECT_EQ(back.powerOffMs, v.powerOffMs);
    EXPECT_EQ(back.productionLog, v.productionLog);
    EXPECT_TRUE(back.productionLogOn);

    // Every mode the window offers survives; case from a hand-edited file is forgiven.
    for (std::string_view mode : kPowerCycleModes) {
        v.powerCycle = std::string(mode);
        storeSettings(s, v);
        EXPECT_EQ(loadStoredSettings(memoryStore(s.serialise())).powerCycle, mode);
    }
    EXPECT_EQ(loadStoredSettings(memoryStore("[Settings]\nPowerCycle= DTR-Inverted \n")).powerCycle,
              "dtr-inverted");

    // A mode nobody knows, an off time out of range or not a number: the defaults stay and
    // the keys after them are still read.
    for (const char* bad : {"PowerCycle=relay\nPowerOffMs=-5\n", "PowerCycle=\nPowerOffMs=abc\n",
                            "PowerCycle=cmd:x\nPowerOffMs=60001\n"}) {
        rejected.clear();
        const StoredSettings b = loadStoredSettings(
            memoryStore(std::string("[Settings]\n") + bad + "ProductionLogOn=True\n"), &rejected);
        EXPECT_EQ(b.powerCycle, "none") << bad;
        EXPECT_EQ(b.powerOffMs, 300) << bad;
        EXPECT_TRUE(b.productionLogOn) << bad;
        EXPECT_EQ(rejected, (std::vector<std::string>{"PowerCycle", "PowerOffMs"})) << bad;
    }
}

TEST(SaveRules, OtherWritersAndGeometry) {
    SettingsStore s = memoryStore();
    storeFilePath(s, "/srv/固件");
    storeWriteOkCount(s, " 5 ");
    storeWindowGeometry(s, 10, 20, 13000, 9100);
    const StoredSettings v = loadStoredSettings(s);
    EXPECT_EQ(v.filePath, "/srv/固件");
    EXPECT_EQ(v.writeOkCount, "5");
    EXPECT_EQ(v.mainLeft, 10);
    EXPECT_EQ(v.mainTop, 20);
    EXPECT_EQ(v.mainWidth, 13000);
    EXPECT_EQ(v.mainHeight, 9100);
}

TEST(ReadRules, LanguageIsReadWhenSoundAndWrittenBesideTheOtherKeys) {
    const std::string text = "[Settings]\nDeviceProducts=5\nLanguage= zh \n; a note\nfillbyte=FF\n";
    std::vector<std::string> rejected;
    EXPECT_EQ(loadStoredSettings(memoryStore(text), &rejected).language, "zh");
    EXPECT_TRUE(rejected.empty());
    const StoredSettings bad =
        loadStoredSettings(memoryStore("[Settings]\nLanguage=fr\n"), &rejected);
    EXPECT_EQ(bad.language, "both");
    EXPECT_EQ(rejected, std::vector<std::string>{"Language"});

    // A choice changes its own line only; an every-key save does not touch it.
    SettingsStore s = memoryStore(text);
    storeLanguage(s, "en");
    storeSettings(s, loadStoredSettings(s));
    const std::string saved = s.serialise();
    EXPECT_NE(saved.find("DeviceProducts=5\nLanguage=en\n; a note\n"), std::string::npos) << saved;
    EXPECT_EQ(loadStoredSettings(memoryStore(saved)).language, "en");
}

TEST(ReadRules, DebugPortIsStoredByItsPathAndAnOldRowIsStillRead) {
    std::vector<std::string> rejected;
    StoredSettings v =
        loadStoredSettings(memoryStore("[Settings]\nDebugCOM= /dev/ttyUSB1 \n"), &rejected);
    EXPECT_EQ(v.debugPortPath, "/dev/ttyUSB1");
    EXPECT_TRUE(rejected.empty());
    v = loadStoredSettings(memoryStore("[Settings]\nDebugCOM=5\n"), &rejected);
    EXPECT_EQ(v.debugPortPath, "");
    EXPECT_EQ(v.debugPort[0], 5);
    v = loadStoredSettings(memoryStore("[Settings]\nDebugCOM=COM3\n"), &rejected);
    EXPECT_EQ(v.debugPort[0], 0);
    EXPECT_EQ(rejected, std::vector<std::string>{"DebugCOM"});

    SettingsStore s = memoryStore();
    v.debugPortPath = "/dev/serial/by-id/usb-FTDI_A1-if00-port0";
    storeSettings(s, v);
    EXPECT_EQ(s.read(kSettingsSection, "DebugCOM"), v.debugPortPath);
    EXPECT_EQ(loadStoredSettings(s).debugPortPath, v.debugPortPath);
}

}  // namespace
}  // namespace qmx
