// Kept apart: <asm/termbits.h> (termios2, TCGETS2) cannot share a translation unit with
// <termios.h>.
#include "host_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace qmxsim {

namespace {

double tableRate(unsigned code) {
    switch (code) {
        case B50:
            return 50;
        case B75:
            return 75;
        case B110:
            return 110;
        case B134:
            return 134;
        case B150:
            return 150;
        case B200:
            return 200;
        case B300:
            return 300;
        case B600:
            return 600;
        case B1200:
            return 1200;
        case B1800:
            return 1800;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return 0;
    }
}

}  // namespace

double terminalRate(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    if (t.c_ospeed != 0) return static_cast<double>(t.c_ospeed);
    return tableRate(t.c_cflag & CBAUD);
}

}  // namespace qmxsim
