#include "catalogue/model_catalogue.h"

#include <array>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace qmx {
namespace {

// The list `combMcuModel`, top to bottom.
constexpr std::array<std::string_view, kModelCount> kListOrder = {
    "M-066", "M-068", "M-070", "M-072", "M-074", "M-077", "M-079", "M-065", "M-084", "M-086",
    "M-087", "M-089", "M-090", "M-092", "M-093", "M-082", "M-002", "M-003", "M-004", "M-005",
    "M-006", "M-007", "M-008", "M-009", "M-010", "M-011", "M-012", "M-013", "M-028", "M-029",
    "M-030", "M-031", "M-032", "M-033", "M-034", "M-035", "M-036", "M-037", "M-038", "M-039",
    "M-014", "M-015", "M-016", "M-017", "M-018", "M-019", "M-020", "M-021", "M-022", "M-023",
    "M-024", "M-025", "M-026", "M-027", "M-040", "M-041", "M-042", "M-043", "M-044", "M-045",
    "M-046", "M-047", "M-048", "M-049", "M-050", "M-051", "M-052", "M-053", "M-085", "M-088",
    "M-091", "M-080", "M-083", "M-064", "M-076", "M-095", "M-101", "M-063", "M-075", "M-071",
    "M-067", "M-094", "M-100", "M-098", "M-096",
};

ModelEntry row(std::string_view name, int family, std::string_view idCode, long programEnd,
               long dataStart, long dataEnd, long bootStart, long bootEnd, bool noData) {
    ModelEntry e;
    e.name = std::string(name);
    e.family = family;
    e.idCode = std::string(idCode);
    e.programStart = 0;
    e.programEnd = programEnd;
    e.dataStart = dataStart;
    e.dataEnd = dataEnd;
    e.bootStart = bootStart;
    e.bootEnd = bootEnd;
    e.noDataMemory = noData;
    e.blockSize = family == 0 ? 128 : 512;
    return e;
}

// Every model by name, from the family tables.
std::map<std::string, ModelEntry, std::less<>> modelsByName() {
    std::map<std::string, ModelEntry, std::less<>> m;
    auto add = [&m](ModelEntry e) { m.emplace(e.name, std::move(e)); };

    // Family 0: id "FF", block 128, data flash ends equal to the program end.
    struct F0 {
        std::string_view a, b;
        long end, bootStart, bootEnd;
        std::string_view monitor;
    };
    const F0 f0[] = {
        {"M-064", "M-095", 0xFFFF, 0x10000, 0x11FFF, "QMX516_2003.ROM"},
        {"M-076", "M-101", 0x7FFF, 0xE000, 0xFFFF, "QMX58_2003.ROM"},
        {"M-063", "M-094", 0xFFFF, 0x10000, 0x11FFF, ""},
        {"M-075", "M-100", 0x7FFF, 0xE000, 0xFFFF, ""},
        {"M-071", "M-098", 0x3FFF, 0xE000, 0xFFFF, ""},
        {"M-067", "M-096", 0x1FFF, 0xE000, 0xFFFF, ""},
    };
    for (const F0& r : f0) {
        for (std::string_view name : {r.a, r.b}) {
            ModelEntry e = row(name, 0, "FF", r.end, r.end, r.end, r.bootStart, r.bootEnd, false);
            e.monitorCapable = !r.monitor.empty();
            e.monitorImage = std::string(r.monitor);
            add(std::move(e));
        }
    }

    // Family 1: two-digit id, data flash ends equal to the program end.
    add(row("M-080", 1, "56", 0xFBFF, 0xFBFF, 0xFBFF, 0xE000, 0xFFFF, true));
    add(row("M-083", 1, "56", 0xFBFF, 0xFBFF, 0xFBFF, 0xE000, 0xFFFF, true));
    add(row("M-091", 1, "58", 0x7FFF, 0x7FFF, 0x7FFF, 0xE000, 0xFBFF, false));
    add(row("M-088", 1, "54", 0x3FFF, 0x3FFF, 0x3FFF, 0xE000, 0xFBFF, false));
    add(row("M-085", 1, "52", 0x1FFF, 0x1FFF, 0x1FFF, 0xE000, 0xFBFF, false));

    // Family 2: the two models of a row share the id.
    struct F2 {
        std::string_view a, b, id;
        long end, dataStart, dataEnd, bootStart, bootEnd;
        bool noData;
    };
    const F2 f2[] = {
        {"M-066", "M-084", "F001", 0x0FFF, 0x1000, 0x37FF, 0x2C00, 0x3BFF, false},
        {"M-068", "M-086", "F002", 0x1FFF, 0x2000, 0x37FF, 0x2C00, 0x3BFF, false},
        {"M-070", "M-087", "F004", 0x37FF, 0x3800, 0x37FF, 0x2C00, 0x3BFF, true},
        {"M-072", "M-089", "F104", 0x3FFF, 0x4000, 0xF7FF, 0xEC00, 0xFBFF, false},
        {"M-074", "M-090", "F105", 0x4FFF, 0x5000, 0xF3FF, 0xEC00, 0xFBFF, false},
        {"M-077", "M-092", "F108", 0x7FFF, 0x8000, 0xF7FF, 0xEC00, 0xFBFF, false},
        {"M-079", "M-093", "F10A", 0xF3FF, 0xF400, 0xF3FF, 0xEC00, 0xFBFF, true},
        {"M-065", "M-082", "F110", 0xF7FF, 0xF800, 0xF7FF, 0xEC00, 0xFBFF, true},
    };
    for (const F2& r : f2) {
        for (std::string_view name : {r.a, r.b}) {
            add(row(name, 2, r.id, r.end, r.dataStart, r.dataEnd, r.bootStart, r.bootEnd,
                    r.noData));
        }
    }

    // Family 3: boot area 1400..1FFF, data flash 1000..13FF (empty for the largest size).
    struct Named {
        std::string_view name, id;
    };
    struct F3 {
        long end;
        std::array<Named, 4> models;
    };
    const F3 f3[] = {
        {0x01FF, {{{"M-002", "F200"}, {"M-028", "F220"}, {"M-003", "F210"}, {"M-029", "F230"}}}},
        {0x03FF, {{{"M-004", "F201"}, {"M-030", "F221"}, {"M-005", "F211"}, {"M-031", "F231"}}}},
        {0x07FF, {{{"M-006", "F202"}, {"M-032", "F222"}, {"M-007", "F212"}, {"M-033", "F232"}}}},
        {0x0BFF, {{{"M-008", "F203"}, {"M-034", "F223"}, {"M-009", "F213"}, {"M-035", "F233"}}}},
        {0x0FFF, {{{"M-010", "F204"}, {"M-036", "F224"}, {"M-011", "F214"}, {"M-037", "F234"}}}},
        {0x13FF, {{{"M-012", "F205"}, {"M-038", "F225"}, {"M-013", "F215"}, {"M-039", "F235"}}}},
    };
    for (const F3& r : f3) {
        const long dataStart = r.end == 0x13FF ? 0x1400 : 0x1000;
        for (const Named& n : r.models) {
            add(row(n.name, 3, n.id, r.end, dataStart, 0x13FF, 0x1400, 0x1FFF, false));
        }
    }

    // Family 4: boot area 3000..3DFF, data flash from programEnd + 1 to 2FFF.
    struct F4 {
        long end;
        std::vector<Named> models;
    };
    const F4 f4[] = {
        {0x03FF, {{"M-014", "F301"}, {"M-040", "F321"}, {"M-015", "F311"}, {"M-041", "F331"}}},
        {0x07FF, {{"M-016", "F302"}, {"M-042", "F322"}, {"M-017", "F312"}, {"M-043", "F332"}}},
        {0x0FFF, {{"M-018", "F304"}, {"M-044", "F324"}, {"M-019", "F314"}, {"M-045", "F334"}}},
        {0x17FF, {{"M-020", "F306"}, {"M-046", "F326"}, {"M-021", "F316"}, {"M-047", "F336"}}},
        {0x1FFF, {{"M-022", "F308"}, {"M-048", "F328"}, {"M-023", "F318"}, {"M-049", "F338"}}},
        {0x27FF,
         {{"M-024", "F30A"},
          {"M-050", "F32A"},
          {"M-025", "F31A"},
          {"M-051", "F33A"},
          {"M-052", "F32C"},
          {"M-053", "F33C"}}},
        {0x2FFF, {{"M-026", "F30C"}, {"M-027", "F31C"}}},
    };
    for (const F4& r : f4) {
        for (const Named& n : r.models) {
            add(row(n.name, 4, n.id, r.end, r.end + 1, 0x2FFF, 0x3000, 0x3DFF, false));
        }
    }
    return m;
}

using ModelMap = std::map<std::string, ModelEntry, std::less<>>;

// Sets a field on each named model.
template <typename Set>
void forModels(ModelMap& m, std::initializer_list<std::string_view> names, Set set) {
    for (std::string_view name : names) {
        auto it = m.find(name);
        if (it == m.end()) std::abort();  // a quirk names a model the tables lack: a build fault
        set(it->second);
    }
}

// Identification bytes of the status answer: models named by the first byte alone.
struct IdFirst {
    std::uint8_t first;
    std::string_view name;
};
constexpr IdFirst kIdByFirst[] = {
    {0x1A, "M-063"}, {0x18, "M-075"}, {0x14, "M-071"}, {0x12, "M-067"},
    {0x0A, "M-094"}, {0x08, "M-100"}, {0x04, "M-098"}, {0x02, "M-096"},
    {0x56, "M-081"}, {0x58, "M-091"}, {0x54, "M-088"}, {0x52, "M-085"},
};
// Models named by both bytes: one first byte, the second bytes and the names in step.
struct IdPairs {
    std::uint8_t first;
    std::vector<std::uint8_t> seconds;
    std::vector<std::string_view> names;
};
const std::vector<IdPairs>& idPairs() {
    static const std::vector<IdPairs> pairs = {
        {0xF0, {0x01, 0x02, 0x04}, {"M-056", "M-057", "M-058"}},
        {0xF1, {0x04, 0x05, 0x08, 0x0A, 0x10}, {"M-059", "M-060", "M-061", "M-062", "M-055"}},
        {0xF2,
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05},
         {"M-002", "M-004", "M-006", "M-008", "M-010", "M-012"}},
        {0xF2,
         {0x10, 0x11, 0x12, 0x13, 0x14, 0x15},
         {"M-003", "M-005", "M-007", "M-009", "M-011", "M-013"}},
        {0xF2,
         {0x20, 0x21, 0x22, 0x23, 0x24, 0x25},
         {"M-028", "M-030", "M-032", "M-034", "M-036", "M-038"}},
        {0xF2,
         {0x30, 0x31, 0x32, 0x33, 0x34, 0x35},
         {"M-029", "M-031", "M-033", "M-035", "M-037", "M-039"}},
        {0xF3,
         {0x01, 0x02, 0x04, 0x06, 0x08, 0x0A, 0x0C},
         {"M-014", "M-016", "M-018", "M-020", "M-022", "M-024", "M-026"}},
        {0xF3,
         {0x11, 0x12, 0x14, 0x16, 0x18, 0x1A, 0x1C},
         {"M-015", "M-017", "M-019", "M-021", "M-023", "M-025", "M-027"}},
        {0xF3,
         {0x21, 0x22, 0x24, 0x26, 0x28, 0x2A, 0x2C},
         {"M-040", "M-042", "M-044", "M-046", "M-048", "M-050", "M-052"}},
        {0xF3,
         {0x31, 0x32, 0x34, 0x36, 0x38, 0x3A, 0x3C},
         {"M-041", "M-043", "M-045", "M-047", "M-049", "M-051", "M-053"}},
    };
    return pairs;
}

