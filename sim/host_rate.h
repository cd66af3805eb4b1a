// The baud rate the host set on its end of the pseudo-terminal.
#pragma once

namespace qmxsim {

// Output speed of the terminal behind fd (for a pseudo-terminal master: the slave's, i.e. the
// host's). Reads termios2, so any rate set with BOTHER is seen exactly. 0 when it cannot be read.
double terminalRate(int fd);

}  // namespace qmxsim
