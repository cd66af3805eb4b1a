// The command line against a scripted far end on a pseudo-terminal, for line conditions the
// simulated chip does not produce: noise before the answer, a receiver wedged by noise, and an
// offline download board relaying the chip's answer.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "link/crc16.h"
#include "link_fixture.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal whose master side runs a script: `respond` sees every chunk the host sent
// and returns what to write back.
class ScriptedPeer {
  public:
    using Respond = std::function<Bytes(const Bytes& chunk)>;
    // readLag: the peer takes bytes off the line only that long after they arrived, as a slow
    // or busy far end does.
    explicit ScriptedPeer(Respond respond, std::chrono::milliseconds readLag = 0ms)
        : respond_(std::move(respond)), lag_(readLag) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        path_ = ptsname(master_);
        // Keep a slave open so the host may close and reopen without hanging up the line.
        keep_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedPeer() {
        done_ = true;
        thread_.join();
        close(keep_);
        close(master_);
    }
    const std::string& path() const { return path_; }
    Bytes received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return all_;
    }

  private:
    void run() {
        std::uint8_t buf[512];
        while (!done_) {
            struct pollfd p {
                master_, POLLIN, 0
            };
            if (poll(&p, 1, 20) <= 0) continue;
            if (lag_ > 0ms) std::this_thread::sleep_for(lag_);
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) continue;
            Bytes chunk(buf, buf + n);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                all_.insert(all_.end(), chunk.begin(), chunk.end());
            }
            Bytes reply = respond_(chunk);
            if (!reply.empty()) (void)!write(master_, reply.data(), reply.size());
        }
    }
    Respond respond_;
    std::chrono::milliseconds lag_;
    int master_ = -1, keep_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    Bytes all_;
};

bool has(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// The status frame of a family-2 chip F0 01 (reported as M-056; M-066 shares its identification),
// firmware 3.6C, feature flags 82, with the given count and the sum (or the CRC) trailer.
Bytes statusFrame(int count, bool crc, std::uint8_t byte3 = 0x00) {
    Bytes f{0x68, 0x00, 0x00, byte3};
    for (int i = 0; i < 8; ++i) {
        f.push_back(static_cast<std::uint8_t>(count >> 8));
        f.push_back(static_cast<std::uint8_t>(count & 0xFF));
    }
    for (std::uint8_t b : {0x36, 0x43, 0xFF, 0xF0, 0x01, 0x82, 0xFF, 0xFF})
        f.push_back(b);
    f[2] = static_cast<std::uint8_t>(f.size() + (crc ? 3 : 2));
    if (crc) {
        std::uint16_t c = crc16Modbus(f.data(), f.size());
        f.push_back(static_cast<std::uint8_t>(c & 0xFF));
        f.push_back(static_cast<std::uint8_t>(c >> 8));
    } else {
        unsigned sum = 0;
        for (auto b : f)
            sum += b;
        f.push_back(static_cast<std::uint8_t>(sum));
    }
    f.push_back(0x16);
    return f;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kSync{0x7F, 0x7F};

class Scripted : public LinkE2E {};

TEST_F(Scripted, NoiseAndABrokenFrameBeforeTheAnswerInOneRead) {
    std::atomic<int> answers{0};
    ScriptedPeer peer([&](const Bytes& chunk) -> Bytes {
        if (answers == 0 && has(chunk, kSync)) {
            ++answers;
            // Noise, a short frame with a wrong end byte, then the real answer.
            return cat(Bytes{0x00, 0x55, 0xFE, 0x68, 0x00, 0x05, 0xAA, 0xBB},
                       statusFrame(5360, false));
        }
        return {};
    });
    RunResult r = run_cli({"read-options", "--port", peer.path(), "--model", "M-066"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "MCU Type is: M-056")) << r.out;
    EXPECT_TRUE(contains(r.out, "MCU Firmware Version: 3.6C")) << r.out;
    EXPECT_TRUE(contains(r.out, "Internal clock:11.059326MHz./内部时钟频率:11.059326M.")) << r.out;
    EXPECT_TRUE(contains(r.out, "Read Chip Lock OK. / 读选项成功.")) << r.out;
    // The run command of family 2 closed the session.
    EXPECT_TRUE(
        has(peer.received(), Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x52, 0x02, 0x00, 0xC6, 0x16}));
}

TEST_F(Scripted, NoiseThatWedgesTheReceiverIsClearedWhileSyncing) {
    using Clock = std::chrono::steady_clock;
    std::atomic<int> stage{0};
    Clock::time_point noiseAt{};
    ScriptedPeer peer([&](const Bytes& chunk) -> Bytes {
        if (!has(chunk, Bytes{0x7F})) return {};
        if (stage == 0) {
            stage = 1;
            noiseAt = Clock::now();
            return {0x68, 0x7F, 0x00, 0x01};  // declares 32512 bytes: never completes
        }
        if (stage == 1 && Clock::now() - noiseAt > 1500ms) {
            stage = 2;
            return statusFrame(5360, false);
        }
        return {};
    });
    RunResult r = run_cli({"read-options", "--port", peer.path(), "--model", "M-066"}, 30s);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Read Chip Lock OK. / 读选项成功.")) << r.out;
}

TEST_F(Scripted, OfflineBoardRelaysTheChipWithoutABaudSwitch) {
    std::atomic<bool> marked{false};
    std::atomic<int> queries{0};
    const Bytes query{0x46, 0xB9, 0x6A, 0x00, 0x09, 0x51, 0x02, 0x00};
    ScriptedPeer peer([&](const Bytes& chunk) -> Bytes {
        if (!marked && has(chunk, kSync)) {
            marked = true;
            // The board's marker: bytes 3 and 6 are 20, byte 7 is 21.
            Bytes f{0x68, 0x00, 0x0A, 0x20, 0x00, 0x00, 0x20, 0x21};
            unsigned sum = 0;
            for (auto b : f)
                sum += b;
            f.push_back(static_cast<std::uint8_t>(sum));
            f.push_back(0x16);
            return f;
        }
        if (marked && has(chunk, query)) {
            // The first query finds no chip yet; the second relays its answer.
            if (++queries == 1) return {};
            return statusFrame(5360, true, 0x51);
        }
        return {};
    });
    RunResult r = run_cli({"connect", "--port", peer.path(), "--model", "M-066"}, 30s);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "与下载板连接成功, 正在与 MCU 连接...")) << r.out;
    EXPECT_TRUE(contains(r.out, "MCU Type is: M-056")) << r.out;
    EXPECT_FALSE(contains(r.out, "We are trying to run more rapid")) << r.out;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 0 bps.")) << r.out;
    EXPECT_GE(queries.load(), 2);
    // The query frame carries the CRC of 6A .. P.
    Bytes q = query;
    std::uint16_t c = crc16Modbus(q.data() + 2, 6);
    q.push_back(static_cast<std::uint8_t>(c & 0xFF));
    q.push_back(static_cast<std::uint8_t>(c >> 8));
    q.push_back(0x16);
    EXPECT_TRUE(has(peer.received(), q));
    // No rate test or switch was sent.
    EXPECT_FALSE(has(peer.received(), Bytes{0x46, 0xB9, 0x6A, 0x00, 0x0C, 0x8F}));
}

