#include "link/port_list.h"

#include <libserialport.h>

#include <algorithm>
#include <cstdlib>

#include <fmt/core.h>

namespace qmx {

bool listSerialPorts(std::vector<PortInfo>& ports, std::string& error) {
    ports.clear();
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK || !list) {
        char* message = sp_last_error_message();
        error = message ? message : "the serial ports could not be listed";
        if (message) sp_free_error_message(message);
        return false;
    }
    for (int i = 0; list[i]; ++i) {
        const char* name = sp_get_port_name(list[i]);
        if (!name) continue;
        PortInfo info;
        info.path = name;
        if (const char* desc = sp_get_port_description(list[i])) info.description = desc;
        if (sp_get_port_transport(list[i]) == SP_TRANSPORT_USB) {
            info.usb = true;
            if (const char* serial = sp_get_port_usb_serial(list[i])) info.usbSerial = serial;
            int vid = -1, pid = -1;
            if (sp_get_port_usb_vid_pid(list[i], &vid, &pid) == SP_OK) {
                info.vid = vid;
                info.pid = pid;
            }
        }
        ports.push_back(std::move(info));
    }
    sp_free_port_list(list);
    return true;
}

namespace {

std::string describe(const std::vector<const PortInfo*>& found) {
    std::string out;
    for (const PortInfo* p : found) {
        out += out.empty() ? "" : ", ";
        out += p->path;
        if (!p->usbSerial.empty()) out += " (usb:" + p->usbSerial + ")";
    }
    return out;
}

bool parseHexId(const std::string& text, int& out) {
    if (text.empty() || text.size() > 4) return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 16);
    if (!end || *end != '\0' || v < 0) return false;
    out = static_cast<int>(v);
    return true;
}

// The one port of `found`, or an error naming what was asked and what was found.
std::string onlyOne(const std::string& spec, std::vector<const PortInfo*> found,
                    std::string& error) {
    if (found.size() == 1) return found.front()->path;
    error = found.empty() ? fmt::format("no serial port matches {}", spec)
                          : fmt::format("{} matches several ports: {}", spec, describe(found));
    return {};
}

}  // namespace

bool portNamedByIdentity(const std::string& spec) {
    return spec == "auto" || spec.rfind("usb:", 0) == 0;
}

std::string resolvePort(const std::string& spec, const std::vector<PortInfo>& ports,
                        std::string& error) {
    if (!portNamedByIdentity(spec)) return spec;
    std::vector<const PortInfo*> usb;
    for (const PortInfo& p : ports)
        if (p.usb) usb.push_back(&p);
    std::sort(usb.begin(), usb.end(),
              [](const PortInfo* a, const PortInfo* b) { return a->path < b->path; });
    if (spec == "auto") return onlyOne("auto (the only USB serial port)", usb, error);

    const std::string rest = spec.substr(4);
    std::vector<std::string> parts;
    for (std::size_t at = 0;;) {
        const std::size_t colon = rest.find(':', at);
        parts.push_back(rest.substr(at, colon == std::string::npos ? colon : colon - at));
        if (colon == std::string::npos) break;
        at = colon + 1;
    }
    int vid = -1, pid = -1;
    if ((parts.size() == 2 || parts.size() == 3) && parseHexId(parts[0], vid) &&
        parseHexId(parts[1], pid)) {
        std::vector<const PortInfo*> found;
        for (const PortInfo* p : usb)
            if (p->vid == vid && p->pid == pid) found.push_back(p);
        if (parts.size() == 2) return onlyOne(spec, found, error);
        char* end = nullptr;
        const long n = std::strtol(parts[2].c_str(), &end, 10);
        if (parts[2].empty() || !end || *end != '\0' || n < 1) {
            error = fmt::format("{}: N counts the adapters from 1", spec);
            return {};
        }
        if (static_cast<std::size_t>(n) > found.size()) {
            error = fmt::format("{}: there are only {} such adapters{}{}", spec, found.size(),
                                found.empty() ? "" : ": ", describe(found));
            return {};
        }
        return found[static_cast<std::size_t>(n - 1)]->path;
    }
    if (rest.empty()) {
        error = "usb: wants a USB serial number or VID:PID";
        return {};
    }
    std::vector<const PortInfo*> found;
    for (const PortInfo* p : usb)
        if (p->usbSerial == rest) found.push_back(p);
    return onlyOne(spec, found, error);
}

std::string resolvePort(const std::string& spec, std::string& error) {
    if (!portNamedByIdentity(spec)) return spec;
    std::vector<PortInfo> ports;
    if (!listSerialPorts(ports, error)) {
        error = "the serial ports could not be listed: " + error;
        return {};
    }
    return resolvePort(spec, ports, error);
}

}  // namespace qmx
