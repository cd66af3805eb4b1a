// Frames on the wire and the transmit primitives of the channel.
#include <gtest/gtest.h>

#include <chrono>

#include "fake_port.h"
#include "link/crc16.h"
#include "link/serial_channel.h"
#include "link/wire_format.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Frames, CommandFrameCountsLengthAndSumFromTheDirectionByte) {
    EXPECT_EQ(wire::statusRequest().bytes, (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x06, 0x50, 0xC0, 0x16}));
    // Watchdog-pin command: 46 B9 6A 00 07 86 P sum 16.
    Bytes wdt = wire::frame(wire::Command::WatchdogPin, {0x01}).bytes;
    EXPECT_EQ(wdt, (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x07, 0x86, 0x01, 0xF8, 0x16}));
    // Rate test and switch: lengths 0C and 0B.
    Bytes test = wire::frame(wire::Command::TestBaud, {0xFF, 0xFD, 0x00, 0x06, 0x28, 0x82}).bytes;
    EXPECT_EQ(test[4], 0x0C);
    EXPECT_EQ(test.size(), 14u);
    Bytes sw = wire::frame(wire::Command::SwitchBaud, {0xFF, 0xFD, 0x00, 0x06, 0x28}).bytes;
    EXPECT_EQ(sw[4], 0x0B);
    unsigned sum = 0;
    for (std::size_t i = 2; i + 2 < sw.size(); ++i)
        sum += sw[i];
    EXPECT_EQ(sw[sw.size() - 2], sum & 0xFF);
    EXPECT_EQ(sw.back(), 0x16);
}

TEST(Frames, ShortCommandsHaveFixedSumsAndOtherCodesNone) {
    const auto afterHead = [](std::uint8_t code) {
        const auto f = wire::shortCommand(static_cast<wire::Command>(code));
        return f ? Bytes(f->bytes.begin() + 2, f->bytes.end()) : Bytes{};
    };
    EXPECT_EQ(afterHead(0x80), (Bytes{0x6A, 0x00, 0x06, 0x80, 0xF0, 0x16}));
    EXPECT_EQ(afterHead(0x81), (Bytes{0x6A, 0x00, 0x06, 0x81, 0xF1, 0x16}));
    EXPECT_EQ(afterHead(0x82), (Bytes{0x6A, 0x00, 0x06, 0x82, 0xF2, 0x16}));
    EXPECT_EQ(afterHead(0x95), (Bytes{0x6A, 0x00, 0x06, 0x95, 0x05, 0x16}));
    EXPECT_FALSE(wire::shortCommand(wire::Command::Erase));
}

TEST(Frames, UserFrameCarriesSixteenBitSumHighFirst) {
    // 5A + A5 + 00 + 08 + B0 = 1B7.
    EXPECT_EQ(wire::userFrame(0xB0), (Bytes{0x5A, 0xA5, 0x00, 0x08, 0xB0, 0x01, 0xB7, 0x16}));
}

TEST(Frames, BoardCommandWithSumOrCrc) {
    // The run command of a family-2 chip: 46 B9 6A 00 08 52 02 00 S 16.
    Bytes run = wire::boardCommand(0x52, 2, 0, false).bytes;
    EXPECT_EQ(run, (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x52, 0x02, 0x00, 0xC6, 0x16}));
    Bytes q = wire::boardCommand(0x51, 3, 0, true).bytes;
    ASSERT_EQ(q.size(), 11u);
    EXPECT_EQ(q[4], 0x09);
    std::uint16_t crc = crc16Modbus(q.data() + 2, 6);
    EXPECT_EQ(q[8], crc & 0xFF);
    EXPECT_EQ(q[9], crc >> 8);
    EXPECT_EQ(q[10], 0x16);
}

TEST(Crc16, ModbusCheckValueAndTables) {
    const char* text = "123456789";
    EXPECT_EQ(crc16Modbus(reinterpret_cast<const std::uint8_t*>(text), 9), 0x4B37);
    EXPECT_EQ(crc16Modbus(nullptr, 0), 0xFFFF);
    EXPECT_EQ(GetCRCHi(1), 0xC0);
    EXPECT_EQ(GetCRCLo(1), 0xC1);
}

class ChannelTx : public ::testing::Test {
  protected:
    void SetUp() override {
        auto p = std::make_unique<test::FakePort>();
        port = p.get();
        ch.setPort(std::move(p));
        ch.set_port_path("/dev/fake");
        ch.set_settings("115200,n,8,1");
        ASSERT_EQ(ch.open_port(), 0);
    }
    SerialChannel ch;
    test::FakePort* port = nullptr;
};

