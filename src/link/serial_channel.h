// SerialChannel: the one serial port through which the programmer talks to the chip's boot
// loader, the offline board, a user application's loader and the debug monitor. It owns the
// port settings, the transmit primitives with their running sums, the receive handler that
// assembles answer frames into the shared receive buffer, and the waits every protocol step
// uses.
//
// Waits run on the calling thread: they poll the port with short timeouts, feed arriving
// bytes to the receive handler, and end on their deadline, on the stop flag or when the port
// has vanished. Only the stop flag may be touched by another thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/serial_port.h"

namespace qmx {

class Ui;

// Boot-loader frame builders (host to chip). All return the complete bytes on the wire.
namespace frames {
// 46 B9 6A len(2) cmd payload sum 16; len counts 6A through the end byte.
std::vector<std::uint8_t> command(std::uint8_t cmd, const std::vector<std::uint8_t>& payload);
// The six bytes after the header of a short command (6A 00 06 code sum 16); empty for a code
// that is not one of 80, 81, 82, 95.
std::vector<std::uint8_t> shortCommandBody(std::uint8_t code);
// A user-command frame: 5A A5 00 08 code sumH sumL 16.
std::vector<std::uint8_t> userFrame(std::uint8_t code);
// The board-command frame: with crc, 46 B9 6A 00 09 code K P crcL crcH 16; without,
// 46 B9 6A 00 08 code K P sum 16.
std::vector<std::uint8_t> boardCommand(std::uint8_t code, std::uint8_t family, std::uint8_t param,
                                       bool crc);
// The status request 46 B9 6A 00 06 50 C0 16.
inline std::vector<std::uint8_t> statusRequest() {
    return command(0x50, {});
}
}  // namespace frames

class SerialChannel {
  public:
    static constexpr int kRxSize = 1101;

    SerialChannel();
    ~SerialChannel();
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // --- wiring (set once by the owner) ---
    // Where every byte sent and received is reported, and where the channel reports a port that
    // vanished. Both may be null.
    void setUi(Ui* ui) { ui_ = ui; }
    void setMessageSink(std::function<void(std::string_view)> sink) { message_ = std::move(sink); }
    // The stop flag every response wait reads (SessionState::stop_requested).
    void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
    // Replaces the port backend (tests); the default is the termios port.
    void setPort(std::unique_ptr<SerialPort> port);
    SerialPort* port() { return port_.get(); }

    // --- port handling ---
    std::string port_path;                // device path chosen by the user (the port list row)
    std::string settings = "1200,n,8,1";  // current settings text

    // Discards both queues and resets the byte-pacing estimate.
    void configure_port();
    // Closes, then opens `port_path` with `settings`. 0 when open afterwards, else the errno of
    // the failure (or -1).
    int open_port();
    // Closes the port (waiting for the output to leave first); returns whether it is still open.
    bool close_port();
    // Closes and opens again, retrying the open twice.
    void reopen_port();
    // Changes the settings text; false when the text is not a valid setting or the open port's
    // driver refuses it (the old settings then stay).
    bool set_settings(const std::string& text);
    bool is_open() const;
    // Reads and drops everything waiting, then resets the receiver.
    void flush_receive();
    void discard_input();
    void discard_output();
    void discard_both() {
        discard_input();
        discard_output();
    }
    int in_queue();
    int out_queue();
    // Sets DTR and RTS where the device has modem lines; false when it has none.
    bool set_modem_lines(bool dtr, bool rts) { return is_open() && port_->setModemLines(dtr, rts); }
    // The baud rate of the current settings text (0 when unparsable).
    long current_baud() const;
    // The errno of the last failed open (0 when the last open succeeded).
    int last_open_error() const { return last_open_error_; }
    // Why the last open failed and what fixes it (the group to join, the ports that exist,
    // the process that holds the port, not a serial device); empty after a successful open.
    std::vector<std::string> last_open_advice() const;
    // True once the port has failed underneath us (unplugged adapter); cleared by a successful
    // open. Every wait ends at once while it is set.
    bool vanished() const { return vanished_; }

    // --- timing ---
    // Waits n milliseconds while receiving; does not look at the stop flag. 0 returns at once.
    void wait_ms(int n);
    // Waits up to ms for `frame_ready`, ending early on the stop flag or a vanished port.
    // Returns frame_ready.
    bool wait_response(int ms);
    // Waits up to ms until pred() holds, the stop flag is set or the port vanished; returns
    // pred(). The receive handler runs throughout.
    bool wait_until(int ms, const std::function<bool()>& pred);
    // One turn of event processing: takes in whatever has arrived, without blocking.
    void yield_once();
    // Waits (receiving) until the transmit queue and the line are empty.
    void wait_tx_empty();
    bool stop_requested() const { return stop_ && stop_->load(); }

