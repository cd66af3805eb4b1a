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

#include "link/frame_receiver.h"
#include "link/pacing.h"
#include "link/serial_port.h"
#include "link/wire_format.h"

namespace qmx {

class Ui;

class SerialChannel {
  public:
    static constexpr int kRxSize = FrameReceiver::kSize;

    SerialChannel();
    ~SerialChannel();
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // --- wiring (set once by the owner) ---
    // Where every byte sent and received is reported, and where the channel reports a port that
    // vanished. Both may be null. The core object keeps the face in step with its own.
    void setUi(Ui* ui) { ui_ = ui; }
    void setMessageSink(std::function<void(std::string_view)> sink) { message_ = std::move(sink); }
    // The stop flag every response wait reads (SessionState::stop_requested).
    void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
    // Replaces the port backend (tests); the default is the termios port.
    void setPort(std::unique_ptr<SerialPort> port);
    SerialPort* port() { return port_.get(); }

    // --- port handling ---
    // The device path chosen by the user (the port list row).
    const std::string& port_path() const { return portPath_; }
    void set_port_path(const std::string& path) { portPath_ = path; }
    // The current settings text.
    const std::string& settings() const { return settings_; }
    // Takes a settings text for the next open as it is, without touching an open port; a text
    // that is not a valid setting makes that open fail.
    void set_settings_for_next_open(const std::string& text) { settings_ = text; }

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
    // Drives DTR or RTS and holds that level across reopens; false when the port has no such
    // line (a pseudo-terminal) or is not open.
    bool hold_modem_line(ModemLine line, bool asserted) {
        return is_open() && port_->setModemLine(line, asserted);
    }
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
    int tx_sum() const { return txSum_; }        // running sum of send_byte, 0..255
    int paced_sum() const { return pacedSum_; }  // running sum of send_paced_byte, 0..255

    // tx_sum += value; waits until the queue is empty, waits `delay` ms, writes the byte.
    void send_byte(std::uint8_t value, int delay = 0);
    // Writes tx_sum once the queue is empty.
    void send_sum();
    // A whole host frame byte by byte, each byte preceded by `delay` ms (the check excepted;
    // the two header bytes by `headerDelay`, -1 = the same as `delay`). Arms the receiver and
    // clears frame_ready once the header is out.
    void send_frame(const wire::Frame& frame, int delay = 0, int headerDelay = -1);
    // One of the short commands (Continue, ShortF1, Stop, Short95); true when sent. Any other
    // command, or a port that cannot be opened, returns false before a byte goes out.
    bool send_short_command(wire::Command command);
    // A user-command frame after a 20 ms pause, in one write.
    void send_user_frame(std::uint8_t code);
    // Writes the bytes in one write (fast-mode frames, sync blocks, board frames).
    bool write_bytes(const std::uint8_t* data, std::size_t count);
    bool write_bytes(const std::vector<std::uint8_t>& bytes) {
        return write_bytes(bytes.data(), bytes.size());
    }

    // --- paced transmit (block writes) ---
    Pacing& pacing() { return pacing_; }
    const Pacing& pacing() const { return pacing_; }
    void calibrate_loops() { pacing_.calibrate(); }
    void compute_pacing(const std::string& settingsText) { pacing_.compute(settingsText); }
    void send_paced_byte(std::uint8_t value, long loops);
    void send_paced_sum();
    // The end byte of a paced frame, after the full gap. Whatever arrived before it is dropped
    // and the receiver armed afresh: the chip answers a frame only once it has its end byte, so
    // anything older is an answer to some earlier frame and must not confirm this one.
    void send_paced_end(std::uint8_t value);
    // A programming block: the header, then the body with the pacing gap (fast: header and
    // body in one write, the port's own queue pacing them), then the check and the end byte,
    // each after the full gap (a loader may use that pause to check the data).
    void send_paced_frame(const wire::Frame& frame, bool fast);
    // Receives and drops bytes until none has arrived for quietMs (giving up after maxMs or on
    // the stop flag), then resets the receiver. True when the line fell quiet.
    bool wait_quiet(int quietMs, int maxMs);

    // --- receive (the state is the receiver's) ---
    const FrameReceiver& receiver() const { return rx_; }
    const std::array<std::uint8_t, kRxSize>& rx_buffer() const { return rx_.buffer(); }
    int rx_count() const { return rx_.count(); }
    void clear_rx_count() { rx_.clear_count(); }
    bool frame_ready() const { return rx_.frame_ready(); }
    void set_frame_ready(bool on) { rx_.set_frame_ready(on); }
    bool frame_error() const { return rx_.frame_error(); }
    void set_frame_error(bool on) { rx_.set_frame_error(on); }
    bool user_frame_ready() const { return rx_.user_frame_ready(); }
    void set_user_frame_ready(bool on) { rx_.set_user_frame_ready(on); }
    bool header_46_seen() const { return rx_.header_46_seen(); }
    bool header_B9_seen() const { return rx_.header_B9_seen(); }
    void clear_header_search() { rx_.clear_header_search(); }
    bool receive_armed() const { return rx_.receive_armed(); }
    void set_receive_armed(bool on) { rx_.set_receive_armed(on); }
    bool header_expected() const { return rx_.header_expected(); }
    void set_header_expected(bool on) { rx_.set_header_expected(on); }
    bool crc_check() const { return rx_.crc_check(); }
    void set_crc_check(bool on) { rx_.set_crc_check(on); }
    bool user_command_mode() const { return rx_.user_command_mode(); }
    void set_user_command_mode(bool on) { rx_.set_user_command_mode(on); }
    bool debug_mode() const { return rx_.debug_mode(); }
    void set_debug_mode(bool on) { rx_.set_debug_mode(on); }
    // Receives the bytes while in debug mode (the debug monitor's parser).
    void set_debug_sink(FrameReceiver::DebugSink sink) { rx_.set_debug_sink(std::move(sink)); }

    // Clears rx_count, frame_ready, user_frame_ready and both header flags.
    void reset_receiver() { rx_.reset(); }

    // The receive handler: consumes the bytes that have arrived (see feed) in the current mode.
    void on_receive();
    // Hands received bytes to the receive handler as if they had arrived on the port (also
    // used by tests and fuzzing).
    void feed(const std::uint8_t* data, std::size_t count);
    // Bytes taken from the port but not yet consumed by the handler.
    std::size_t pending() const { return rx_.pending(); }

  private:
    using Clock = std::chrono::steady_clock;

    // Polls the port until `deadline` (or once when the deadline has passed), feeding arrivals
    // to the handler; returns early when something arrived and `returnOnInput` is set.
    void pump(Clock::time_point deadline, bool returnOnInput);
    void readAvailable();
    void markVanished(int err);
    void noteSent(std::size_t count);

    std::unique_ptr<SerialPort> port_;
    Ui* ui_ = nullptr;
    std::function<void(std::string_view)> message_;
    const std::atomic<bool>* stop_ = nullptr;
    std::string portPath_;
    std::string settings_ = "1200,n,8,1";
    int txSum_ = 0;
    int pacedSum_ = 0;
    FrameReceiver rx_;
    Pacing pacing_;
    int last_open_error_ = 0;
    bool vanished_ = false;
    Clock::time_point lineBusyUntil_{};
    std::string lowLatencyNoted_;  // the port whose low-latency result was reported
};

}  // namespace qmx
