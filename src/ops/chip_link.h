// ChipLink: the few channel operations the programming steps use, behind one small interface.
// The real one drives the core's SerialChannel and the connect step; unit tests put a scripted
// chip behind it. All waits poll and end early when the session's stop flag is set.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "link/op_result.h"
#include "link/wire_format.h"

namespace qmx {

class IspCore;

class ChipLink {
  public:
    virtual ~ChipLink() = default;

    // The connect step (handshake, baud switch, status, model check); sets `connected` when
    // it succeeds.
    virtual OpResult connectChip(bool statusOnly) = 0;
    // The status request with or without byte delays; true when the chip answered
    // (the answer is then readable through answer()).
    virtual bool readStatus(bool byteDelays) = 0;

    virtual void reopenPort() = 0;
    virtual void closePort() = 0;
    // Drop everything waiting in the input queue and reset the receiver (frame_ready false).
    virtual void flushReceive() = 0;
    // Empty the input and output queues of the port.
    virtual void discardQueues() = 0;
    // receive_armed = true: answers are assembled from now on.
    virtual void armReceive() = 0;
    // A plain delay; does not look at the stop flag.
    virtual void waitMs(int ms) = 0;

    // One boot-loader command frame byte by byte: the header (each byte after headerDelayMs),
    // then the body (6A through the last payload byte, each after byteDelayMs), the sum and
    // the end byte (after byteDelayMs).
    virtual void sendCommand(const wire::Frame& frame, int byteDelayMs, int headerDelayMs) = 0;
    // One paced block frame: the header at once, then the body with the short pacing gap when
    // fast and the full gap otherwise, then the paced sum and the end byte with the full gap.
    // Only an answer that arrives after the end byte can confirm it.
    virtual void sendBlockFrame(const wire::Frame& frame, bool fast) = 0;
    // After a frame that was not confirmed: lets whatever answer is still on its way arrive and
    // go, until the line has been quiet a moment (at most maxMs), so it cannot be taken for the
    // answer to the next frame.
    virtual void waitLineQuiet(int maxMs) { (void)maxMs; }
    // One of the four short commands (Continue, ShortF1, Stop, Short95); true when sent, false
    // (and nothing sent) for any other command or a port that cannot be opened.
    virtual bool sendShortCommand(wire::Command command) = 0;
    // Bytes written as they are, in one write.
    virtual void writeRaw(std::span<const std::uint8_t> bytes) = 0;

    // Response wait: ends on an answer, the stop flag or after timeoutMs; true on an answer.
    virtual bool waitAnswer(int timeoutMs) = 0;
    virtual bool frameReady() const = 0;
    virtual void clearFrameReady() = 0;
    // The answer frame as received (68 ... 16).
    virtual std::vector<std::uint8_t> answer() const = 0;

    // The baud rate of the port's current settings.
    virtual long baud() const = 0;
    // The port vanished (unplugged adapter) or could not be opened during the session.
    virtual bool portLost() const = 0;
    // The receiver assembles user-command (5A A5) frames instead of boot-loader frames.
    virtual bool userCommandMode() const { return false; }
    // Stop the connection-hint timer.
    virtual void stopHints() {}
};

// The link over the core's serial channel.
std::unique_ptr<ChipLink> makeChannelLink(IspCore& core);

}  // namespace qmx
