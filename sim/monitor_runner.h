// Runs the monitor personality on a line: after a monitor image's run command (the boot-loader
// runner hands its line over) or from the start with --personality monitor.
#pragma once

#include <cstdio>

#include "frames.h"
#include "monitor.h"
#include "pty_line.h"

namespace qmxsim {

// True when a chip's flash holds a monitor image: the reset vector jumps to 2200 and the patch
// code the host places at 2180 begins with one of its two known openings.
bool holdsMonitorImage(const Bytes& flash);

// Serves the monitor until a signal arrives on sigFd (SIGTERM, SIGINT) or the line is lost.
// Each frame and command is logged to `log` when it is not null. Returns the exit status.
int runMonitorOnLine(PtyLine& line, const MonitorConfig& config, std::FILE* log, int sigFd);

}  // namespace qmxsim
