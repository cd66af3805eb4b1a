// The user code and the ISP demo: how a typed code becomes bytes, what an answer of the
// application's loader must hold to count, a receiver that meets line noise, and the connect
// loop against a loader that never answers.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "catalogue/model_catalogue.h"
#include "core/isp_core.h"
#include "link/serial_port.h"
#include "link/wire_format.h"
#include "ops/user_command.h"
#include "support/recording_ui.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes userFrame(Bytes body) {
    Bytes f;
    for (unsigned v : {0x5Au, 0xA5u, 0u, static_cast<unsigned>(body.size() + 7)})
        f.push_back(static_cast<std::uint8_t>(v));
    for (std::uint8_t b : body)
        f.push_back(b);
    unsigned sum = 0;
    for (auto b : f)
        sum += b;
    f.push_back(static_cast<std::uint8_t>(sum >> 8));
    f.push_back(static_cast<std::uint8_t>(sum));
    f.push_back(0x16);
    return f;
}

TEST(UserCodeText, PairsBecomeBytesAndForeignTokensRefuseTheCode) {
    EXPECT_EQ(parse_user_code("1234 AB"), (Bytes{0x12, 0x34, 0xAB}));
    const Bytes initial{0x12, 0x34, 0x56, 0x78, 0x90, 0xAB, 0xCD, 0xEF,
                        0x12, 0x34, 0x56, 0x78, 0x90, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(parse_user_code("12 34 56 78 90 AB CD EF 1234567890ABCDEF\r\n"), initial);
    EXPECT_EQ(parse_user_code("  ab\r\n"), (Bytes{0xAB}));
    EXPECT_EQ(parse_user_code("1"), (Bytes{0x01}));  // a lone last digit
    EXPECT_EQ(parse_user_code(""), Bytes{});

    // Letters that are no hex digits, and a digit that a separator would swallow.
    for (const char* text : {"12 GZ", ":;", "12,3", "0x12"}) {
        std::string bad;
        EXPECT_FALSE(parse_user_code(text, &bad)) << text;
        EXPECT_FALSE(bad.empty()) << text;
    }
    std::string bad;
    parse_user_code("12 GZ 34", &bad);
    EXPECT_EQ(bad, "GZ");
}

TEST(DemoRules, SettingsTextWaitsAndTimeouts) {
    EXPECT_EQ(portSettingsText(" 38400 ", "Even", "8", "1"), "38400,E,8,1");
    EXPECT_EQ(demoConnectWaitMs(9600), 50);
    EXPECT_EQ(demoConnectWaitMs(4800), 50);
    EXPECT_EQ(demoConnectWaitMs(2400), 100);
    EXPECT_EQ(demoConnectWaitMs(1200), 200);
    // The clock behind the application is unknown: never shorter than the slowest clock's.
    EXPECT_EQ(demoAnswerTimeoutMs(115200), 4000);
    EXPECT_EQ(demoAnswerTimeoutMs(1200), 5000);
}

TEST(DemoRules, ModelCodesAndTheModelsTheyCannotReach) {
    const DemoModelCode* row = demoModelForCode(0x4002);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->model, "M-068");
    EXPECT_EQ(std::string(row->idText), findModel("M-068")->idCode);
    EXPECT_NE(std::string(row->idText), findModel("M-070")->idCode);
    EXPECT_EQ(demoModelForCode(0x1234), nullptr);
    for (const char* name : {"M-074", "M-090", "M-079", "M-093"})
        EXPECT_FALSE(demoProgrammable(*findModel(name))) << name;
    for (const char* name : {"M-066", "M-068", "M-070", "M-072", "M-077", "M-065", "M-082"})
        EXPECT_TRUE(demoProgrammable(*findModel(name))) << name;
}

TEST(DemoFrames, BlockFrameAndTheAnswersThatCount) {
    const Bytes data{0x01, 0x02, 0xFF};
    const Bytes f = wire::userBlockFrame(0x12345, data, false);
    ASSERT_EQ(f.size(), data.size() + 14);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 11),
              (Bytes{0x5A, 0xA5, 0x00, 0x11, 0xB3, 0x00, 0x01, 0x23, 0x45, 0x00, 0x03}));
    unsigned sum = 0;
    for (std::size_t i = 0; i + 3 < f.size(); ++i)
        sum += f[i];
    EXPECT_EQ(f[f.size() - 3] * 256u + f[f.size() - 2], sum);
    EXPECT_EQ(f.back(), 0x16);
    EXPECT_EQ(wire::userBlockFrame(0, data, true)[4], 0xB4);

    EXPECT_TRUE(demoBlockAnswerAccepts(userFrame({0xB3, 0x01, 0x02}), 0x0102));
    EXPECT_FALSE(demoBlockAnswerAccepts(userFrame({0xB3, 0x01, 0x03}), 0x0102));
    // A short frame (a late connect answer) whose trailer happens to sit at bytes 5 and 6.
    const Bytes shortFrame = userFrame({0xB0});
    const std::uint16_t trailer = static_cast<std::uint16_t>(shortFrame[5] * 256 + shortFrame[6]);
    EXPECT_FALSE(demoBlockAnswerAccepts(shortFrame, trailer));

    const auto model = demoModelAnswer(userFrame({0xB5, 0x00, 0x40, 0x02, 0x7E}));
    ASSERT_TRUE(model);
    EXPECT_EQ(model->code, 0x4002);
    EXPECT_EQ(model->option, 0x7E);
    EXPECT_FALSE(demoModelAnswer(userFrame({0xB5, 0x40, 0x02})));
    EXPECT_FALSE(demoModelAnswer(shortFrame));
}

