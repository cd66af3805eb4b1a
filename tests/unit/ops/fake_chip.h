// A scripted chip behind the ChipLink seam: it keeps a flash image, answers block frames with
// the data sum (or not, when told to fail), answers the erase and option commands, and records
// everything the host sent.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <vector>

#include "core/isp_core.h"
#include "ops/chip_link.h"

namespace qmx::test {

inline std::vector<std::uint8_t> answerFrame(std::vector<std::uint8_t> body) {
    std::vector<std::uint8_t> f(3 + body.size());
    f[0] = 0x68;
    for (std::size_t i = 0; i < body.size(); ++i)
        f[3 + i] = body[i];
    const std::size_t len = f.size() + 2;
    f[1] = static_cast<std::uint8_t>(len >> 8);
    f[2] = static_cast<std::uint8_t>(len);
    std::uint8_t sum = 0;
    for (auto b : f)
        sum = static_cast<std::uint8_t>(sum + b);
    f.push_back(sum);
    f.push_back(0x16);
    return f;
}

struct SentBlock {
    long address = 0;
    int count = 0;
    bool retry = false;
    bool fast = false;
};

class FakeChip : public ChipLink {
  public:
    explicit FakeChip(IspCore& core) : core_(core) { flash.fill(0xFF); }

    std::array<std::uint8_t, 0x10001> flash{};
    std::vector<SentBlock> blocks;
    std::vector<std::vector<std::uint8_t>> commands;  // bodies given to sendCommand
    std::vector<std::uint8_t> shortCommands;
    std::vector<std::vector<std::uint8_t>> rawWrites;
    // Decides whether a block frame goes unanswered (called with its index among all blocks).
    std::function<bool(const SentBlock&, std::size_t)> dropBlock;
    // Code of the answer to the option command, one per command; 80 when none is left.
    std::deque<std::uint8_t> optionCodes;
    bool answerErase = true;
    bool connectSucceeds = true;
    bool statusAnswers = true;
    bool keepsOptions = true;  // false: acknowledges option commands but keeps its old bytes
    std::vector<std::uint8_t> statusBody = std::vector<std::uint8_t>(15, 0);
    // Block answers: the short form 68 00 06 80 S 16, or a data sum that is off by one.
    bool shortBlockAnswers = false;
    bool wrongDataSum = false;
    // Set the stop flag when this block index is sent.
    long stopAtBlock = -1;
    int connects = 0;

    OpResult connectChip(bool) override {
        ++connects;
        core_.session.connected = connectSucceeds && !core_.session.stop_requested;
        if (core_.session.connected) return OpResult::success();
        return core_.session.stop_requested ? OpResult::stopped() : OpResult::failed();
    }
    bool readStatus(bool) override {
        ready_ = statusAnswers;
        if (ready_) last_ = answerFrame(statusBody);
        return ready_;
    }
    void reopenPort() override {}
    void closePort() override {}
    void flushReceive() override { ready_ = false; }
    void discardQueues() override {}
    void armReceive() override {}
    void waitMs(int) override {}
    void sendCommand(const wire::Frame& frame, int, int) override {
        const auto body = frame.body();
        commands.emplace_back(body.begin(), body.end());
        ready_ = false;
        if (body.size() > 3 && body[3] == 0x84 && answerErase) {
            ready_ = true;
            last_ = answerFrame({0x80});
        } else if (body.size() > 3 && body[3] == 0x8D) {
            std::uint8_t code = 0x80;
            if (!optionCodes.empty()) {
                code = optionCodes.front();
                optionCodes.pop_front();
            }
            if (code != 0) {
                ready_ = true;
                last_ = answerFrame({code});
            }
            // An accepted option command is what the next status answer shows (byte 13 on).
            if (code == 0x80 && keepsOptions) {
                const std::size_t n = body.size() == 13 ? 5 : 1;
                if (statusBody.size() < 10 + n) statusBody.resize(10 + n);
                for (std::size_t i = 0; i < n; ++i)
                    statusBody[10 + i] = body[4 + i];
            }
        }
    }
    void sendBlockFrame(const wire::Frame& frame, bool fast) override {
        const auto body = frame.body();
        SentBlock b;
        b.address = (long(body[4]) << 24) | (long(body[5]) << 16) | (long(body[6]) << 8) | body[7];
        b.count = body[8] * 256 + body[9];
        b.retry = body[3] == 0x30;
        b.fast = fast;
        const std::size_t index = blocks.size();
        blocks.push_back(b);
        if (long(index) == stopAtBlock) core_.session.stop_requested = true;
        ready_ = false;
        if (dropBlock && dropBlock(b, index)) return;
        std::uint8_t sum = 0;
        for (int i = 0; i < b.count; ++i) {
            flash[b.address + i] = body[10 + i];
            sum = static_cast<std::uint8_t>(sum + body[10 + i]);
        }
        ready_ = true;
        if (shortBlockAnswers)
            last_ = answerFrame({0x80});
        else
            last_ = answerFrame({0x80, static_cast<std::uint8_t>(wrongDataSum ? sum + 1 : sum)});
    }
    bool sendShortCommand(wire::Command command) override {
        shortCommands.push_back(wire::code(command));
        ready_ = false;
        return true;
    }
    void writeRaw(std::span<const std::uint8_t> bytes) override {
        rawWrites.emplace_back(bytes.begin(), bytes.end());
    }
    bool waitAnswer(int) override { return ready_ && !core_.session.stop_requested; }
    bool frameReady() const override { return ready_; }
    void clearFrameReady() override { ready_ = false; }
    std::vector<std::uint8_t> answer() const override { return last_; }
    long baud() const override { return 115200; }
    bool portLost() const override { return false; }

  private:
    IspCore& core_;
    bool ready_ = false;
    std::vector<std::uint8_t> last_;
};

}  // namespace qmx::test
