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
    bool usb = false;         // a USB serial adapter
    int vid = -1, pid = -1;   // its USB vendor and product id (-1 when unknown)
};

// The ports found; false (with `error` set) when the enumeration itself failed.
bool listSerialPorts(std::vector<PortInfo>& ports, std::string& error);

// A port named by identity rather than by path, resolved against a list of ports:
// "usb:SERIAL" the adapter with that USB serial number; "usb:VID:PID" the only adapter with
// that vendor and product id (hexadecimal), "usb:VID:PID:N" the N-th of them (from 1, in
// device-path order); "auto" the only USB serial port present. Any other text is a path and
// is returned as it is. Empty with `error` set when no port, or more than one, matches.
std::string resolvePort(const std::string& spec, const std::vector<PortInfo>& ports,
                        std::string& error);
// True when `spec` names a port by identity (and needs the enumeration).
bool portNamedByIdentity(const std::string& spec);
// resolvePort against the ports plugged in now.
std::string resolvePort(const std::string& spec, std::string& error);

}  // namespace qmx
