#include "monitor/monitor_image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <string_view>

namespace qmx {

namespace {

// A line of erased flash.
constexpr std::string_view kFF = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

// Patch code between the monitor core and the model monitor (2180-22EF), for monitor files
// other than the 64-KB one.
constexpr std::array<std::string_view, 23> kPatchA = {"53B1FC43B14075B4F075B30075B20BAF",
                                                      "B6EF20E2FA53B1BFE4F5B50200000221",
                                                      "9EFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
                                                      kFF,
                                                      kFF,
                                                      kFF,
                                                      kFF,
                                                      kFF,
                                                      "53B1FC787FE4F5D0F6D8FD75810D0222",
                                                      "7043B1408E838F828583B48582B38DB5",
                                                      "75B20EAFB6EF20E2FA75B20C00AFB512",
                                                      "2258EFB505037F00227FFE2243B1408E",
                                                      "838F828583B48582B375B20BAFB6EF20",
                                                      "E2FA1222587F002253B1BFE4F5B522FF",
                                                      kFF,
                                                      "E4FD7CE0AF05AE0412223C74802DFDE4",
                                                      "3CFCC394F240ED750AE0750B00750823",
                                                      "E4F509FBFA850982850883E493FDAF0B",
                                                      "AE0A122211050BE50B7002050A0509E5",
                                                      "09700205080BBB00010ABA10D8BB80D5",
                                                      "53B1FC02100080FEFFFFFFFFFFFFFFFF",
                                                      kFF,
                                                      kFF};

// The same block for the 64-KB models' monitor file.
constexpr std::array<std::string_view, 23> kPatchA64k = {"43B14075B41075B30075B20BAFB6EF20",
                                                         "E2FA53B1BFE4F5B500000053B1FC0200",
                                                         "0080FEFFFFFFFFFFFFFFFFFFFFFFFFFF",
                                                         kFF,
                                                         kFF,
                                                         kFF,
                                                         kFF,
                                                         kFF,
                                                         "787FE4F5D0F6D8FD75810D02227043B1",
                                                         "408E838F828583B48582B38DB575B20E",
                                                         "AFB6EF20E2FA75B20C00AFB5122255EF",
                                                         "B505037F00227FFE2243B1408E838F82",
                                                         "8583B48582B375B20BAFB6EF20E2FA12",
                                                         "22557F002253B1BFE4F5B522FFFFFFFF",
                                                         kFF,
                                                         "E4FDFCAF05AE0412223974802DFDE43C",
                                                         "FCC3941140EDE4F50AF50B750823E4F5",
                                                         "09FBFA850982850883E493FDAF0BAE0A",
                                                         "12220E050BE50B7002050A0509E50970",
                                                         "0205080BBB00010ABA10D8BB80D553B1",
                                                         "FC02100080FEFFFFFFFFFFFFFFFFFFFF",
                                                         kFF,
                                                         kFF};

// Patch code after the model monitor (3300-335F).
constexpr std::array<std::string_view, 6> kPatchB = {
    "787FE4F5D0F6D8FD75810D02102F80FE", "43B1408E838F828583B48582B375B20B",
    "AFB6EF20E2FA53B1BFE4F5B57F00227D", "007C22AF05AE0412101074802DFDE43C",
    "FCC3943440EDE4FFFE12101002218080", "FEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"};

constexpr std::array<std::string_view, 6> kPatchB64k = {
    "787FE4F5D0F6D8FD75810D02102D43B1", "408E838F828583B48582B375B20BAFB6",
    "EF20E2FA53B1BFE4F5B57F00227D007C", "22AF05AE0412100E74802DFDE43CFCC3",
    "943440EDE4FFFE12100E02218080FEFF", kFF};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return c - 'a' + 10;
}

template <std::size_t N>
std::vector<std::uint8_t> linesToBytes(const std::array<std::string_view, N>& lines) {
    std::vector<std::uint8_t> out;
    out.reserve(N * 16);
    for (std::string_view line : lines)
        for (std::size_t k = 0; k + 1 < line.size(); k += 2)
            out.push_back(
                static_cast<std::uint8_t>(hexDigit(line[k]) * 16 + hexDigit(line[k + 1])));
    return out;
}

// Copies exactly `slot` bytes of a file to `at`; a short file leaves FF behind its end.
void place(MonitorImage& image, long at, const std::vector<std::uint8_t>& file, int slot,
           long& shortBy, bool& tooLong) {
    const std::size_t n = std::min<std::size_t>(file.size(), static_cast<std::size_t>(slot));
    std::copy_n(file.begin(), n, image.begin() + at);
    shortBy = static_cast<long>(slot) - static_cast<long>(n);
    tooLong = file.size() > static_cast<std::size_t>(slot);
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::uint8_t> monitorPatchA(bool monitor64k) {
    return linesToBytes(monitor64k ? kPatchA64k : kPatchA);
}

std::vector<std::uint8_t> monitorPatchB(bool monitor64k) {
    return linesToBytes(monitor64k ? kPatchB64k : kPatchB);
}

MonitorImageBuild buildMonitorImage(const std::vector<std::uint8_t>& coreFile,
                                    const std::vector<std::uint8_t>& modelFile,
                                    const std::string& modelMonitorName) {
    MonitorImageBuild b;
    b.image.fill(0x00);
    std::fill(b.image.begin(), b.image.begin() + kMonitorImageEnd + 1, 0xFF);
    place(b.image, kMonitorCoreAt, coreFile, kMonitorCoreBytes, b.coreShortBy, b.coreLong);
    place(b.image, kModelMonitorAt, modelFile, kModelMonitorBytes, b.modelShortBy, b.modelLong);
    const bool is64k = modelMonitorName == kMonitor64kFile;
    const auto a = monitorPatchA(is64k);
    const auto pb = monitorPatchB(is64k);
    std::copy(a.begin(), a.end(), b.image.begin() + kPatchAAt);
    std::copy(pb.begin(), pb.end(), b.image.begin() + kPatchBAt);
    // LJMP 2200: the reset vector enters the monitor.
    b.image[0] = 0x02;
    b.image[1] = 0x22;
    b.image[2] = 0x00;
    return b;
}

std::string programDir() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string installedMonitorDir() {
    // A program installed as <prefix>/bin/qmx-isp looks in <prefix>/share/qmx-isp/monitor, so a
    // package installed under another prefix than the one it was built for still finds it.
    const std::string here = programDir();
    constexpr std::string_view kBin = "/bin";
    if (here.size() > kBin.size() && here.ends_with(kBin))
        return here.substr(0, here.size() - kBin.size()) + "/share/qmx-isp/monitor";
#ifdef QMX_MONITOR_DATADIR
    return QMX_MONITOR_DATADIR;
#else
    return "/usr/local/share/qmx-isp/monitor";
#endif
}

std::vector<std::string> monitorSearchDirs(const std::string& overrideDir) {
    std::vector<std::string> dirs;
    if (!overrideDir.empty()) dirs.push_back(overrideDir);
    const std::string here = programDir();
    if (!here.empty()) dirs.push_back(here);
    dirs.push_back(installedMonitorDir());
    return dirs;
}

std::string findMonitorFile(const std::string& name, const std::vector<std::string>& dirs) {
    for (const std::string& d : dirs) {
        const std::string path = d + "/" + name;
        if (isRegularFile(path)) return path;
    }
    return {};
}

std::string missingMonitorFileText(const std::string& name, const std::vector<std::string>& dirs) {
    std::string places;
    for (const std::string& d : dirs)
        places += (places.empty() ? "" : ", ") + d + "/" + name;
    const std::string first = dirs.empty() ? name : dirs.front() + "/" + name;
    return "File not found: " + name + " (looked for " + places + ").\r\nChinese:找不到文件 " +
           first + ".";
}

bool readMonitorFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.clear();
    char buf[4096];
    while (in && bytes.size() <= limit) {
        in.read(buf, sizeof buf);
        bytes.insert(bytes.end(), buf, buf + in.gcount());
    }
    if (in.bad()) return false;
    if (bytes.size() > limit + 1) bytes.resize(limit + 1);
    return true;
}

}  // namespace qmx