// A boot loader whose answers the test decides: the status frame answers the first sync, and
// each complete command frame (46 B9 6A, length, command ...) is offered to `answer`, which says
// whether the chip replies with the short acknowledge frame.
class ScriptedLoader {
  public:
    using Answer = std::function<bool(std::uint8_t command, int nth)>;
    ScriptedLoader(Bytes status, Answer answer, std::chrono::milliseconds readLag = 0ms)
        : status_(std::move(status)),
          answer_(std::move(answer)),
          peer_([this](const Bytes& chunk) { return respond(chunk); }, readLag) {}
    const std::string& path() const { return peer_.path(); }
    // How many complete frames of the command the host sent.
    int count(std::uint8_t command) {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_[command];
    }
    Bytes received() { return peer_.received(); }

  private:
    Bytes respond(const Bytes& chunk) {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.insert(seen_.end(), chunk.begin(), chunk.end());
        if (!synced_ && has(chunk, Bytes{0x7F})) {
            synced_ = true;
            scan_ = seen_.size();
            return status_;
        }
        Bytes reply;
        // Frames arrive a byte or a few at a time: answer each once it is complete.
        for (;;) {
            auto it = std::search(seen_.begin() + static_cast<std::ptrdiff_t>(scan_), seen_.end(),
                                  kHead.begin(), kHead.end());
            const std::size_t p = static_cast<std::size_t>(it - seen_.begin());
            if (it == seen_.end() || seen_.size() < p + 6) break;
            const std::size_t length = seen_[p + 3] * 256u + seen_[p + 4];
            if (seen_.size() < p + 2 + length) break;
            const std::uint8_t command = seen_[p + 5];
            scan_ = p + 2 + length;
            if (answer_(command, ++counts_[command]))
                reply = Bytes{0x46, 0xB9, 0x68, 0x00, 0x06, 0x80, 0xEE, 0x16};
        }
        // Let the host move to the rate it asked for before the answer goes out.
        if (!reply.empty()) std::this_thread::sleep_for(100ms);
        return reply;
    }

    inline static const Bytes kHead{0x46, 0xB9, 0x6A};
    Bytes status_;
    Answer answer_;
    std::mutex mutex_;
    Bytes seen_;
    std::size_t scan_ = 0;
    bool synced_ = false;
    std::map<std::uint8_t, int> counts_;
    ScriptedPeer peer_;  // last: its thread must stop before the members above go
};

