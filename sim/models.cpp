#include "models.h"

namespace qmxsim {
namespace {

std::vector<ChipModel> buildModels() {
    std::vector<ChipModel> m;
    auto add = [&m](const char* name, int family, int id1, int id2, std::uint32_t pEnd,
                    std::uint32_t dStart, std::uint32_t dEnd) {
        m.push_back(ChipModel{name, family, static_cast<std::uint8_t>(id1),
                              static_cast<std::uint8_t>(id2), pEnd, dStart, dEnd});
    };
    // Family 0: the monitor-capable parts report FF, the others a code of their own.
    add("M-064", 0, 0xFF, 0x00, 0xFFFF, 0xFFFF, 0xFFFF);
    add("M-095", 0, 0xFF, 0x00, 0xFFFF, 0xFFFF, 0xFFFF);
    add("M-076", 0, 0xFF, 0x00, 0x7FFF, 0x7FFF, 0x7FFF);
    add("M-101", 0, 0xFF, 0x00, 0x7FFF, 0x7FFF, 0x7FFF);
    add("M-063", 0, 0x1A, 0x00, 0xFFFF, 0xFFFF, 0xFFFF);
    add("M-094", 0, 0x0A, 0x00, 0xFFFF, 0xFFFF, 0xFFFF);
    add("M-075", 0, 0x18, 0x00, 0x7FFF, 0x7FFF, 0x7FFF);
    add("M-100", 0, 0x08, 0x00, 0x7FFF, 0x7FFF, 0x7FFF);
    add("M-071", 0, 0x14, 0x00, 0x3FFF, 0x3FFF, 0x3FFF);
    add("M-098", 0, 0x04, 0x00, 0x3FFF, 0x3FFF, 0x3FFF);
    add("M-067", 0, 0x12, 0x00, 0x1FFF, 0x1FFF, 0x1FFF);
    add("M-096", 0, 0x02, 0x00, 0x1FFF, 0x1FFF, 0x1FFF);
    // Family 1: the two decimal digits of the code are sent as one byte (56 -> 0x56).
    add("M-080", 1, 0x56, 0x00, 0xFBFF, 0xFBFF, 0xFBFF);
    add("M-083", 1, 0x56, 0x00, 0xFBFF, 0xFBFF, 0xFBFF);
    add("M-091", 1, 0x58, 0x00, 0x7FFF, 0x7FFF, 0x7FFF);
    add("M-088", 1, 0x54, 0x00, 0x3FFF, 0x3FFF, 0x3FFF);
    add("M-085", 1, 0x52, 0x00, 0x1FFF, 0x1FFF, 0x1FFF);
    // Family 2.
    add("M-066", 2, 0xF0, 0x01, 0x0FFF, 0x1000, 0x37FF);
    add("M-084", 2, 0xF0, 0x01, 0x0FFF, 0x1000, 0x37FF);
    add("M-068", 2, 0xF0, 0x02, 0x1FFF, 0x2000, 0x37FF);
    add("M-086", 2, 0xF0, 0x02, 0x1FFF, 0x2000, 0x37FF);
    add("M-070", 2, 0xF0, 0x04, 0x37FF, 0x3800, 0x37FF);
    add("M-087", 2, 0xF0, 0x04, 0x37FF, 0x3800, 0x37FF);
    add("M-072", 2, 0xF1, 0x04, 0x3FFF, 0x4000, 0xF7FF);
    add("M-089", 2, 0xF1, 0x04, 0x3FFF, 0x4000, 0xF7FF);
    add("M-074", 2, 0xF1, 0x05, 0x4FFF, 0x5000, 0xF3FF);
    add("M-090", 2, 0xF1, 0x05, 0x4FFF, 0x5000, 0xF3FF);
    add("M-077", 2, 0xF1, 0x08, 0x7FFF, 0x8000, 0xF7FF);
    add("M-092", 2, 0xF1, 0x08, 0x7FFF, 0x8000, 0xF7FF);
    add("M-079", 2, 0xF1, 0x0A, 0xF3FF, 0xF400, 0xF3FF);
    add("M-093", 2, 0xF1, 0x0A, 0xF3FF, 0xF400, 0xF3FF);
    add("M-065", 2, 0xF1, 0x10, 0xF7FF, 0xF800, 0xF7FF);
    add("M-082", 2, 0xF1, 0x10, 0xF7FF, 0xF800, 0xF7FF);
    // Family 3: four parts per size; the last size has no data flash.
    struct Row3 {
        std::uint32_t end;
        const char* names[4];
        int ids[4];
    };
    const Row3 f3[] = {
        {0x01FF, {"M-002", "M-028", "M-003", "M-029"}, {0x00, 0x20, 0x10, 0x30}},
        {0x03FF, {"M-004", "M-030", "M-005", "M-031"}, {0x01, 0x21, 0x11, 0x31}},
        {0x07FF, {"M-006", "M-032", "M-007", "M-033"}, {0x02, 0x22, 0x12, 0x32}},
        {0x0BFF, {"M-008", "M-034", "M-009", "M-035"}, {0x03, 0x23, 0x13, 0x33}},
        {0x0FFF, {"M-010", "M-036", "M-011", "M-037"}, {0x04, 0x24, 0x14, 0x34}},
        {0x13FF, {"M-012", "M-038", "M-013", "M-039"}, {0x05, 0x25, 0x15, 0x35}},
    };
    for (const auto& r : f3) {
        const std::uint32_t dStart = r.end == 0x13FF ? 0x1400 : 0x1000;
        for (int i = 0; i < 4; ++i)
            add(r.names[i], 3, 0xF2, r.ids[i], r.end, dStart, 0x13FF);
    }
    // Family 4: data flash from the end of the program flash up to 2FFF.
    struct Row4 {
        std::uint32_t end;
        std::vector<std::pair<const char*, int>> parts;
    };
    const Row4 f4[] = {
        {0x03FF, {{"M-014", 0x01}, {"M-040", 0x21}, {"M-015", 0x11}, {"M-041", 0x31}}},
        {0x07FF, {{"M-016", 0x02}, {"M-042", 0x22}, {"M-017", 0x12}, {"M-043", 0x32}}},
        {0x0FFF, {{"M-018", 0x04}, {"M-044", 0x24}, {"M-019", 0x14}, {"M-045", 0x34}}},
        {0x17FF, {{"M-020", 0x06}, {"M-046", 0x26}, {"M-021", 0x16}, {"M-047", 0x36}}},
        {0x1FFF, {{"M-022", 0x08}, {"M-048", 0x28}, {"M-023", 0x18}, {"M-049", 0x38}}},
        {0x27FF,
         {{"M-024", 0x0A},
          {"M-050", 0x2A},
          {"M-025", 0x1A},
          {"M-051", 0x3A},
          {"M-052", 0x2C},
          {"M-053", 0x3C}}},
        {0x2FFF, {{"M-026", 0x0C}, {"M-027", 0x1C}}},
    };
    for (const auto& r : f4) {
        for (const auto& [name, id] : r.parts)
            add(name, 4, 0xF3, id, r.end, r.end + 1, 0x2FFF);
    }
    return m;
}

}  // namespace

const std::vector<ChipModel>& allModels() {
    static const std::vector<ChipModel> models = buildModels();
    return models;
}

const ChipModel* findModel(const std::string& name) {
    for (const auto& m : allModels()) {
        if (m.name == name) return &m;
    }
    return nullptr;
}

}  // namespace qmxsim