TEST_F(ChannelTx, CommandFrameGoesOutAsBuiltAndArmsTheReceiver) {
    ch.set_frame_ready(true);
    ch.send_frame(wire::statusRequest());
    EXPECT_EQ(port->written, wire::statusRequest().bytes);
    EXPECT_TRUE(ch.receive_armed());
    EXPECT_FALSE(ch.frame_ready());
    EXPECT_EQ(ch.tx_sum(), (0xC0 + 0x16) & 0xFF);  // the end byte goes through send_byte
}

TEST_F(ChannelTx, ShortCommandOutsideTheFourIsRefusedBeforeAnyByteGoesOut) {
    EXPECT_FALSE(ch.send_short_command(wire::Command::Erase));
    EXPECT_TRUE(port->written.empty());
    EXPECT_EQ(ch.tx_sum(), 0);  // not even the header was counted
    EXPECT_TRUE(ch.send_short_command(wire::Command::Stop));
    EXPECT_EQ(port->written, (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x06, 0x82, 0xF2, 0x16}));
}

TEST_F(ChannelTx, ShortCommandOnAPortThatCannotOpenSendsNothing) {
    ch.close_port();
    port->openError = ENOENT;
    EXPECT_FALSE(ch.send_short_command(wire::Command::Continue));
    EXPECT_TRUE(port->written.empty());
}

TEST_F(ChannelTx, PacedBytesKeepTheirOwnSum) {
    ch.send_paced_byte(0xF0, 0);
    ch.send_paced_byte(0x20, 0);
    EXPECT_EQ(ch.paced_sum(), 0x10);
    ch.send_paced_sum();
    EXPECT_EQ(port->written, (Bytes{0xF0, 0x20, 0x10}));
}

TEST_F(ChannelTx, WaitOfZeroReturnsAtOnce) {
    auto t0 = std::chrono::steady_clock::now();
    ch.wait_ms(0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2));
}

TEST_F(ChannelTx, PacingIsAboutSixBitTimesAndSlowsOnANegativeError) {
    ch.pacing().set_baud_error_percent(0.5);
    ch.compute_pacing("115200,n,8,1");
    EXPECT_EQ(ch.pacing().pace_loops(), 52);   // microseconds
    ch.pacing().set_baud_error_percent(-2.0);  // factor 1 + 0.2 × 1 = 1.2
    ch.compute_pacing("9600,n,8,1");
    EXPECT_EQ(ch.pacing().pace_loops(), 750);
}

TEST_F(ChannelTx, VanishedPortEndsWaitsAndWritesWithOneMessage) {
    std::vector<std::string> messages;
    ch.setMessageSink([&](std::string_view m) { messages.emplace_back(m); });
    port->failWith = EIO;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ch.wait_response(2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_TRUE(ch.vanished());
    EXPECT_FALSE(ch.write_bytes(wire::statusRequest().bytes));
    EXPECT_FALSE(ch.wait_response(2000));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("串口已断开"), std::string::npos);
}

TEST_F(ChannelTx, StopFlagEndsAResponseWait) {
    std::atomic<bool> stop{true};
    ch.setStopFlag(&stop);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ch.wait_response(3000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
}

TEST(PortSettingsText, ParsesTheSettingsTexts) {
    auto s = PortSettings::parse("1200,n,8,1");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baud, 1200);
    EXPECT_EQ(s->text(), "1200,n,8,1");
    EXPECT_EQ(PortSettings::parse("14400,E,7,2")->text(), "14400,e,7,2");
    EXPECT_FALSE(PortSettings::parse("fast,n,8,1"));
    EXPECT_FALSE(PortSettings::parse("9600,x,8,1"));
    EXPECT_FALSE(PortSettings::parse("9600,n,9,1"));
    EXPECT_FALSE(PortSettings::parse("9600,n,8"));
    EXPECT_FALSE(PortSettings::parse("0,n,8,1"));
}

TEST(PortSettingsText, RefusedTextKeepsTheOldSettings) {
    SerialChannel ch;
    EXPECT_FALSE(ch.set_settings("abc"));
    EXPECT_EQ(ch.settings(), "1200,n,8,1");
    EXPECT_TRUE(ch.set_settings("11520,n,8,1"));
    EXPECT_EQ(ch.current_baud(), 11520);
}

}  // namespace
}  // namespace qmx