// The status frame of an old loader: 24 bytes, timing counts, version and letter, no option
// byte and no identification.
Bytes oldStatusFrame(int count) {
    Bytes f{0x68, 0x00, 0x18, 0x00};
    for (int i = 0; i < 8; ++i) {
        f.push_back(static_cast<std::uint8_t>(count >> 8));
        f.push_back(static_cast<std::uint8_t>(count & 0xFF));
    }
    f.push_back(0x36);
    f.push_back('C');
    unsigned sum = 0;
    for (auto b : f)
        sum += b;
    f.push_back(static_cast<std::uint8_t>(sum));
    f.push_back(0x16);
    return f;
}

TEST_F(Scripted, ADroppedRateTestAnswerIsTriedAgain) {
    ScriptedLoader chip(statusFrame(5360, false), [](std::uint8_t command, int nth) {
        return (command == 0x8F && nth >= 2) || command == 0x8E;
    });
    RunResult r = run_cli({"connect", "--port", chip.path(), "--model", "M-066"}, 30s);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 115200 bps.")) << r.out;
    EXPECT_EQ(chip.count(0x8F), 2);
    EXPECT_EQ(chip.count(0x8E), 1);
}

TEST_F(Scripted, AChipSlowToReadStillGetsTheRateTestAcrossTheReopen) {
    // The far end takes bytes off the line 300 ms late. The rate test's frame is written, the
    // port closed and reopened at the new rate before the chip has read it: reopening must not
    // throw that frame away.
    ScriptedLoader chip(
        statusFrame(5360, false), [](std::uint8_t, int) { return true; }, 300ms);
    RunResult r = run_cli({"connect", "--port", chip.path(), "--model", "M-066"}, 60s);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "Now baud is: / 当前波特率为: 115200 bps.")) << r.out;
    EXPECT_EQ(chip.count(0x8F), 1);
    EXPECT_EQ(chip.count(0x8E), 1);
}

TEST_F(Scripted, AClockThatMakesNoRateEndsTheSearchWithoutSendingAReload) {
    // Counts of 0 give a 12366 Hz clock: not even 1200 baud fits.
    ScriptedLoader chip(statusFrame(0, false), [](std::uint8_t, int) { return true; });
    RunResult r = run_cli({"connect", "--port", chip.path(), "--model", "M-066"}, 30s);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "We are trying to run more rapid ...")) << r.out;
    EXPECT_TRUE(contains(r.err, "Handshake is failed. / 握手失败 (End: ")) << r.err;
    EXPECT_FALSE(contains(r.out, "Now baud is")) << r.out;
    EXPECT_EQ(chip.count(0x8F), 0);
    EXPECT_EQ(chip.count(0x8E), 0);
}

TEST_F(Scripted, ASwitchUnansweredThreeTimesEndsInTheTimedFailure) {
    ScriptedLoader chip(statusFrame(5360, false),
                        [](std::uint8_t command, int) { return command == 0x8F; });
    RunResult r = run_cli({"connect", "--port", chip.path(), "--model", "M-066"}, 30s);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(contains(r.err, "Handshake is failed. / 握手失败 (End: ")) << r.err;
    EXPECT_FALSE(contains(r.out, "Now baud is")) << r.out;
    EXPECT_EQ(chip.count(0x8E), 3);
}

TEST_F(Scripted, AnUnansweredWatchdogPinEndsTheHandshakeWithoutTheTime) {
    ScriptedLoader chip(statusFrame(5360, false),
                        [](std::uint8_t command, int) { return command != 0x86; });
    TempDir files;
    const std::string image = files.file("one.hex");
    std::ofstream(image) << ":0100000055AA\n:00000001FF\n";
    RunResult r = run_cli({"download", image, "--port", chip.path(), "--model", "M-066", "--option",
                           "download-wdt=io", "--option", "download-wdt-pin=P1.0"},
                          30s);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(contains(r.err, "Handshake is failed. / 握手失败\n")) << r.err;
    EXPECT_FALSE(contains(r.out + r.err, "(End: ")) << r.err;
    EXPECT_EQ(chip.count(0x86), 3);
    // P1.0: bit 0 in the high nibble, port 1 in the low one.
    EXPECT_TRUE(has(chip.received(), Bytes{0x46, 0xB9, 0x6A, 0x00, 0x07, 0x86, 0x01, 0xF8, 0x16}));
    EXPECT_EQ(chip.count(0x8F), 0);
}

TEST_F(Scripted, AnOldChipWhoseStatusNeverComesEndsInTheTimedFailure) {
    ScriptedLoader chip(oldStatusFrame(5360),
                        [](std::uint8_t command, int) { return command != 0x50; });
    RunResult r = run_cli({"read-options", "--port", chip.path(), "--model", "M-066"}, 60s);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "We are Reading Chip Lock./ 正在读加密位,双倍速,版本号")) << r.out;
    EXPECT_TRUE(contains(r.err, "Handshake is failed. / 握手失败 (End: ")) << r.err;
    EXPECT_FALSE(contains(r.out, "Read Chip Lock OK")) << r.out;
    // Four requests of three attempts each.
    EXPECT_EQ(chip.count(0x50), 12);
}

}  // namespace
}  // namespace qmx::test