// Calls set(name, first, second) for every identification (second < 0: first byte alone).
template <typename Set>
void forIdentifications(Set set) {
    for (const IdFirst& id : kIdByFirst)
        set(id.name, id.first, -1);
    for (const IdPairs& row : idPairs()) {
        for (std::size_t i = 0; i < row.seconds.size(); ++i)
            set(row.names[i], row.first, row.seconds[i]);
    }
}

// The quirks of single models, kept here so that no other part compares model names.
void applyQuirks(ModelMap& m) {
    // The 2 KB loaders: their size is fixed, whatever the feature flags of the chip say.
    forModels(m, {"M-074", "M-079", "M-090", "M-093"}, [](ModelEntry& e) {
        e.bootAreaSize = 2048;
        e.bootAreaReported = false;
    });
    forModels(m, {"M-074", "M-090"}, [](ModelEntry& e) { e.dataAt32K = true; });
    forModels(m, {"M-080", "M-083"}, [](ModelEntry& e) { e.eraseSpan = 65536; });
    forModels(m, {"M-091"}, [](ModelEntry& e) { e.erasePages = 64; });
    forModels(m, {"M-088"}, [](ModelEntry& e) { e.erasePages = 32; });
    forModels(m, {"M-085"}, [](ModelEntry& e) { e.erasePages = 16; });
    forModels(m, {"M-066", "M-084", "M-068", "M-086", "M-070", "M-087"},
              [](ModelEntry& e) { e.eraseSpan = 15360; });
    forModels(
        m,
        {"M-072", "M-089", "M-074", "M-090", "M-077", "M-092", "M-079", "M-093", "M-065", "M-082"},
        [](ModelEntry& e) { e.eraseSpan = 64512; });
    forIdentifications([&m](std::string_view name, int first, int second) {
        auto it = m.find(name);
        if (it == m.end()) return;  // a reported name, not a list row
        it->second.idFirst = first;
        it->second.idSecond = second;
    });
}

