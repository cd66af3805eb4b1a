#pragma once
// (first draft; the serial-link work replaces this)

namespace qmx {

class SerialChannel {};

}  // namespace qmx
