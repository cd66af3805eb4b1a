// Report frames from the monitor: how they are taken off the line, answered and shown, and what
// broken, short, long and overlong frames do.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/isp_core.h"
#include "link/wire_format.h"
#include "monitor/debug_port.h"
#include "monitor/debug_views.h"
#include "support/recording_ui.h"
#include "unit/link/fake_port.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A report frame: 16 header bytes (AA, length, type, the given fields), values, checksum.
Bytes report(int type, const Bytes& values, std::initializer_list<std::pair<int, int>> fields = {},
             bool spoil = false) {
    Bytes f(16, 0);
    f[0] = 0xAA;
    f[3] = static_cast<std::uint8_t>(type);
    for (auto [at, v] : fields)
        f[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(v);
    f.insert(f.end(), values.begin(), values.end());
    const std::size_t length = f.size() + 1;
    f[1] = static_cast<std::uint8_t>(length >> 8);
    f[2] = static_cast<std::uint8_t>(length);
    std::uint8_t sum = 0;
    for (auto b : f)
        sum = static_cast<std::uint8_t>(sum + b);
    f.push_back(spoil ? static_cast<std::uint8_t>(sum + 1) : sum);
    return f;
}

Bytes onLine(const Bytes& frame) {
    Bytes b{0xA5, 0x5A};
    b.insert(b.end(), frame.begin(), frame.end());
    return b;
}

struct Collected {
    std::vector<ReportReceiver::Event> events;
    std::vector<Bytes> frames;
};

Collected feedAll(ReportReceiver& rx, const Bytes& bytes) {
    Collected c;
    rx.feed(bytes.data(), bytes.size(), [&](ReportReceiver::Event e, const Bytes& f) {
        c.events.push_back(e);
        c.frames.push_back(f);
    });
    return c;
}

TEST(ReportReceiver, FramesBrokenFramesAndImpossibleLengths) {
    using E = ReportReceiver::Event;
    ReportReceiver rx;
    // Noise, a lone A5, then a frame; a second frame right behind it in the same read.
    Bytes line{0x00, 0xA5, 0x11, 0xA5, 0xA5, 0x5A};
    const Bytes f1 = report(2, {1, 2, 3});
    line.insert(line.end(), f1.begin(), f1.end());
    const Bytes f2 = onLine(report(1, {9}, {}, true));
    line.insert(line.end(), f2.begin(), f2.end());
    auto c = feedAll(rx, line);
    ASSERT_EQ(c.events, (std::vector<E>{E::Frame, E::BadChecksum}));
    EXPECT_EQ(c.frames[0], f1);

    // A preamble followed by bytes without AA collects nothing.
    c = feedAll(rx, {0xA5, 0x5A, 0x01, 0x02, 0x03, 0x04});
    EXPECT_TRUE(c.events.empty());
    EXPECT_TRUE(rx.collected().empty());
    rx.reset();

    // Lengths of 1051 and of 0 are dropped at once, without waiting for more bytes.
    for (Bytes bad : {Bytes{0xA5, 0x5A, 0xAA, 0x04, 0x1B}, Bytes{0xA5, 0x5A, 0xAA, 0x00, 0x00}}) {
        c = feedAll(rx, bad);
        EXPECT_EQ(c.events, (std::vector<E>{E::Discarded}));
        EXPECT_FALSE(rx.inFrame());
    }
    // 1050 is taken, byte by byte.
    const Bytes longest = onLine(report(2, Bytes(1050 - 17, 0x33)));
    std::size_t frames = 0;
    for (std::uint8_t b : longest)
        frames += feedAll(rx, {b}).events.size();
    EXPECT_EQ(frames, 1u);
}

TEST(RetryTimer, AtMostThreeRequestsPerBadFrame) {
    using namespace std::chrono;
    RetryTimer t(milliseconds(100));
    const auto t0 = steady_clock::now();
    t.badFrame(t0);
    int sent = 0;
    for (int ms = 0; ms <= 2000; ms += 10)
        sent += t.tick(t0 + milliseconds(ms));
    EXPECT_EQ(sent, 3);
    // A frame arriving stops it.
    t.badFrame(t0);
    EXPECT_TRUE(t.tick(t0 + milliseconds(100)));
    t.stop();
    EXPECT_FALSE(t.tick(t0 + milliseconds(1000)));
}

TEST(DebugViews, RegisterReportShowsOnlyWhatItCarries) {
    DebugViews v;
    v.setSfrRows(sfrRowsFor(0));
    ASSERT_EQ(v.sfrLines().size(), 21u);
    // Values from P1 (90) on: P1 = 0x7E, 91 = 1, 92 = 2; PSW, ACC, TCON, T2CON, CCON, IE, SP in
    // the header.
    v.apply(
        report(0, {0x7E, 1, 2}, {{6, 0x90}, {7, 0x81}, {8, 0x3C}, {9, 0x10}, {12, 0x82}, {13, 7}})
            .data(),
        report(0, {0x7E, 1, 2}).size());
    auto line = [&](const std::string& name) {
        for (const auto& l : v.sfrLines())
            if (l.substr(4, name.size() + 1) == name + " ") return l;
        return std::string("?");
    };
    EXPECT_EQ(line("ACC"), "E0H ACC        3CH   60");
    EXPECT_EQ(line("P1"), "90H P1         7EH  126");
    EXPECT_EQ(line("SP"), "81H SP         07H    7");
    EXPECT_EQ(line("B"), "F0H B                  ");
    EXPECT_EQ(line("P0"), "80H P0                 ");
    // The next report without P1 blanks it.
    const Bytes next = report(0, {}, {{6, 0xA0}, {8, 0x01}});
    v.apply(next.data(), next.size());
    EXPECT_EQ(line("P1"), "90H P1                 ");
    EXPECT_EQ(line("ACC"), "E0H ACC        01H    1");
    // A run past FF stops at the table's end.
    const Bytes past = report(0, Bytes(40, 0x44), {{6, 0xF0}});
    v.apply(past.data(), past.size());
    EXPECT_EQ(v.sfrValue(0xFF), 0x44);
    EXPECT_EQ(line("B"), "F0H B          44H   68");
    // Families 2 and 3/4 have their own lists.
    EXPECT_EQ(sfrRowsFor(2).size(), 41u);
    EXPECT_EQ(sfrRowsFor(4).size(), 52u);
    EXPECT_EQ(sfrRowsFor(3).back().name, "PCA_PWM1");
}

TEST(DebugViews, MemoryReportsFillTheirLinesAndBlankTheRest) {
    DebugViews v;
    EXPECT_EQ(v.idataLines()[1], "08H                         ");
    Bytes values;
    for (int i = 0; i < 14; ++i)
        values.push_back(static_cast<std::uint8_t>(0x10 + i));
    Bytes f = report(1, values, {{14, 0xB1}, {15, 0xA0}});
    auto e = v.apply(f.data(), f.size());
    EXPECT_EQ(e.view, DebugView::Idata);
    EXPECT_EQ(v.idataLines()[0], "00H  A0 B1 10 11 12 13 14 15");
    EXPECT_EQ(v.idataLines()[1], "08H  16 17 18 19 1A 1B 1C 1D");
    EXPECT_EQ(v.idataLines()[2].size(), 28u);
    EXPECT_EQ(e.changedLines, (std::vector<int>{0, 1}));
    // A shorter report leaves no old value behind.
    f = report(1, {}, {{14, 1}, {15, 2}});
    e = v.apply(f.data(), f.size());
    EXPECT_EQ(v.idataLines()[0], "00H  02 01                  ");
    EXPECT_EQ(v.idataLines()[1], "08H                         ");

    // Data memory: the longest frame fills 1024 cells and no more.
    f = report(2, Bytes(1050 - 17, 0xEE));
    e = v.apply(f.data(), f.size());
    EXPECT_EQ(v.xdataLines().size(), 128u);
    EXPECT_EQ(v.xdataLines()[127], "03F8 EE EE EE EE EE EE EE EE");
    EXPECT_EQ(e.changedLines.size(), 128u);

    // The window follows its base, up to FE00.
    f = report(3, {0xAB, 0xCD}, {{5, 0xFF}, {6, 0x37}});
    e = v.apply(f.data(), f.size());
    EXPECT_TRUE(e.rebuilt);
    EXPECT_EQ(v.windowBase(), 0xFE00);
    EXPECT_EQ(v.windowLines().front(), "FE00 AB CD                  ");
    EXPECT_EQ(v.windowLines().back().substr(0, 5), "FFF8 ");

    // Frames too short for their type, or of unknown type, change nothing.
    const Bytes shortIdata{0xAA, 0x00, 0x06, 0x01, 0x00, 0x07};
    EXPECT_EQ(v.apply(shortIdata.data(), shortIdata.size()).view, DebugView::None);
    const Bytes unknown = report(7, {1});
    EXPECT_EQ(v.apply(unknown.data(), unknown.size()).view, DebugView::None);
    EXPECT_EQ(v.idataLines()[0], "00H  02 01                  ");
}

TEST(DebugCommands, FramesAndSettingsText) {
    EXPECT_EQ(wire::monitorCommand('P'),
              (Bytes{0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xAA, 0x50, 0xFA}));
    EXPECT_EQ(wire::monitorCommand('R').back(), 0xFC);
    EXPECT_EQ(wire::monitorCommand('T'),
              (Bytes{0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xAA, 0x54, 0xFE}));
    EXPECT_EQ(debugSettingsText(" 9600 ", "None", "8", " 1"), "9600,N,8,1");
    EXPECT_EQ(debugSettingsText("38400", "Even", "7", "2"), "38400,E,7,2");
}

// A fake port that waits a little when nothing is there, so the receive loop does not spin.
class PacedPort : public test::FakePort {
  public:
    int opensBeforeFailure = -1;  // opens that succeed before every further one fails
    int open(const std::string& path, const PortSettings& settings) override {
        if (opensBeforeFailure == 0) return ENOENT;
        if (opensBeforeFailure > 0) --opensBeforeFailure;
        return FakePort::open(path, settings);
    }
    int waitReadable(long timeoutUs) override {
        if (input.empty() && !failWith)
            std::this_thread::sleep_for(std::chrono::microseconds(std::min(timeoutUs, 2000L)));
        return FakePort::waitReadable(0);
    }
};

int countCommand(const Bytes& written, char letter) {
    const Bytes cmd = wire::monitorCommand(letter);
    int n = 0;
    for (auto it = written.begin();
         (it = std::search(it, written.end(), cmd.begin(), cmd.end())) != written.end(); ++it)
        ++n;
    return n;
}

class DebugPortRun : public ::testing::Test {
  protected:
    void SetUp() override {
        core.setUi(&ui);
        auto p = std::make_unique<PacedPort>();
        port = p.get();
        core.channel.setPort(std::move(p));
        request.portPath = "/dev/fake";
        request.byteTimeout = std::chrono::milliseconds(150);
    }
    // Runs the operation for `ms` with `input` waiting on the line.
    Outcome runFor(const Bytes& input, int ms) {
        port->input.assign(input.begin(), input.end());
        control.close = false;
        std::thread closer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            control.close = true;
        });
        const auto outcome = runDebugPort(core, request, views, control, events);
        closer.join();
        return outcome;
    }
    test::RecordingUi ui;
    IspCore core;
    PacedPort* port = nullptr;
    DebugPortRequest request;
    DebugPortControl control;
    DebugPortEvents events;
    DebugViews views;
};