std::vector<ModelEntry> buildCatalogue() {
    auto byName = modelsByName();
    applyQuirks(byName);
    std::vector<ModelEntry> list;
    list.reserve(kListOrder.size());
    for (std::size_t i = 0; i < kListOrder.size(); ++i) {
        auto it = byName.find(kListOrder[i]);
        if (it == byName.end()) std::abort();  // the two tables disagree: a build fault
        ModelEntry e = it->second;
        e.listIndex = static_cast<int>(i);
        list.push_back(std::move(e));
    }
    return list;
}

}  // namespace

const std::vector<ModelEntry>& modelCatalogue() {
    static const std::vector<ModelEntry> catalogue = buildCatalogue();
    return catalogue;
}

const ModelEntry* findModel(std::string_view name) {
    for (const ModelEntry& e : modelCatalogue()) {
        if (e.name == name) return &e;
    }
    return nullptr;
}

const ModelEntry* modelAt(int listIndex) {
    const auto& list = modelCatalogue();
    if (listIndex < 0 || static_cast<std::size_t>(listIndex) >= list.size()) return nullptr;
    return &list[static_cast<std::size_t>(listIndex)];
}

int modelListIndex(std::string_view name) {
    const ModelEntry* e = findModel(name);
    return e ? e->listIndex : -1;
}