    // --- transmit ---
    int tx_sum = 0;     // running sum of send_byte, 0..255
    int paced_sum = 0;  // running sum of send_paced_byte, 0..255

    // tx_sum += value; waits until the queue is empty, waits `delay` ms, writes the byte.
    void send_byte(std::uint8_t value, int delay = 0);
    // Writes tx_sum once the queue is empty.
    void send_sum();
    // A whole boot-loader command frame byte by byte, each byte preceded by `delay` ms
    // (the sum excepted; the two header bytes by `headerDelay`, -1 = the same as `delay`).
    // Arms the receiver and clears frame_ready.
    void send_command_frame(std::uint8_t cmd, const std::vector<std::uint8_t>& payload,
                            int delay = 0, int headerDelay = -1);
    // One of the one-byte commands 80, 81, 82, 95; 0 when sent, -1 otherwise.
    int send_short_command(std::uint8_t code);
    // A user-command frame after a 20 ms pause, in one write.
    void send_user_frame(std::uint8_t code);
    // Writes the bytes in one write (fast-mode frames, sync blocks, board frames).
    bool write_bytes(const std::uint8_t* data, std::size_t count);
    bool write_bytes(const std::vector<std::uint8_t>& bytes) {
        return write_bytes(bytes.data(), bytes.size());
    }

    // --- paced transmit (block writes) ---
    // The pacing unit is the microsecond: loops_per_ms is 1000 and a gap of n "loops" sleeps
    // n microseconds, so pace_loops keeps its formula (about six bit times per byte).
    long loops_per_ms = 1000;
    long pace_loops = 5;
    double baud_error_percent = 0;  // last baud error chosen by the baud search

    // Time spent in the paced gaps so far (benchmarks count it as protocol time).
    std::chrono::microseconds paced_gap_total{0};

    void calibrate_loops();
    void compute_pacing(const std::string& settingsText);
    void send_paced_byte(std::uint8_t value, long loops);
    void send_paced_sum();
    // The end byte of a paced frame, after the full gap. Whatever arrived before it is dropped
    // and the receiver armed afresh: the chip answers a frame only once it has its end byte, so
    // anything older is an answer to some earlier frame and must not confirm this one.
    void send_paced_end(std::uint8_t value);
    // Receives and drops bytes until none has arrived for quietMs (giving up after maxMs or on
    // the stop flag), then resets the receiver. True when the line fell quiet.
    bool wait_quiet(int quietMs, int maxMs);

    // --- receive ---
    std::array<std::uint8_t, kRxSize> rx_buffer{};
    int rx_count = 0;
    bool frame_ready = false;
    bool frame_error = false;
    bool receive_armed = false;
    bool header_expected = false;
    bool header_46_seen = false;
    bool header_B9_seen = false;
    bool crc_check = false;
    bool user_command_mode = false;
    bool user_frame_ready = false;
    bool debug_mode = false;
    // Receives the bytes while in debug mode (the debug monitor's parser).
    std::function<void(const std::uint8_t*, std::size_t)> debug_sink;

    // rx_count and a copy of rx_buffer.
    int get_received(std::array<std::uint8_t, kRxSize>& copy) const {
        copy = rx_buffer;
        return rx_count;
    }
    // Clears rx_count, frame_ready, user_frame_ready and both header flags.
    void reset_receiver();

    // The receive handler: consumes the bytes that have arrived (see feed) in the current mode.
    void on_receive();
    // Hands received bytes to the receive handler as if they had arrived on the port (also
    // used by tests and fuzzing).
    void feed(const std::uint8_t* data, std::size_t count);
    // Bytes taken from the port but not yet consumed by the handler.
    std::size_t pending() const { return pending_.size() - pendingPos_; }

  private:
    using Clock = std::chrono::steady_clock;

    // Polls the port until `deadline` (or once when the deadline has passed), feeding arrivals
    // to the handler; returns early when something arrived and `returnOnInput` is set.
    void pump(Clock::time_point deadline, bool returnOnInput);
    void readAvailable();
    void pacedGap(long loops);
    void markVanished(int err);
    void noteSent(std::size_t count);
    void boot_loader_receive();
    void user_command_receive();
    void check_boot_frame();

    std::unique_ptr<SerialPort> port_;
    Ui* ui_ = nullptr;
    std::function<void(std::string_view)> message_;
    const std::atomic<bool>* stop_ = nullptr;
    std::vector<std::uint8_t> pending_;
    std::size_t pendingPos_ = 0;
    int last_open_error_ = 0;
    bool vanished_ = false;
    Clock::time_point lineBusyUntil_{};
};

}  // namespace qmx
