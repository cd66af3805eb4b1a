// Feeds arbitrary bytes to the settings-file parser. Besides not crashing, the store must
// write a text that it reads back to the same settings, and any value must survive a write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/settings_keys.h"
#include "settings/settings_store.h"

namespace {

qmx::SettingsStore memoryStore() {
    return qmx::SettingsStore(std::filesystem::path("/nonexistent/qmx-fuzz/settings.ini"));
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    qmx::SettingsStore store = memoryStore();
    // Lines that are not text are set aside on load; the properties below hold for text.
    const bool clean = store.loadText(bytes);
    std::vector<std::string> rejected;
    (void)qmx::loadStoredSettings(store, &rejected);

    // What the store writes reads back as the same settings and is written the same again.
    const std::string once = store.serialise();
    if (clean && once.size() <= qmx::SettingsStore::kMaxFileSize) {
        qmx::SettingsStore again = memoryStore();
        check(again.loadText(once));
        check(again.serialise() == once);
        for (const auto& section : store.sections()) {
            if (section.name.empty()) continue;
            for (const auto& line : section.lines) {
                if (line.key.empty()) continue;
                check(again.read(section.name, line.key) == store.read(section.name, line.key));
            }
        }
    }

    // Any bytes stored as a value come back unchanged.
    if (clean && size <= 4096) {
        qmx::SettingsStore s = memoryStore();
        check(s.set("Settings", "FilePath", bytes));
        qmx::SettingsStore back = memoryStore();
        check(back.loadText(s.serialise()));
        check(back.read("Settings", "FilePath", "?") == bytes);
    }
    return 0;
}
