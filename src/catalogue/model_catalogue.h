#pragma once
// (first draft; the catalogue work replaces this with the full table and selectModel)
#include <string>
#include <vector>

namespace qmx {

struct ModelEntry {
    std::string name;
    int family = 0;
    std::string idCode;
    long programStart = 0;
    long programEnd = 0;
    long dataStart = 0;
    long dataEnd = 0;
    long bootStart = 0;
    long bootEnd = 0;
    bool noDataMemory = false;
    bool monitorCapable = false;
    std::string monitorImage;
    int blockSize = 128;
};

const std::vector<ModelEntry>& modelCatalogue();
const ModelEntry* findModel(const std::string& name);

}  // namespace qmx
