// Hands-free boot entry through a modem line: the handshake switches the target's power off,
// waits, switches it on and only then sends the first synchronisation bytes. Checked against a
// scripted port that records each line change and each write with its time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "fake_port.h"
#include "link/connection_facts.h"
#include "link/handshake.h"
#include "link/serial_channel.h"
#include "support/recording_ui.h"

namespace qmx {
namespace {

using Clock = std::chrono::steady_clock;

struct LineChange {
    ModemLine line;
    bool asserted;
    Clock::time_point at;
};

// Records modem-line changes; the first synchronisation write ends the handshake (Stop), since
// no chip answers here.
class ModemPort : public test::FakePort {
  public:
    bool hasModemLines = true;
    std::vector<LineChange> changes;
    Clock::time_point firstWrite{};
    std::atomic<bool>* stop = nullptr;

    bool setModemLine(ModemLine line, bool asserted) override {
        if (!hasModemLines) return false;
        changes.push_back({line, asserted, Clock::now()});
        return true;
    }
    long write(const std::uint8_t* data, std::size_t count) override {
        if (firstWrite == Clock::time_point{}) firstWrite = Clock::now();
        stop->store(true);
        return FakePort::write(data, count);
    }
};

struct Rig {
    SerialChannel channel;
    ConnectionFacts facts;
    test::RecordingUi ui;
    std::atomic<bool> stop{false};
    ModemPort* port = nullptr;

    explicit Rig(bool modemLines = true) {
        auto p = std::make_unique<ModemPort>();
        port = p.get();
        port->hasModemLines = modemLines;
        port->stop = &stop;
        channel.setPort(std::move(p));
        channel.setStopFlag(&stop);
    }

    OpResult run(const std::string& mode, int offMs) {
        std::string error;
        auto cycle = parsePowerCycle(mode, error);
        EXPECT_TRUE(cycle) << error;
        cycle->offMs = offMs;
        LinkContext link{channel, facts, ui, {}};
        link.choices.portPath = "/dev/ttyFAKE";
        link.choices.powerCycle = *cycle;
        return handshake(link, {});
    }
};

TEST(PowerCycle, EachModeSwitchesItsLineOffWaitsThenOnBeforeTheFirstSync) {
    struct Case {
        const char* mode;
        ModemLine line;
        bool onLevel;
    };
    for (const Case c : {Case{"dtr", ModemLine::Dtr, true}, Case{"rts", ModemLine::Rts, true},
                         Case{"dtr-inverted", ModemLine::Dtr, false},
                         Case{"rts-inverted", ModemLine::Rts, false}}) {
        SCOPED_TRACE(c.mode);
        Rig rig;
        const auto began = Clock::now();
        EXPECT_EQ(rig.run(c.mode, 120).outcome, Outcome::Stopped);
        const auto& ch = rig.port->changes;
        ASSERT_EQ(ch.size(), 2u);
        EXPECT_EQ(ch[0].line, c.line);
        EXPECT_EQ(ch[1].line, c.line);
        EXPECT_EQ(ch[0].asserted, !c.onLevel);  // off first
        EXPECT_EQ(ch[1].asserted, c.onLevel);   // then on
        EXPECT_GE(ch[0].at, began);
        EXPECT_GE(ch[1].at - ch[0].at, std::chrono::milliseconds(120));
        // Nothing is sent while the power is off: the sync follows the switch-on.
        ASSERT_NE(rig.port->firstWrite, Clock::time_point{});
        EXPECT_GE(rig.port->firstWrite, ch[1].at);
        ASSERT_GE(rig.port->written.size(), 2u);
        EXPECT_EQ(rig.port->written[0], 0x7F);
    }
}

TEST(PowerCycle, APortWithoutModemLinesFailsClearlyAndSendsNothing) {
    Rig rig(false);
    const OpResult r = rig.run("dtr", 300);
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_TRUE(rig.ui.saw("Power switch failure")) << r.message;
    EXPECT_TRUE(rig.ui.saw("DTR"));
    EXPECT_TRUE(rig.port->written.empty());
}

TEST(PowerCycle, ModeTextsParseAndOthersAreRefused) {
    std::string error;
    auto cmd = parsePowerCycle("cmd:relay.sh 3", error);
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->kind, PowerSwitchKind::Command);
    EXPECT_EQ(cmd->command, "relay.sh 3");
    EXPECT_EQ(cmd->text(), "cmd:relay.sh 3");
    for (const char* bad : {"", "DTR", "cmd:", "cmd:  ", "dtr-invert", "rts,dtr"}) {
        error.clear();
        EXPECT_FALSE(parsePowerCycle(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace qmx
