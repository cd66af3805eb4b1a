#include "link/port_advice.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include <fmt/core.h>

#include "link/port_list.h"

namespace qmx {

namespace {

std::string processName(pid_t pid) {
    std::ifstream in(fmt::format("/proc/{}/comm", pid));
    std::string name;
    std::getline(in, name);
    return name;
}

std::vector<std::string> permissionAdvice(const std::string& path) {
    const std::string group = deviceGroup(path);
    if (group.empty() || group == "root") {
        return {
            fmt::format("Permission denied on {}: ask for read and write access to it. / "
                        "没有打开 {} 的权限。",
                        path, path)};
    }
    return {
        fmt::format("Permission denied on {} (group {}): add yourself to group {}, then log "
                    "in again (sudo usermod -aG {} $USER). / 没有打开 {} 的权限: 请把自己加入"
                    "用户组 {}, 然后重新登录。",
                    path, group, group, group, path, group)};
}

std::vector<std::string> missingAdvice(const std::string& path) {
    std::vector<PortInfo> ports;
    std::string error;
    std::string found;
    if (listSerialPorts(ports, error)) {
        for (const PortInfo& p : ports)
            found += (found.empty() ? "" : ", ") + p.path;
    }
    std::vector<std::string> lines{
        fmt::format("There is no serial port {}. / 串口 {} 不存在。", path, path)};
    if (found.empty())
        lines.push_back("No serial port is plugged in. / 没有找到串口。");
    else
        lines.push_back(fmt::format("Ports that exist: {} / 现有串口: {}", found, found));
    return lines;
}

}  // namespace

std::string deviceGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    const struct group* g = ::getgrgid(st.st_gid);
    return g ? std::string(g->gr_name) : std::string();
}

std::string busyPortLine(pid_t holder) {
    if (holder <= 0) return "COM port in use by another program. / 串口正被其它程序使用。";
    const std::string name = processName(holder);
    const std::string who =
        name.empty() ? fmt::format("{}", holder) : fmt::format("{} ({})", holder, name);
    return fmt::format("COM port in use by process {}. / 串口正被进程 {} 使用。", who, who);
}

std::vector<std::string> openFailureAdvice(const std::string& path, int err) {
    switch (err) {
        case EACCES:
        case EPERM:
            return permissionAdvice(path);
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return missingAdvice(path);
        case EBUSY:
            return {busyPortLine(0)};
        case ENOTTY:
        case EISDIR:
        case EINVAL:
            return {fmt::format("{} is not a serial device. / {} 不是串口设备。", path, path)};
        default:
            return {};
    }
}

}  // namespace qmx
