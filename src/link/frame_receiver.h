// FrameReceiver: the receive side of the serial channel. Bytes taken from the port are pushed
// in as they arrive; consume() assembles them, in the current mode, into the receive buffer:
// boot-loader answers (68 … sum or CRC 16, optionally behind a 46 B9 header), user-command
// frames (5A A5 …), or, in debug mode, hands them to the debug monitor's parser. The flags it
// raises (frame ready, frame error, user frame ready) are how a waiting operation learns that
// an answer has come.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qmx {

class FrameReceiver {
  public:
    static constexpr int kSize = 1101;
    using DebugSink = std::function<void(const std::uint8_t*, std::size_t)>;

    // ---- bytes in ----
    void push(const std::uint8_t* data, std::size_t count);
    // Consumes what was pushed. True when the port's input must be flushed as well (a user
    // frame whose end byte is wrong: whatever follows it on the line belongs to it).
    bool consume();
    // Bytes pushed but not yet consumed.
    std::size_t pending() const { return pending_.size() - pendingPos_; }
    void drop_pending();

    // ---- resets ----
    // Clears the count, frame_ready, user_frame_ready and both header flags.
    void reset();
    // What a flush of the input leaves: nothing pending, no count, no frame, header search
    // from its start.
    void clear_after_flush();

    // ---- the answer being assembled ----
    const std::array<std::uint8_t, kSize>& buffer() const { return buffer_; }
    int count() const { return count_; }
    // The stored bytes (count() of them).
    std::span<const std::uint8_t> stored() const {
        return {buffer_.data(), static_cast<std::size_t>(count_)};
    }
    void clear_count() { count_ = 0; }

    // ---- flags ----
    bool frame_ready() const { return frameReady_; }
    void set_frame_ready(bool on) { frameReady_ = on; }
    bool frame_error() const { return frameError_; }
    void set_frame_error(bool on) { frameError_ = on; }
    bool user_frame_ready() const { return userFrameReady_; }
    void set_user_frame_ready(bool on) { userFrameReady_ = on; }
    bool header_46_seen() const { return head46_; }
    bool header_B9_seen() const { return headB9_; }
    void clear_header_search() { head46_ = headB9_ = false; }

    // ---- modes ----
    // Boot-loader answers are assembled only while armed; otherwise arrivals are dropped.
    bool receive_armed() const { return armed_; }
    void set_receive_armed(bool on) { armed_ = on; }
    // Boot-loader answers come behind the 46 B9 header.
    bool header_expected() const { return headerExpected_; }
    void set_header_expected(bool on) { headerExpected_ = on; }
    // Answers end in a CRC-16 instead of an 8-bit sum (offline-board sessions).
    bool crc_check() const { return crcCheck_; }
    void set_crc_check(bool on) { crcCheck_ = on; }
    bool user_command_mode() const { return userMode_; }
    void set_user_command_mode(bool on) { userMode_ = on; }
    bool debug_mode() const { return debugMode_; }
    void set_debug_mode(bool on) { debugMode_ = on; }
    void set_debug_sink(DebugSink sink) { debugSink_ = std::move(sink); }

  private:
    void take_boot_loader_bytes();
    bool take_user_bytes();
    void check_boot_frame();
    bool check_user_frame();
    void store(std::uint8_t b) {
        if (count_ < kSize) buffer_[static_cast<std::size_t>(count_++)] = b;
    }

    std::array<std::uint8_t, kSize> buffer_{};
    int count_ = 0;
    std::vector<std::uint8_t> pending_;
    std::size_t pendingPos_ = 0;
    bool frameReady_ = false;
    bool frameError_ = false;
    bool userFrameReady_ = false;
    bool head46_ = false;
    bool headB9_ = false;
    bool armed_ = false;
    bool headerExpected_ = false;
    bool crcCheck_ = false;
    bool userMode_ = false;
    bool debugMode_ = false;
    DebugSink debugSink_;
};

}  // namespace qmx
