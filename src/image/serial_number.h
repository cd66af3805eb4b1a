#pragma once
// (first draft; the serial-number work replaces this)
#include <string>

namespace qmx {

struct SerialNumberSpec {
    bool enabled = false;
};

}  // namespace qmx