const ModelEntry& defaultModel() {
    return modelCatalogue()[kDefaultModelIndex];
}

std::string_view familyFirmwareLetter(int family) {
    static constexpr std::array<std::string_view, 5> letters = {"A", "B", "C", "D", "E"};
    if (family < 0 || family > 4) return {};
    return letters[static_cast<std::size_t>(family)];
}

bool usesLowSpeedOptionBase(const ModelEntry& model) {
    return model.family == 0 && !model.monitorCapable;
}

const std::vector<ReportedModel>& reportedModelNames() {
    static const std::vector<ReportedModel> names = [] {
        std::vector<ReportedModel> r = {
            {"M-055", 2, "F110"}, {"M-056", 2, "F001"}, {"M-057", 2, "F002"},
            {"M-058", 2, "F004"}, {"M-059", 2, "F104"}, {"M-060", 2, "F105"},
            {"M-061", 2, "F108"}, {"M-062", 2, "F10A"}, {"M-081", 1, "56", -1, -1, true},
        };
        forIdentifications([&r](std::string_view name, int first, int second) {
            for (ReportedModel& m : r) {
                if (m.name != name) continue;
                m.idFirst = first;
                m.idSecond = second;
            }
        });
        return r;
    }();
    return names;
}

std::string modelForIdBytes(std::uint8_t id1, std::uint8_t id2) {
    // A model named by the first byte alone wins over one named by both bytes.
    for (int pass = 0; pass < 2; ++pass) {
        auto fits = [&](int first, int second) {
            if (first != id1) return false;
            return pass == 0 ? second < 0 : second == id2;
        };
        for (const ModelEntry& e : modelCatalogue())
            if (fits(e.idFirst, e.idSecond)) return e.name;
        for (const ReportedModel& r : reportedModelNames())
            if (fits(r.idFirst, r.idSecond)) return std::string(r.name);
    }
    return {};
}

