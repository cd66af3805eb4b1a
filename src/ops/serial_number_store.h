// The serial number as the station keeps it between runs: the five values live in section
// "Auto_Increase" of the settings store and are saved whenever the number is applied or
// advanced, so that the next start (or the next station run) continues the series.
#pragma once

#include "catalogue/model_catalogue.h"
#include "image/serial_number.h"

namespace qmx {

class CodeBuffer;
class SettingsStore;
class Ui;

// Reads the five values (defaults "FFFF", "8", "0000", "1", "1"); a stored format outside 0-2
// selects the binary format.
void loadSerialSettings(SerialNumberSpec& spec, const SettingsStore& store);
// Writes the five values.
void saveSerialSettings(const SerialNumberSpec& spec, SettingsStore& store);

// Ticked: validate every parameter (nothing is saved when one is refused), write the number,
// save the settings, refresh the extents and scroll the view so that the row holding A is the
// fourth row shown. Returns true when the number is in the buffer.
bool applySerialNumber(SerialNumberSpec& spec, CodeBuffer& buffer, const ModelEntry& model,
                       SettingsStore& store, Ui& ui);

// The check box was clicked (or set by code): unticked clears `active`; ticked applies the
// number. Returns false when ticked and the number could not be applied.
bool serialCheckBoxChanged(SerialNumberSpec& spec, bool ticked, CodeBuffer& buffer,
                           const ModelEntry& model, SettingsStore& store, Ui& ui);

// After a chip that verified and was counted: when ticked and active, advance, write the new
// number, re-render and save the settings. Returns false when the new number could not be
// written (its message was shown; the number is then no longer applied, so no further chip
// may be programmed with it); true otherwise.
bool serialAfterSuccess(SerialNumberSpec& spec, CodeBuffer& buffer, SettingsStore& store, Ui& ui);

}  // namespace qmx
