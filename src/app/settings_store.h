#pragma once
// (first draft; the settings work replaces this)
#include <string>

namespace qmx {

class SettingsStore {};

}  // namespace qmx
