// The serial ports the system knows about, from libserialport's enumeration. Any other path
// (a pseudo-terminal, a symbolic link) can still be opened by name; this list only offers
// what is plugged in.
#pragma once

#include <string>
#include <vector>

namespace qmx {

struct PortInfo {
    std::string path;         // device path, e.g. /dev/ttyUSB0
    std::string description;  // what the system says the device is
    std::string usbSerial;    // the USB serial number of an adapter, empty otherwise
};

// The ports found; false (with `error` set) when the enumeration itself failed.
bool listSerialPorts(std::vector<PortInfo>& ports, std::string& error);

}  // namespace qmx
