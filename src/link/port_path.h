// Names of serial devices that survive a replug. A USB adapter becomes /dev/ttyUSB0 or
// /dev/ttyUSB1 depending on what else is plugged in; udev also gives it a name under
// /dev/serial/by-id that is built from its maker, model and serial number and so stays the
// same. A chosen port is remembered by that stable name when there is one.
#pragma once

#include <string>

namespace qmx {

inline constexpr const char* kSerialByIdDir = "/dev/serial/by-id";

// The link in `byIdDir` that leads to the same device as `path`; `path` itself when there is
// none (a pseudo-terminal, a built-in port, a device that is gone) or when `path` already is
// such a link.
std::string stablePortPath(const std::string& path, const std::string& byIdDir = kSerialByIdDir);

// True when both paths lead to the same existing device (symbolic links followed).
bool samePortDevice(const std::string& a, const std::string& b);

}  // namespace qmx
