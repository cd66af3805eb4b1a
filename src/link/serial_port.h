// The raw serial port under SerialChannel: open, settings, read, write, queue counts and
// discards. TermiosPort is the Linux implementation (real adapters and pseudo-terminals);
// tests may put a scripted port in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qmx {

// A parsed settings text such as "1200,n,8,1".
struct PortSettings {
    long baud = 1200;
    char parity = 'n';  // n, e, o, m, s
    int dataBits = 8;   // 5..8
    int stopBits = 1;   // 1 or 2 (1.5 is taken as 2)

    // Parses "baud,parity,data,stop"; nullopt when the text is not a valid setting.
    static std::optional<PortSettings> parse(const std::string& text);
    // The canonical text form, e.g. "115200,n,8,1".
    std::string text() const;
};

enum class ModemLine { Dtr, Rts };

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Opens the device; 0 on success, else the errno of the failing call.
    virtual int open(const std::string& path, const PortSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Applies new line settings to the open port; false when the driver refuses them.
    virtual bool apply(const PortSettings& settings) = 0;

    // Writes what the driver takes now: bytes written (may be fewer), or -errno.
    virtual long write(const std::uint8_t* data, std::size_t count) = 0;
    // Reads what is waiting: bytes read, 0 when nothing waits, or -errno.
    virtual long read(std::uint8_t* data, std::size_t capacity) = 0;
    // Waits up to timeoutUs for input: 1 readable, 0 timed out or interrupted, -errno on a
    // port that failed (hang-up, vanished device).
    virtual int waitReadable(long timeoutUs) = 0;
    // Waits up to timeoutUs until the driver accepts more output: 1 yes, 0 no, -errno.
    virtual int waitWritable(long timeoutUs) = 0;

    // Bytes waiting in the driver's output and input queues (-1 when unknown).
    virtual int outQueue() = 0;
    virtual int inQueue() = 0;
    // Discards the driver's input and/or output queue.
    virtual void discard(bool input, bool output) = 0;

    // Why the last open failed, when there is more to say than its errno (the port is in use
    // by another process); empty otherwise.
    virtual std::string openFailureDetail() const { return {}; }

    // Drives a modem line, where the device has one; false when it has not. The level is held:
    // every later open of the port sets it again and a close leaves it as it is, so a target
    // powered through the line stays powered while the port is reopened at other rates.
    virtual bool setModemLine(ModemLine line, bool asserted) { return false; }
    // Asks the driver to pass received bytes on at once instead of after its latency timer
    // (USB adapters). Returns what was done, for the log: "on", "already on", or why not.
    virtual std::string requestLowLatency() { return "not supported by this port"; }
};

// The termios backend: O_NONBLOCK, exclusive, raw, no flow control, any baud rate.
std::unique_ptr<SerialPort> makeTermiosPort();

// True for the errno values that mean the device is gone (unplugged adapter, dead pty).
bool isVanishedError(int err);

}  // namespace qmx