TEST(UserFrameReceiver, NoiseWithAnImpossibleLengthDoesNotHideTheAnswerBehindIt) {
    SerialChannel ch;
    ch.set_user_command_mode(true);
    Bytes line{0x5A, 0xA5, 0xFF, 0xFF, 0x00, 0x12};
    const Bytes answer = userFrame({0xB0});
    line.insert(line.end(), answer.begin(), answer.end());
    ch.feed(line.data(), line.size());
    EXPECT_TRUE(ch.user_frame_ready());
    EXPECT_EQ(Bytes(ch.rx_buffer().begin(), ch.rx_buffer().begin() + 8), answer);
}

// A port whose far end never answers; it keeps what was written and when.
class SilentPort : public SerialPort {
  public:
    std::mutex mutex;
    std::vector<std::pair<Clock::time_point, Bytes>> writes;

    int open(const std::string&, const PortSettings&) override {
        open_ = true;
        return 0;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool apply(const PortSettings&) override { return true; }
    long write(const std::uint8_t* data, std::size_t count) override {
        std::lock_guard lock(mutex);
        writes.emplace_back(Clock::now(), Bytes(data, data + count));
        return static_cast<long>(count);
    }
    long read(std::uint8_t*, std::size_t) override { return 0; }
    int waitReadable(long timeoutUs) override {
        std::this_thread::sleep_for(std::chrono::microseconds(timeoutUs));
        return 0;
    }
    int waitWritable(long) override { return 1; }
    int outQueue() override { return 0; }
    int inQueue() override { return 0; }
    void discard(bool, bool) override {}

  private:
    bool open_ = false;
};

struct SilentRig {
    test::RecordingUi ui;
    IspCore core{&ui};
    SilentPort* port = nullptr;
    SilentRig() {
        auto p = std::make_unique<SilentPort>();
        port = p.get();
        core.channel.setPort(std::move(p));
        core.portPath = "/dev/null-port";
        core.model = findModel("M-068");
    }
    // Connect frames sent, and the shortest gap between two of them.
    std::pair<int, Clock::duration> connectFrames() {
        std::lock_guard lock(port->mutex);
        int n = 0;
        Clock::time_point last{};
        Clock::duration shortest = Clock::duration::max();
        for (const auto& [at, bytes] : port->writes) {
            if (bytes.size() != 8 || bytes[4] != 0xB0) continue;
            if (n++ > 0) shortest = std::min(shortest, at - last);
            last = at;
        }
        return {n, shortest};
    }
};

TEST(DemoConnect, WaitsByBaudAndEitherStopEndsASilentLoader) {
    for (const auto& [settings, waitMs] :
         {std::pair<const char*, int>{"9600,E,8,1", 50}, {"1200,E,8,1", 200}}) {
        for (bool demoStop : {true, false}) {
            SilentRig rig;
            UserEntryChoices choices;
            choices.demoSettings = settings;
            std::thread stopper([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(900));
                if (demoStop)
                    stop_isp_demo(rig.core);
                else
                    rig.core.session.stop_requested = true;  // the general Stop
            });
            const auto began = Clock::now();
            EXPECT_FALSE(demo_connect(rig.core, choices));
            const auto took = Clock::now() - began;
            stopper.join();
            EXPECT_LT(took, std::chrono::seconds(10)) << settings;
            const auto [frames, shortest] = rig.connectFrames();
            ASSERT_GE(frames, 2) << settings;
            // Each connect frame: 20 ms before it goes out, then the wait for an answer.
            EXPECT_GE(shortest, std::chrono::milliseconds(20 + waitMs)) << settings;
            for (const auto& line : rig.ui.lines)
                EXPECT_EQ(line.find("Handshake is failed"), std::string::npos) << line;
        }
    }
}

}  // namespace
}  // namespace qmx