bool reportedWithSizeLimit(std::string_view identifiedName) {
    for (const ReportedModel& r : reportedModelNames())
        if (r.name == identifiedName) return r.firmwareSizeLimit;
    return false;
}

int erasePagesFor(const ModelEntry& model, int bootArea) {
    if (model.erasePages > 0) return model.erasePages;
    if (model.eraseSpan > 0) return static_cast<int>((model.eraseSpan - bootArea) / 512);
    return 255;
}

bool identifiedModelFits(std::string_view identifiedName, const ModelEntry& selected) {
    if (identifiedName == selected.name) return true;
    for (const ReportedModel& r : reportedModelNames()) {
        if (r.name == identifiedName) {
            return r.family == selected.family && r.idCode == selected.idCode;
        }
    }
    return false;
}

std::vector<std::string> catalogueModelsFor(std::string_view identifiedName) {
    std::vector<std::string> names;
    for (const ModelEntry& m : modelCatalogue())
        if (identifiedModelFits(identifiedName, m)) names.push_back(m.name);
    return names;
}

std::string reportedModelText(std::string_view identifiedName) {
    const std::vector<std::string> fits = catalogueModelsFor(identifiedName);
    std::string text(identifiedName);
    if (fits.empty() || (fits.size() == 1 && fits[0] == identifiedName)) return text;
    text += " (catalogue: ";
    for (std::size_t i = 0; i < fits.size(); ++i)
        text += (i ? ", " : "") + fits[i];
    return text + ")";
}

std::string_view ModelSelection::tabCaption(std::string_view key) const {
    if (key == kTabKeyIspDemo) return offerIspDemo ? std::string_view("ISP DEMO") : kTabAbsent;
    if (key == kTabKeyOffline) return offerOffline ? std::string_view("脱机下载") : kTabAbsent;
    if (key == kTabKeyMonitor) return offerMonitor ? std::string_view("仿真芯片") : kTabAbsent;
    if (key == kTabKeyDebug1) return offerDebugViews ? std::string_view("SFR/idata") : kTabAbsent;
    if (key == kTabKeyDebug2) {
        return offerDebugViews ? std::string_view("xdata/IAP EEPROM") : kTabAbsent;
    }
    return {};
}

ModelSelection selectionFor(const ModelEntry& entry) {
    ModelSelection s;
    s.entry = &entry;
    s.listIndex = entry.listIndex;
    const bool newer = entry.family >= 2 && entry.family <= 4;
    s.monitorButtonEnabled = entry.monitorCapable;
    s.offerMonitor = entry.monitorCapable;
    s.offerIspDemo = entry.family == 2;
    s.offerOffline = newer;
    // The monitor models report over the debug port too, with the 8051 core registers.
    s.offerDebugViews = newer || entry.monitorCapable;
    s.rebuildDebugRegisters = newer || entry.monitorCapable;
    s.optionPageFamily = entry.family;
    return s;
}

std::optional<ModelSelection> selectModel(int listIndex) {
    const ModelEntry* e = modelAt(listIndex);
    if (!e) return std::nullopt;
    return selectionFor(*e);
}

std::optional<ModelSelection> selectModel(std::string_view name) {
    const ModelEntry* e = findModel(name);
    if (!e) return std::nullopt;
    return selectionFor(*e);
}

}  // namespace qmx
