#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <fmt/core.h>

#include "link/serial_port.h"

namespace qmx {

std::optional<PortSettings> PortSettings::parse(const std::string& text) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == ',') {
            parts.push_back(cur);
            cur.clear();
        } else if (c != ' ' && c != '\t') {
            cur += c;
        }
    }
    parts.push_back(cur);
    if (parts.size() != 4) return std::nullopt;
    PortSettings s;
    char* end = nullptr;
    errno = 0;
    long baud = std::strtol(parts[0].c_str(), &end, 10);
    if (parts[0].empty() || *end != '\0' || errno != 0 || baud < 50 || baud > 4000000)
        return std::nullopt;
    s.baud = baud;
    if (parts[1].size() != 1) return std::nullopt;
    char p = static_cast<char>(std::tolower(static_cast<unsigned char>(parts[1][0])));
    if (std::string_view("neoms").find(p) == std::string_view::npos) return std::nullopt;
    s.parity = p;
    if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') return std::nullopt;
    s.dataBits = parts[2][0] - '0';
    if (parts[3] == "1")
        s.stopBits = 1;
    else if (parts[3] == "2" || parts[3] == "1.5")
        s.stopBits = 2;
    else
        return std::nullopt;
    return s;
}

std::string PortSettings::text() const {
    return fmt::format("{},{},{},{}", baud, parity, dataBits, stopBits);
}

}  // namespace qmx
