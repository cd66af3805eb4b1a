#include "pty_line.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host_rate.h"

namespace qmxsim {

PtyLine::~PtyLine() {
    close();
}

bool PtyLine::open(const std::string& linkPath, std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("cannot unlock the pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = "cannot name the pseudo-terminal";
        close();
        return false;
    }
    slavePath_ = name;
    // Holding the slave open keeps the line alive while the host closes and reopens its port.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        close();
        return false;
    }
    struct termios t {};
    if (tcgetattr(slave_, &t) == 0) {
        cfmakeraw(&t);
        t.c_lflag |= EXTPROC;  // every termios change of the host becomes a packet on the master
        cfsetispeed(&t, B1200);
        cfsetospeed(&t, B1200);
        tcsetattr(slave_, TCSANOW, &t);
    }
    int on = 1;
    if (::ioctl(master_, TIOCPKT, &on) != 0) {
        error = std::string("cannot set packet mode: ") + std::strerror(errno);
        close();
        return false;
    }

    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = linkPath + " exists and is not a symbolic link; not replacing it";
            close();
            return false;
        }
        ::unlink(linkPath.c_str());
    }
    if (::symlink(name, linkPath.c_str()) != 0) {
        error = "cannot link " + linkPath + ": " + std::strerror(errno);
        close();
        return false;
    }
    linkPath_ = linkPath;
    return true;
}

void PtyLine::close() {
    if (!linkPath_.empty()) {
        // Only remove the link if it still names our terminal.
        char target[256] = {};
        const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && slavePath_ == std::string(target, static_cast<std::size_t>(n))) {
            ::unlink(linkPath_.c_str());
        }
        linkPath_.clear();
    }
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

double PtyLine::hostRate() const {
    return master_ >= 0 ? terminalRate(master_) : 0;
}

std::size_t PtyLine::pending() const {
    int n = 0;
    if (master_ < 0 || ::ioctl(master_, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<std::size_t>(n);
}

long PtyLine::read(std::uint8_t* buf, std::size_t cap, int& control) {
    control = 0;
    if (master_ < 0) return -2;
    std::uint8_t tmp[4097];
    if (cap > sizeof tmp - 1) cap = sizeof tmp - 1;
    const ssize_t n = ::read(master_, tmp, cap + 1);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return -1;
        return errno == EIO ? -1 : -2;  // EIO: no slave open at this moment
    }
    if (n == 0) return -1;
    if (tmp[0] != 0) {  // TIOCPKT_DATA is 0; anything else is a control packet
        control = tmp[0];
        return 0;
    }
    std::memcpy(buf, tmp + 1, static_cast<std::size_t>(n - 1));
    return n - 1;
}

long PtyLine::write(const std::uint8_t* buf, std::size_t n) {
    if (master_ < 0) return -1;
    const ssize_t w = ::write(master_, buf, n);
    return w < 0 ? -1 : w;
}

}  // namespace qmxsim