TEST_F(DebugPortRun, GoodFramesAreAcknowledgedBadOnesAskedForAtMostThreeTimes) {
    int reports = 0;
    events.report = [&](const DebugViews&, const ReportEffect&) { ++reports; };
    Bytes line = onLine(report(1, {5, 6}));
    for (int i = 0; i < 3; ++i) {
        const Bytes bad = onLine(report(2, {1}, {}, true));
        line.insert(line.end(), bad.begin(), bad.end());
    }
    // Overlong: dropped without an answer.
    for (std::uint8_t b : {0xA5, 0x5A, 0xAA, 0x04, 0x1B, 0x00})
        line.push_back(b);
    EXPECT_EQ(runFor(line, 1500), Outcome::Ok);
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(countCommand(port->written, 'P'), 1);
    const int r = countCommand(port->written, 'R');
    EXPECT_GE(r, 1);
    EXPECT_LE(r, 9);
    EXPECT_EQ(views.idataLines()[0].substr(0, 16), "00H  00 00 05 06");
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(core.channel.debug_mode());
}

TEST_F(DebugPortRun, AFrameThatStopsArrivingIsAskedForAgain) {
    const Bytes full = onLine(report(2, Bytes(100, 1)));
    EXPECT_EQ(runFor(Bytes(full.begin(), full.begin() + 40), 3000), Outcome::Ok);
    EXPECT_EQ(countCommand(port->written, 'R'), 3);
    EXPECT_EQ(countCommand(port->written, 'P'), 0);
}

TEST_F(DebugPortRun, ContinueSendsTOnlyOnAnOpenPort) {
    control.continueRun = true;
    EXPECT_EQ(runFor({}, 300), Outcome::Ok);
    EXPECT_EQ(countCommand(port->written, 'T'), 1);

    // The reopen for Continue fails: no T, the box, and the operation ends by itself.
    port->written.clear();
    port->opensBeforeFailure = 1;
    control.continueRun = true;
    EXPECT_EQ(runFor({}, 1000), Outcome::PortLost);
    EXPECT_EQ(countCommand(port->written, 'T'), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].title, "  调试用串口     ");
}

TEST_F(DebugPortRun, APortThatDoesNotOpenRaisesTheDebugPortBox) {
    port->openError = ENOENT;
    EXPECT_EQ(runFor({}, 100), Outcome::PortLost);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].title, "  调试用串口     ");
    EXPECT_TRUE(port->written.empty());
}

}  // namespace
}  // namespace qmx
