// The ChipLink of a real session: the core's serial channel, the connect step and the status
// request.
#include <memory>

#include "core/isp_core.h"
#include "link/status_report.h"
#include "ops/chip_link.h"
#include "ops/connect.h"
#include "ops/link_binding.h"

namespace qmx {

namespace {

class ChannelLink final : public ChipLink {
  public:
    explicit ChannelLink(IspCore& core) : core_(core), ch_(core.channel) {}

    OpResult connectChip(bool statusOnly) override {
        OpResult r = connect_chip(core_, statusOnly);
        connectLostPort_ = r.port_lost();
        return r;
    }
    bool readStatus(bool byteDelays) override {
        CoreLink link(core_);
        return read_status(link.context(), byteDelays);
    }

    void reopenPort() override { ch_.reopen_port(); }
    void closePort() override { ch_.close_port(); }
    void flushReceive() override { ch_.flush_receive(); }
    void discardQueues() override { ch_.discard_both(); }
    void armReceive() override { ch_.receive_armed = true; }
    void waitMs(int ms) override { ch_.wait_ms(ms); }

    void sendCommand(std::span<const std::uint8_t> body, int byteDelayMs,
                     int headerDelayMs) override {
        ch_.send_byte(0x46, headerDelayMs);
        ch_.send_byte(0xB9, headerDelayMs);
        ch_.tx_sum = 0;
        ch_.receive_armed = true;
        ch_.frame_ready = false;
        for (std::uint8_t b : body)
            ch_.send_byte(b, byteDelayMs);
        ch_.send_sum();
        ch_.send_byte(0x16, byteDelayMs);
    }

    void sendBlockFrame(std::span<const std::uint8_t> body, bool fast) override {
        if (fast) {
            // The header and body of a fast frame leave in one write: the port's own queue
            // paces them at line speed.
            std::vector<std::uint8_t> frame;
            frame.reserve(body.size() + 2);
            frame.push_back(0x46);
            frame.push_back(0xB9);
            std::uint8_t sum = 0;
            for (std::uint8_t b : body) {
                frame.push_back(b);
                sum = static_cast<std::uint8_t>(sum + b);
            }
            ch_.paced_sum = sum;
            ch_.write_bytes(frame);
        } else {
            ch_.send_byte(0x46, 0);
            ch_.send_byte(0xB9, 0);
            ch_.paced_sum = 0;
            for (std::uint8_t b : body)
                ch_.send_paced_byte(b, ch_.pace_loops);
        }
        // Sum and end byte each follow the full gap, in fast frames too: a loader may use that
        // pause to check the data before the frame closes.
        ch_.send_paced_sum();
        ch_.send_paced_end(0x16);
    }

    void waitLineQuiet(int maxMs) override {
        // Quiet means no byte for 30 byte times at the current rate, and at least 50 ms.
        const long baud = std::max(ch_.current_baud(), 1L);
        const int quietMs = std::max(50, static_cast<int>(300000 / baud));
        ch_.wait_quiet(quietMs, maxMs);
    }

    int sendShortCommand(std::uint8_t code) override {
        if (portLost()) return -1;  // nothing can reach a port that has gone
        return ch_.send_short_command(code);
    }
    void writeRaw(std::span<const std::uint8_t> bytes) override {
        ch_.write_bytes(bytes.data(), bytes.size());
    }

    bool waitAnswer(int timeoutMs) override { return ch_.wait_response(timeoutMs); }
    bool frameReady() const override { return ch_.frame_ready; }
    void clearFrameReady() override { ch_.frame_ready = false; }
    std::vector<std::uint8_t> answer() const override {
        const int n = ch_.rx_count < 0 ? 0 : std::min(ch_.rx_count, SerialChannel::kRxSize);
        return {ch_.rx_buffer.begin(), ch_.rx_buffer.begin() + n};
    }
    long baud() const override { return ch_.current_baud(); }
    // Gone underneath us, or not to be opened again (an adapter pulled between two steps).
    bool portLost() const override {
        return ch_.vanished() || connectLostPort_ || ch_.last_open_error() != 0;
    }
    bool userCommandMode() const override { return ch_.user_command_mode; }

  private:
    IspCore& core_;
    SerialChannel& ch_;
    bool connectLostPort_ = false;  // the last connect step could not open or lost the port
};

}  // namespace

std::unique_ptr<ChipLink> makeChannelLink(IspCore& core) {
    return std::make_unique<ChannelLink>(core);
}

}  // namespace qmx
