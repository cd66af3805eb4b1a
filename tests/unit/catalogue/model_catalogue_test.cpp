#include "catalogue/model_catalogue.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace qmx {
namespace {

bool isUpperHex(const std::string& s) {
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && !(c >= 'A' && c <= 'F')) return false;
    }
    return true;
}

TEST(ModelList, HasEightyFiveUniqueRowsInListOrder) {
    const auto& list = modelCatalogue();
    ASSERT_EQ(list.size(), 85u);
    std::set<std::string> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].listIndex, static_cast<int>(i)) << list[i].name;
        names.insert(list[i].name);
    }
    EXPECT_EQ(names.size(), 85u);
    // Spot checks across the list: first, default, family boundaries and the last row.
    EXPECT_EQ(list[0].name, "M-066");
    EXPECT_EQ(list[2].name, "M-070");
    EXPECT_EQ(list[15].name, "M-082");
    EXPECT_EQ(list[16].name, "M-002");
    EXPECT_EQ(list[40].name, "M-014");
    EXPECT_EQ(list[54].name, "M-040");
    EXPECT_EQ(list[68].name, "M-085");
    EXPECT_EQ(list[71].name, "M-080");
    EXPECT_EQ(list[73].name, "M-064");
    EXPECT_EQ(list[84].name, "M-096");
}

TEST(ModelList, HandshakeNamesAreNotRows) {
    for (const ReportedModel& r : reportedModelNames()) {
        EXPECT_EQ(findModel(r.name), nullptr) << r.name;
    }
    EXPECT_EQ(reportedModelNames().size(), 9u);
}

TEST(ModelList, LookupsAreExactAndBounded) {
    EXPECT_EQ(findModel("m-070"), nullptr);
    EXPECT_EQ(findModel("M-070 "), nullptr);
    EXPECT_EQ(findModel(""), nullptr);
    ASSERT_NE(findModel("M-070"), nullptr);
    EXPECT_EQ(modelListIndex("M-070"), 2);
    EXPECT_EQ(modelListIndex("M-999"), -1);
    EXPECT_EQ(modelAt(-1), nullptr);
    EXPECT_EQ(modelAt(85), nullptr);
    EXPECT_EQ(modelAt(200), nullptr);
    EXPECT_EQ(modelAt(84)->name, "M-096");
    EXPECT_EQ(&defaultModel(), findModel("M-070"));
    EXPECT_EQ(kDefaultModelIndex, modelListIndex("M-070"));
}

TEST(ModelRows, M070) {
    const ModelEntry* m = findModel("M-070");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->family, 2);
    EXPECT_EQ(m->idCode, "F004");
    EXPECT_EQ(m->programStart, 0);
    EXPECT_EQ(m->programEnd, 0x37FF);
    EXPECT_EQ(m->dataStart, 0x3800);
    EXPECT_EQ(m->dataEnd, 0x37FF);
    EXPECT_EQ(m->bootStart, 0x2C00);
    EXPECT_EQ(m->bootEnd, 0x3BFF);
    EXPECT_TRUE(m->noDataMemory);
    EXPECT_FALSE(m->monitorCapable);
    EXPECT_EQ(m->blockSize, 512);
}

TEST(ModelRows, FamilyFourDataFlashEdges) {
    const ModelEntry* m052 = findModel("M-052");
    const ModelEntry* m026 = findModel("M-026");
    ASSERT_TRUE(m052 && m026);
    EXPECT_EQ(m052->programEnd, 0x27FF);
    EXPECT_EQ(m052->dataStart, 0x2800);
    EXPECT_EQ(m052->dataEnd, 0x2FFF);
    EXPECT_EQ(m052->idCode, "F32C");
    EXPECT_EQ(m026->programEnd, 0x2FFF);
    EXPECT_GT(m026->dataStart, m026->dataEnd);
    EXPECT_EQ(m026->bootStart, 0x3000);
    EXPECT_EQ(m026->bootEnd, 0x3DFF);
}

