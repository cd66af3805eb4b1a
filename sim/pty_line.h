// The chip's end of the serial line: a pseudo-terminal master in packet mode, so that every
// termios change the host makes on the slave is reported, with the slave linked to a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qmxsim {

class PtyLine {
  public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Opens the pair, puts the slave in raw mode with EXTPROC, turns packet mode on and links the
    // slave to linkPath (replacing an old symbolic link there). False with error set on failure.
    bool open(const std::string& linkPath, std::string& error);
    // Closes both ends (the host's port hangs up) and removes the link.
    void close();
    bool isOpen() const { return master_ >= 0; }

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // The host's current baud rate.
    double hostRate() const;
    // Bytes the host has written that are not read yet.
    std::size_t pending() const;

    // One read from the master. Returns the number of data bytes stored in buf (at most cap);
    // a control packet instead sets control (TIOCPKT_* bits) and returns 0. -1 when nothing is
    // there, -2 when the line is gone.
    long read(std::uint8_t* buf, std::size_t cap, int& control);
    // Writes what the line takes; bytes that do not fit are lost, as on a line nobody reads.
    long write(const std::uint8_t* buf, std::size_t n);

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace qmxsim
