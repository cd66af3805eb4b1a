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
    void armReceive() override { ch_.set_receive_armed(true); }
    void waitMs(int ms) override { ch_.wait_ms(ms); }

    void sendCommand(const wire::Frame& frame, int byteDelayMs, int headerDelayMs) override {
        ch_.send_frame(frame, byteDelayMs, headerDelayMs);
    }
    void sendBlockFrame(const wire::Frame& frame, bool fast) override {
        ch_.send_paced_frame(frame, fast);
    }

    void waitLineQuiet(int maxMs) override {
        // Quiet means no byte for 30 byte times at the current rate, and at least 50 ms.
        const long baud = std::max(ch_.current_baud(), 1L);
        const int quietMs = std::max(50, static_cast<int>(300000 / baud));
        ch_.wait_quiet(quietMs, maxMs);
    }

    bool sendShortCommand(wire::Command command) override {
        if (portLost()) return false;  // nothing can reach a port that has gone
        return ch_.send_short_command(command);
    }
    void writeRaw(std::span<const std::uint8_t> bytes) override {
        ch_.write_bytes(bytes.data(), bytes.size());
    }

    bool waitAnswer(int timeoutMs) override { return ch_.wait_response(timeoutMs); }
    bool frameReady() const override { return ch_.frame_ready(); }
    void clearFrameReady() override { ch_.set_frame_ready(false); }
    std::vector<std::uint8_t> answer() const override {
        const int n = ch_.rx_count() < 0 ? 0 : std::min(ch_.rx_count(), SerialChannel::kRxSize);
        return {ch_.rx_buffer().begin(), ch_.rx_buffer().begin() + n};
    }
    long baud() const override { return ch_.current_baud(); }
    // Gone underneath us, or not to be opened again (an adapter pulled between two steps).
    bool portLost() const override {
        return ch_.vanished() || connectLostPort_ || ch_.last_open_error() != 0;
    }
    bool userCommandMode() const override { return ch_.user_command_mode(); }

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
