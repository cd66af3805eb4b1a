#include "link/port_path.h"

#include <filesystem>
#include <system_error>

namespace qmx {

namespace fs = std::filesystem;

namespace {

// The device a path leads to; empty when it does not exist.
fs::path deviceOf(const std::string& path) {
    std::error_code ec;
    fs::path device = fs::canonical(path, ec);
    return ec ? fs::path() : device;
}

}  // namespace

std::string stablePortPath(const std::string& path, const std::string& byIdDir) {
    if (path.empty() || fs::path(path).parent_path() == fs::path(byIdDir)) return path;
    const fs::path device = deviceOf(path);
    if (device.empty()) return path;
    std::error_code ec;
    fs::directory_iterator it(byIdDir, ec);
    if (ec) return path;
    // The first name in sorted order, so that a device with two links is always stored alike.
    std::string best;
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().string();
        if (deviceOf(name) == device && (best.empty() || name < best)) best = name;
    }
    return best.empty() ? path : best;
}

bool samePortDevice(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const fs::path da = deviceOf(a);
    return !da.empty() && da == deviceOf(b);
}

}  // namespace qmx
