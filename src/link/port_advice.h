// Why a serial port could not be opened, in words that name the fix: the group to join for a
// device the user may not open, the ports that do exist for a path that does not, the process
// that holds a busy port, or that the path is no serial device at all.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qmx {

// The advice lines for an open of `path` that failed with `err` (an errno value); empty when
// there is nothing more to say than the open failure itself.
std::vector<std::string> openFailureAdvice(const std::string& path, int err);

// The line for a port held by another process: its id and, where /proc tells it, its name.
std::string busyPortLine(pid_t holder);

// The name of the group that owns the file at `path`; empty when it cannot be found.
std::string deviceGroup(const std::string& path);

}  // namespace qmx
