#include "link/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qmx {

namespace {

std::string& lockDir() {
    static std::string dir = "/run/lock";
    return dir;
}

bool processAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// When the machine started, in seconds since the epoch, or -1 when unknown.
long long bootTime() {
    std::ifstream procStat("/proc/stat");
    std::string key;
    long long seconds = -1;
    while (procStat >> key)
        if (key == "btime" && procStat >> seconds) return seconds;
    return -1;
}

// When a process started, in seconds since the epoch (from /proc), or -1 when unknown.
double processStartTime(pid_t pid) {
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(statFile, stat);
    // The command name in parentheses may hold blanks: count the fields after its end.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)  // field 22: the start time, in clock ticks after boot
        if (!(fields >> field)) return -1;
    const long ticks = ::sysconf(_SC_CLK_TCK);
    const long long boot = bootTime();
    if (boot < 0 || ticks <= 0) return -1;
    return static_cast<double>(boot) +
           std::strtod(field.c_str(), nullptr) / static_cast<double>(ticks);
}

// Whether the live process `pid` is the one that wrote the lock file. Process ids are reused:
// a lock file left by a program that was killed may name an unrelated process started later,
// which cannot have written it. (The boot time has whole seconds: allow two.)
bool wroteLockFile(pid_t pid, const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return true;
    const double started = processStartTime(pid);
    return started < 0 || started <= static_cast<double>(st.st_mtime) + 2;
}

// The process id written in a lock file (ASCII, as UUCP programs write it), 0 when unreadable.
pid_t pidInLockFile(const std::string& file) {
    std::ifstream in(file);
    long pid = 0;
    if (!(in >> pid) || pid <= 0 || pid > INT_MAX) return 0;
    return static_cast<pid_t>(pid);
}

// The process holding a flock on the device (from /proc/locks), 0 when not found.
pid_t flockHolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string num, kind, mode, access, devIno;
        long pid = 0;
        if (!(f >> num >> kind)) continue;
        if (kind == "->") f >> kind;
        if (kind != "FLOCK" || !(f >> mode >> access >> pid >> devIno)) continue;
        unsigned maj = 0, min = 0;
        unsigned long ino = 0;
        if (std::sscanf(devIno.c_str(), "%x:%x:%lu", &maj, &min, &ino) != 3) continue;
        if (ino == st.st_ino && maj == major(st.st_dev) && min == minor(st.st_dev) && pid > 0 &&
            pid != ::getpid())
            return static_cast<pid_t>(pid);
    }
    return 0;
}

}  // namespace

void setPortLockDir(const std::string& dir) {
    lockDir() = dir;
}

std::string PortLock::lockFileName(const std::string& devicePath) {
    std::string name = devicePath;
    if (name.rfind("/dev/", 0) == 0) name.erase(0, 5);
    for (char& c : name)
        if (c == '/') c = '_';
    return "LCK.." + name;
}

int PortLock::takeLockFile(const std::string& file) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[16];
            const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
            const bool written = ::write(fd, text, static_cast<std::size_t>(n)) == n;
            ::close(fd);
            if (!written) {
                ::unlink(file.c_str());
                return 0;  // a lock file we cannot fill is no lock; flock still guards
            }
            lockFile_ = file;
            return 0;
        }
        if (errno != EEXIST) return 0;  // folder not writable: the flock alone guards
        const pid_t pid = pidInLockFile(file);
        if (pid == ::getpid()) return 0;  // ours already (a reopen)
        if (processAlive(pid) && wroteLockFile(pid, file)) {
            holder_ = pid;
            return EBUSY;
        }
        ::unlink(file.c_str());  // left behind by a process that is gone
    }
    return 0;
}

std::string PortLock::lockFilePath(const std::string& path) {
    char real[PATH_MAX];
    const std::string device = ::realpath(path.c_str(), real) ? std::string(real) : path;
    return lockDir() + "/" + lockFileName(device);
}

pid_t PortLock::holderOf(const std::string& path) {
    const std::string file = lockFilePath(path);
    const pid_t inFile = pidInLockFile(file);
    if (inFile != ::getpid() && processAlive(inFile) && wroteLockFile(inFile, file)) return inFile;
    return flockHolder(path);
}

int PortLock::acquire(int fd, const std::string& path) {
    release();
    holder_ = 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return 0;  // the device takes no flock: nothing to check
        holder_ = holderOf(path);
        return EBUSY;
    }
    const std::string file = lockFilePath(path);
    if (::access(lockDir().c_str(), W_OK) != 0) return 0;
    const int rc = takeLockFile(file);
    if (rc != 0) ::flock(fd, LOCK_UN);
    return rc;
}

void PortLock::release() {
    if (lockFile_.empty()) return;
    if (pidInLockFile(lockFile_) == ::getpid()) ::unlink(lockFile_.c_str());
    lockFile_.clear();
}

}  // namespace qmx
