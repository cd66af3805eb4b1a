// Advisory locks on a serial device, so that two programs never drive one port at once: a
// `flock` on the open descriptor, and the UUCP lock file in /run/lock (LCK..name holding the
// owner's process id) where that folder is writable. Both are advisory, so they also stop a
// second program run as root, which the terminal's exclusive mode does not. A lock file whose
// process is gone, or whose process id now belongs to a process started after the file was
// written, is left over and taken over.
#pragma once

#include <sys/types.h>

#include <string>

namespace qmx {

class PortLock {
  public:
    PortLock() = default;
    ~PortLock() { release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Locks the device opened as `fd` from `path`. 0 on success; EBUSY when another process
    // holds the port (holder() then names it when it can be found).
    int acquire(int fd, const std::string& path);
    // Removes our lock file; the flock goes with the descriptor's close.
    void release();
    pid_t holder() const { return holder_; }

    // The UUCP lock file name for a device path: the path below /dev with '/' as '_'
    // ("/dev/ttyUSB0" → "LCK..ttyUSB0", "/dev/pts/3" → "LCK..pts_3").
    static std::string lockFileName(const std::string& devicePath);
    // The lock file of a device named by any path (symbolic links resolved).
    static std::string lockFilePath(const std::string& path);
    // The process that holds the port, from its lock file or its flock; 0 when unknown.
    static pid_t holderOf(const std::string& path);

  private:
    int takeLockFile(const std::string& file);
    std::string lockFile_;
    pid_t holder_ = 0;
};

// The lock folder; tests may point it elsewhere.
void setPortLockDir(const std::string& dir);

}  // namespace qmx
