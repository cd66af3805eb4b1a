// The Linux serial port: termios2 through ioctl so that any baud rate can be set (BOTHER),
// which the classic cfsetospeed interface cannot do for rates such as 11520 or 14400.
// This file includes the kernel's termbits and therefore never <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <fmt/core.h>
#include "link/port_advice.h"

#include "link/port_lock.h"
#include "link/serial_port.h"

namespace qmx {

bool isVanishedError(int err) {
    return err == EIO || err == ENXIO || err == ENODEV;
}

namespace {

class TermiosPort final : public SerialPort {
  public:
    ~TermiosPort() override { close(); }

    int open(const std::string& path, const PortSettings& settings) override {
        close();
        detail_.clear();
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno ? errno : -1;
            if (err == EBUSY) noteBusy(PortLock::holderOf(path));
            return err;
        }
        if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
            int err = errno;
            ::close(fd);
            return err;
        }
        // The advisory locks stop a second program even where exclusive mode does not (root).
        if (lock_.acquire(fd, path) != 0) {
            noteBusy(lock_.holder());
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);
            return EBUSY;
        }
        fd_ = fd;
        unsent_ = false;  // a close lets the driver send what it held
        if (!apply(settings)) {
            int err = errno ? errno : EINVAL;
            close();
            return err;
        }
        // Opening raises DTR and RTS; a line that switches the target's power goes back at once.
        for (int i = 0; i < 2; ++i)
            if (held_[i]) driveLine(i == 0 ? ModemLine::Dtr : ModemLine::Rts, *held_[i]);
        // Nothing is discarded here: bytes written before a close and reopen (a rate test's
        // frame) may not have left yet, and the far end must still get them.
        return 0;
    }

    void close() override {
        if (fd_ < 0) return;
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
        lock_.release();
    }

    std::string openFailureDetail() const override { return detail_; }

    bool isOpen() const override { return fd_ >= 0; }

    bool apply(const PortSettings& s) override {
        if (fd_ < 0) return false;
        struct termios2 tio {};
        if (::ioctl(fd_, TCGETS2, &tio) != 0) return false;
        // Raw: no input processing, no output processing, no echo, no signals.
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR |
                                              CBAUD | (CBAUD << IBSHIFT));
        tio.c_cflag |= CREAD | CLOCAL;
        switch (s.dataBits) {
            case 5:
                tio.c_cflag |= CS5;
                break;
            case 6:
                tio.c_cflag |= CS6;
                break;
            case 7:
                tio.c_cflag |= CS7;
                break;
            default:
                tio.c_cflag |= CS8;
                break;
        }
        switch (s.parity) {
            case 'e':
                tio.c_cflag |= PARENB;
                break;
            case 'o':
                tio.c_cflag |= PARENB | PARODD;
                break;
            case 'm':
                tio.c_cflag |= PARENB | PARODD | CMSPAR;
                break;
            case 's':
                tio.c_cflag |= PARENB | CMSPAR;
                break;
            default:
                break;
        }
        if (s.stopBits >= 2) tio.c_cflag |= CSTOPB;
        // A held modem line must survive a close: no hang-up (lines dropped) on the last close.
        if (held_[0] || held_[1]) tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
        tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
        tio.c_ispeed = static_cast<speed_t>(s.baud);
        tio.c_ospeed = static_cast<speed_t>(s.baud);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        return ::ioctl(fd_, TCSETS2, &tio) == 0;
    }

    long write(const std::uint8_t* data, std::size_t count) override {
        if (fd_ < 0) return -EBADF;
        ssize_t n = ::write(fd_, data, count);
        if (n > 0) unsent_ = true;
        if (n >= 0) return n;
        if (errno == EAGAIN || errno == EINTR) return 0;
        return -errno;
    }

    long read(std::uint8_t* data, std::size_t capacity) override {
        if (fd_ < 0) return -EBADF;
        ssize_t n = ::read(fd_, data, capacity);
        if (n > 0) return n;
        if (n == 0) return 0;
        if (errno == EAGAIN || errno == EINTR) return 0;
        return -errno;
    }

    int waitReadable(long timeoutUs) override { return waitFor(POLLIN, timeoutUs); }
    int waitWritable(long timeoutUs) override { return waitFor(POLLOUT, timeoutUs); }

    int outQueue() override {
        int n = 0;
        if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &n) != 0) return -1;
        if (n == 0) unsent_ = false;
        return n;
    }
    int inQueue() override {
        int n = 0;
        if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0) return -1;
        return n;
    }

    void discard(bool input, bool output) override {
        if (fd_ < 0) return;
        // A send queue already seen empty holds nothing to discard. Flushing it anyway is
        // harmless on an adapter, but on a pseudo-terminal it also throws away bytes the far end
        // has not read yet (a user code sent and drained just before a reopen, on a busy PC).
        output = output && unsent_;
        if (output) unsent_ = false;
        if (input && output)
            ::ioctl(fd_, TCFLSH, TCIOFLUSH);
        else if (input)
            ::ioctl(fd_, TCFLSH, TCIFLUSH);
        else if (output)
            ::ioctl(fd_, TCFLSH, TCOFLUSH);
    }

    bool setModemLine(ModemLine line, bool asserted) override {
        if (fd_ < 0 || !driveLine(line, asserted)) return false;
        const bool wasHeld = held_[0] || held_[1];
        held_[line == ModemLine::Dtr ? 0 : 1] = asserted;
        if (!wasHeld) {
            struct termios2 tio {};
            if (::ioctl(fd_, TCGETS2, &tio) == 0) {
                tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
                ::ioctl(fd_, TCSETS2, &tio);
            }
        }
        return true;
    }

    std::string requestLowLatency() override {
        if (fd_ < 0) return "the port is not open";
        struct serial_struct ss {};
        if (::ioctl(fd_, TIOCGSERIAL, &ss) != 0)
            return errno == ENOTTY || errno == EINVAL ? "not supported by this port"
                                                      : fmt::format("not read: {}", errnoText());
        if (ss.flags & ASYNC_LOW_LATENCY) return "already on";
        ss.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd_, TIOCSSERIAL, &ss) != 0)
            return fmt::format("refused by the driver: {}", errnoText());
        return "on";
    }

  private:
    static std::string errnoText() { return std::strerror(errno); }

    bool driveLine(ModemLine line, bool asserted) {
        const int bit = line == ModemLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
        return ::ioctl(fd_, asserted ? TIOCMBIS : TIOCMBIC, &bit) == 0;
    }

    int waitFor(short events, long timeoutUs) {
        if (fd_ < 0) return -EBADF;
        struct pollfd p {
            fd_, events, 0
        };
        struct timespec ts {
            timeoutUs / 1000000, (timeoutUs % 1000000) * 1000
        };
        int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r < 0) return errno == EINTR ? 0 : -errno;
        if (r == 0) return 0;
        if (p.revents & POLLNVAL) return -EBADF;
        if (p.revents & events) return 1;
        if (p.revents & (POLLHUP | POLLERR)) {
            // A hang-up with nothing to read: the device or the far end is gone. Confirm with a
            // read so that a pty whose master merely closed its side reports EIO.
            if (events & POLLIN) {
                std::uint8_t probe;
                ssize_t n = ::read(fd_, &probe, 0);
                if (n < 0 && errno != EAGAIN) return -errno;
            }
            return -EIO;
        }
        return 0;
    }

    void noteBusy(pid_t holder) { detail_ = busyPortLine(holder); }

    int fd_ = -1;
    std::optional<bool> held_[2];  // DTR, RTS levels to keep across reopens
    bool unsent_ = false;          // written since the send queue was last seen empty
    PortLock lock_;
    std::string detail_;
};

}  // namespace

std::unique_ptr<SerialPort> makeTermiosPort() {
    return std::make_unique<TermiosPort>();
}

}  // namespace qmx
