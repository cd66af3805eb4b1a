#include "ops/serial_number_store.h"

#include <string>

#include "catalogue/text_util.h"
#include "core/ui.h"
#include "image/code_buffer.h"
#include "settings/settings_keys.h"
#include "settings/settings_store.h"

namespace qmx {
namespace {

// Saves the values now; a store that cannot be written is reported but does not stop the run.
void persist(const SerialNumberSpec& spec, SettingsStore& store, Ui& ui) {
    saveSerialSettings(spec, store);
    std::string error = store.saveWarnOnce();
    if (!error.empty())
        ui.appendMessage("Can not save the serial number settings. / 无法保存自动增量设置。 " +
                         error);
}

}  // namespace

void loadSerialSettings(SerialNumberSpec& spec, const SettingsStore& store) {
    spec.addressText = store.read(kAutoIncreaseSection, auto_increase_key::kAddress, "FFFF");
    spec.lengthText = store.read(kAutoIncreaseSection, auto_increase_key::kLength, "8");
    spec.nextValueText = store.read(kAutoIncreaseSection, auto_increase_key::kNextValue, "0000");
    spec.incrementText = store.read(kAutoIncreaseSection, auto_increase_key::kIncrease, "1");
    const std::string format = std::string(
        trimSpace(store.read(kAutoIncreaseSection, auto_increase_key::kNumeralSystem, "1")));
    spec.format = format == "1"   ? SerialFormat::Bcd
                  : format == "2" ? SerialFormat::Ascii
                                  : SerialFormat::Binary;
    readSerialTexts(spec);
}

void saveSerialSettings(const SerialNumberSpec& spec, SettingsStore& store) {
    store.set(kAutoIncreaseSection, auto_increase_key::kAddress, spec.addressText);
    store.set(kAutoIncreaseSection, auto_increase_key::kLength, spec.lengthText);
    store.set(kAutoIncreaseSection, auto_increase_key::kNextValue, spec.nextValueText);
    store.set(kAutoIncreaseSection, auto_increase_key::kIncrease, spec.incrementText);
    store.set(kAutoIncreaseSection, auto_increase_key::kNumeralSystem,
              std::to_string(static_cast<int>(spec.format)));
}

bool applySerialNumber(SerialNumberSpec& spec, CodeBuffer& buffer, const ModelEntry& model,
                       SettingsStore& store, Ui& ui) {
    // Every parameter is checked before anything is saved: the settings keep only numbers
    // that can really be written.
    if (!validateSerialParameters(spec, model, ui)) return false;
    const bool written = placeSerialNumber(spec, buffer, ui);
    persist(spec, store, ui);
    return written;
}

bool serialCheckBoxChanged(SerialNumberSpec& spec, bool ticked, CodeBuffer& buffer,
                           const ModelEntry& model, SettingsStore& store, Ui& ui) {
    spec.enabled = ticked;
    if (!ticked) {
        spec.active = false;
        return true;
    }
    return applySerialNumber(spec, buffer, model, store, ui);
}

bool serialAfterSuccess(SerialNumberSpec& spec, CodeBuffer& buffer, SettingsStore& store, Ui& ui) {
    if (!spec.enabled || !spec.active) return true;
    const bool written = advanceAndWriteSerialNumber(spec, buffer, ui);
    // The advanced number is the next one no chip holds yet, so it is kept even when it no
    // longer fits: the next start refuses it instead of numbering a chip twice.
    persist(spec, store, ui);
    spec.active = written;
    return written;
}

}  // namespace qmx
