#include "core/production_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include <fmt/core.h>

namespace qmx {

namespace {

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not a valid one.
std::size_t utf8Length(const std::string& s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    unsigned min = 0;
    if (b < 0x80)
        return 1;
    else if ((b & 0xE0) == 0xC0)
        n = 2, min = 0x80;
    else if ((b & 0xF0) == 0xE0)
        n = 3, min = 0x800;
    else if ((b & 0xF8) == 0xF0)
        n = 4, min = 0x10000;
    else
        return 0;
    if (i + n > s.size()) return 0;
    unsigned cp = b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = utf8Length(s, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(s, i, n);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += fmt::format("\\u{:04x}", c);
        } else {
            out += static_cast<char>(c);
        }
        i += n;
    }
    return out + "\"";
}

}  // namespace

std::string chipRecordJson(const ChipRecord& r) {
    std::string options = "[";
    for (std::size_t i = 0; i < r.options.size(); ++i)
        options += fmt::format("{}\"{:02X}\"", i ? "," : "", r.options[i] & 0xFF);
    options += "]";
    return fmt::format(
        "{{\"time\":{},\"host\":{},\"port\":{},\"model\":{},\"chip_model\":{},\"chip_id\":{},"
        "\"firmware\":{},\"clock_hz\":{:.0f},\"baud\":{},\"image\":{},\"checksum\":{},"
        "\"serial\":{},\"options\":{},\"result\":{},\"message\":{},\"duration_ms\":{}}}\n",
        jsonString(r.time), jsonString(r.host), jsonString(r.port), jsonString(r.model),
        jsonString(r.chipModel), jsonString(r.chipId), jsonString(r.firmware), r.clockHz, r.baud,
        jsonString(r.image), jsonString(r.checksum), jsonString(r.serial), options,
        jsonString(r.result), jsonString(r.message), r.durationMs);
}

std::string recordTimeNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    const long ms =
        static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return fmt::format("{:04d}-{:02d}-{:02d}T{:02d}:{:02d}:{:02d}.{:03d}Z", tm.tm_year + 1900,
                       tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

ProductionLog::~ProductionLog() {
    if (fd_ >= 0) ::close(fd_);
}

std::string ProductionLog::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return fmt::format("The production log {} cannot be opened: {} / 无法打开生产记录文件",
                           path, std::strerror(errno));
    return {};
}

std::string ProductionLog::append(const ChipRecord& record) {
    const std::string line = chipRecordJson(record);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0)
        return fmt::format("The production log {} is not open / 生产记录文件未打开", path_);
    for (;;) {
        const ssize_t n = ::write(fd_, line.data(), line.size());
        if (n == static_cast<ssize_t>(line.size())) return {};
        if (n < 0 && errno == EINTR) continue;
        // A short write (a full disk) leaves part of a line: end it so the next line stays
        // whole, and report the record as lost.
        const std::string why = n < 0 ? std::strerror(errno) : "the disk is full";
        if (n > 0) (void)!::write(fd_, "\n", 1);
        return fmt::format(
            "The production log {} could not be written ({}); this chip's record is missing. / "
            "生产记录写入失败",
            path_, why);
    }
}

}  // namespace qmx