TEST(ModelRows, OtherFamiliesSpotValues) {
    const ModelEntry* m064 = findModel("M-064");
    EXPECT_EQ(m064->programEnd, 0xFFFF);
    EXPECT_EQ(m064->bootStart, 0x10000);
    EXPECT_EQ(m064->bootEnd, 0x11FFF);
    EXPECT_EQ(m064->monitorImage, "QMX516_2003.ROM");
    EXPECT_EQ(findModel("M-101")->monitorImage, "QMX58_2003.ROM");
    EXPECT_EQ(findModel("M-096")->programEnd, 0x1FFF);

    const ModelEntry* m080 = findModel("M-080");
    EXPECT_EQ(m080->family, 1);
    EXPECT_EQ(m080->idCode, "56");
    EXPECT_TRUE(m080->noDataMemory);
    EXPECT_EQ(m080->bootEnd, 0xFFFF);
    EXPECT_EQ(findModel("M-091")->bootEnd, 0xFBFF);
    EXPECT_FALSE(findModel("M-091")->noDataMemory);

    const ModelEntry* m012 = findModel("M-012");
    EXPECT_EQ(m012->family, 3);
    EXPECT_EQ(m012->programEnd, 0x13FF);
    EXPECT_EQ(m012->dataStart, 0x1400);
    EXPECT_EQ(m012->dataEnd, 0x13FF);
    EXPECT_EQ(findModel("M-029")->idCode, "F230");
    EXPECT_EQ(findModel("M-010")->dataStart, 0x1000);
    EXPECT_EQ(findModel("M-082")->idCode, "F110");
    EXPECT_EQ(findModel("M-082")->programEnd, 0xF7FF);
}

TEST(FamilyRules, HoldForEveryRow) {
    int perFamily[5] = {};
    for (const ModelEntry& m : modelCatalogue()) {
        SCOPED_TRACE(m.name);
        ASSERT_GE(m.family, 0);
        ASSERT_LE(m.family, 4);
        ++perFamily[m.family];
        EXPECT_EQ(m.programStart, 0);
        EXPECT_EQ(m.blockSize, m.family == 0 ? 128 : 512);
        EXPECT_EQ(m.monitorCapable, !m.monitorImage.empty());
        if (m.monitorCapable) {
            EXPECT_EQ(m.family, 0);
        }
        switch (m.family) {
            case 0:
                EXPECT_EQ(m.idCode, "FF");
                break;
            case 1:
                EXPECT_TRUE(m.idCode == "52" || m.idCode == "54" || m.idCode == "56" ||
                            m.idCode == "58");
                break;
            default: {
                ASSERT_EQ(m.idCode.size(), 4u);
                EXPECT_TRUE(isUpperHex(m.idCode));
                const std::string head = m.idCode.substr(0, 2);
                if (m.family == 2) {
                    EXPECT_TRUE(head == "F0" || head == "F1");
                }
                if (m.family == 3) {
                    EXPECT_EQ(head, "F2");
                }
                if (m.family == 4) {
                    EXPECT_EQ(head, "F3");
                }
            }
        }
        if (m.family <= 1) {
            EXPECT_EQ(m.dataStart, m.programEnd);
            EXPECT_EQ(m.dataEnd, m.programEnd);
        } else if (m.family == 3) {
            // A fixed data flash 1000..13FF, empty when the program reaches 13FF.
            EXPECT_EQ(m.dataStart, m.programEnd == 0x13FF ? 0x1400 : 0x1000);
            EXPECT_EQ(m.dataEnd, 0x13FF);
        } else {
            EXPECT_EQ(m.dataStart, m.programEnd + 1);
        }
        if (m.family == 2) {
            EXPECT_EQ(m.noDataMemory, m.dataStart > m.dataEnd);
        }
        if (m.family >= 3) {
            EXPECT_FALSE(m.noDataMemory);
        }
    }
    EXPECT_EQ(perFamily[0], 12);
    EXPECT_EQ(perFamily[1], 5);
    EXPECT_EQ(perFamily[2], 16);
    EXPECT_EQ(perFamily[3], 24);
    EXPECT_EQ(perFamily[4], 28);
}

TEST(FamilyRules, MonitorModelsAndSpeedBaseGroup) {
    std::set<std::string> monitor, lowBase;
    for (const ModelEntry& m : modelCatalogue()) {
        if (m.monitorCapable) monitor.insert(m.name);
        if (usesLowSpeedOptionBase(m)) lowBase.insert(m.name);
    }
    EXPECT_EQ(monitor, (std::set<std::string>{"M-064", "M-095", "M-076", "M-101"}));
    EXPECT_EQ(lowBase, (std::set<std::string>{"M-063", "M-094", "M-075", "M-100", "M-071", "M-098",
                                              "M-067", "M-096"}));
}

TEST(FamilyRules, FirmwareLetters) {
    EXPECT_EQ(familyFirmwareLetter(0), "A");
    EXPECT_EQ(familyFirmwareLetter(2), "C");
    EXPECT_EQ(familyFirmwareLetter(4), "E");
    EXPECT_EQ(familyFirmwareLetter(5), "");
    EXPECT_EQ(familyFirmwareLetter(-1), "");
}

