// The debug port: the serial port taken over to talk to a chip that runs the monitor. The
// monitor sends report frames (A5 5A, then AA, a big-endian length counting from AA to the
// checksum, the report type, its header, the values and an 8-bit checksum); the host answers
// each good frame with "P", asks again with "R" after a bad or broken one (at most three times
// per bad frame), and tells a paused program to go on with "T".
//
// The port runs as a long operation of its own: it receives until it is closed, until another
// operation takes the port over, or until the port vanishes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/session_state.h"
#include "monitor/debug_views.h"

namespace qmx {

class IspCore;

// The settings text of the debug port: "38400,N,8,1" from the four list texts (baud, parity,
// data bits, stop bits); blanks around each are dropped and the parity is its first letter.
std::string debugSettingsText(const std::string& baud, const std::string& parity,
                              const std::string& dataBits, const std::string& stopBits);

// Longest report frame taken (from AA through the checksum).
inline constexpr std::size_t kMaxReportLength = 1050;

// Assembles report frames from the bytes as they arrive.
class ReportReceiver {
  public:
    enum class Event {
        Frame,        // a complete frame whose checksum is right (frame() holds it)
        BadChecksum,  // a complete frame whose checksum is wrong
        Discarded,    // a length no report can have (too long, or too short to hold a type)
    };
    using Handler = std::function<void(Event, const std::vector<std::uint8_t>&)>;

    void feed(const std::uint8_t* data, std::size_t count, const Handler& handler);
    // Drops a frame in progress and hunts for the next preamble.
    void reset();
    // A preamble has been seen: a frame is on its way or being collected.
    bool inFrame() const { return state_ != State::Hunt && state_ != State::GotA5; }
    // Bytes of the frame collected so far (from AA on).
    const std::vector<std::uint8_t>& collected() const { return frame_; }

  private:
    enum class State { Hunt, GotA5, SeekAA, Collect };
    State state_ = State::Hunt;
    std::vector<std::uint8_t> frame_;
};

// The retry timer: after a bad frame, up to three "R" requests spaced by `interval`.
class RetryTimer {
  public:
    using Clock = std::chrono::steady_clock;
    explicit RetryTimer(std::chrono::milliseconds interval = std::chrono::milliseconds(150))
        : interval_(interval) {}
    // A bad frame: three requests from now on.
    void badFrame(Clock::time_point now);
    // A frame is arriving: no request meanwhile.
    void stop() { running_ = false; }
    // True when an "R" is due now (the count of requests left drops by one).
    bool tick(Clock::time_point now);
    bool running() const { return running_; }
    int left() const { return left_; }

  private:
    std::chrono::milliseconds interval_;
    Clock::time_point due_{};
    bool running_ = false;
    int left_ = 0;
};

// What the face hands the debug operation: where and how to open, and its live controls.
struct DebugPortRequest {
    std::string portPath;
    std::string settings = "38400,N,8,1";
    bool continueAtStart = false;  // send "T" once the port is open
    // Time after which a started frame that stopped arriving is given up (and asked again).
    std::chrono::milliseconds byteTimeout{500};
};

struct DebugPortControl {
    std::atomic<bool> close{false};        // end the operation (close, or another takes the port)
    std::atomic<bool> continueRun{false};  // the Continue button: reopen and send "T"
};

// What the debug operation tells its face, from the operation's thread.
struct DebugPortEvents {
    std::function<void()> opened;
    std::function<void(const DebugViews&, const ReportEffect&)> report;
    // Every good frame as received (AA through the checksum), before it is shown.
    std::function<void(const std::vector<std::uint8_t>&)> frame;
    std::function<void()> closed;
};

// The debug port operation: opens the port in debug mode, receives reports into `views` and
// answers them until control.close, the core's stop flag or a vanished port. A port that cannot
// be opened raises the box titled "  调试用串口     " and returns PortError.
Outcome runDebugPort(IspCore& core, const DebugPortRequest& request, DebugViews& views,
                     DebugPortControl& control, const DebugPortEvents& events = {});

}  // namespace qmx