TEST(IdentifiedModel, ReportedNamesFitTheirRows) {
    EXPECT_TRUE(identifiedModelFits("M-081", *findModel("M-080")));
    EXPECT_TRUE(identifiedModelFits("M-081", *findModel("M-083")));
    EXPECT_FALSE(identifiedModelFits("M-081", *findModel("M-091")));
    EXPECT_TRUE(identifiedModelFits("M-058", *findModel("M-070")));
    EXPECT_TRUE(identifiedModelFits("M-058", *findModel("M-087")));
    EXPECT_FALSE(identifiedModelFits("M-058", *findModel("M-066")));
    EXPECT_TRUE(identifiedModelFits("M-055", *findModel("M-065")));
    EXPECT_TRUE(identifiedModelFits("M-091", *findModel("M-091")));
    EXPECT_FALSE(identifiedModelFits("M-088", *findModel("M-091")));
    EXPECT_FALSE(identifiedModelFits("", *findModel("M-091")));
}

TEST(Selection, M070OffersOfflineAndUserCommandTabs) {
    auto s = selectModel(2);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->entry, findModel("M-070"));
    EXPECT_EQ(s->listIndex, 2);
    EXPECT_FALSE(s->monitorButtonEnabled);
    EXPECT_EQ(s->tabCaption(kTabKeyIspDemo), "ISP DEMO");
    EXPECT_EQ(s->tabCaption(kTabKeyOffline), "脱机下载");
    EXPECT_EQ(s->tabCaption(kTabKeyDebug1), "SFR/idata");
    EXPECT_EQ(s->tabCaption(kTabKeyDebug2), "xdata/IAP EEPROM");
    EXPECT_EQ(s->tabCaption(kTabKeyMonitor), kTabAbsent);
    EXPECT_TRUE(s->rebuildDebugRegisters);
    EXPECT_EQ(s->optionPageFamily, 2);
}

TEST(Selection, M064EnablesMonitorAndItsDebugViews) {
    auto s = selectModel(std::string_view("M-064"));
    ASSERT_TRUE(s.has_value());
    EXPECT_TRUE(s->monitorButtonEnabled);
    EXPECT_EQ(s->entry->monitorImage, "QMX516_2003.ROM");
    EXPECT_EQ(s->entry->blockSize, 128);
    EXPECT_EQ(s->tabCaption(kTabKeyMonitor), "仿真芯片");
    for (auto key : {kTabKeyIspDemo, kTabKeyOffline}) {
        EXPECT_EQ(s->tabCaption(key), kTabAbsent) << key;
    }
    // The monitor reports over the debug port, so its views are offered with the model.
    EXPECT_EQ(s->tabCaption(kTabKeyDebug1), "SFR/idata");
    EXPECT_EQ(s->tabCaption(kTabKeyDebug2), "xdata/IAP EEPROM");
    EXPECT_TRUE(s->rebuildDebugRegisters);
    EXPECT_EQ(s->optionPageFamily, 0);
}

TEST(Selection, TabsFollowTheFamily) {
    auto f1 = selectModel(std::string_view("M-085"));
    EXPECT_EQ(f1->tabCaption(kTabKeyOffline), kTabAbsent);
    EXPECT_EQ(f1->tabCaption(kTabKeyMonitor), kTabAbsent);
    EXPECT_FALSE(f1->monitorButtonEnabled);
    auto f0 = selectModel(std::string_view("M-067"));
    EXPECT_FALSE(f0->monitorButtonEnabled);
    EXPECT_EQ(f0->tabCaption(kTabKeyMonitor), kTabAbsent);
    EXPECT_EQ(f0->tabCaption(kTabKeyDebug1), kTabAbsent);
    auto f3 = selectModel(std::string_view("M-002"));
    EXPECT_EQ(f3->tabCaption(kTabKeyIspDemo), kTabAbsent);
    EXPECT_EQ(f3->tabCaption(kTabKeyOffline), "脱机下载");
    auto f4 = selectModel(std::string_view("M-053"));
    EXPECT_EQ(f4->tabCaption(kTabKeyDebug2), "xdata/IAP EEPROM");
    EXPECT_EQ(f4->optionPageFamily, 4);
    EXPECT_EQ(f4->tabCaption("options"), "");
}

TEST(Selection, RefusesWhatIsNotARow) {
    EXPECT_FALSE(selectModel(85).has_value());
    EXPECT_FALSE(selectModel(-1).has_value());
    EXPECT_FALSE(selectModel(std::string_view("M-081")).has_value());
    EXPECT_FALSE(selectModel(std::string_view("m-070")).has_value());
}

}  // namespace
}  // namespace qmx
