// Ports named by identity (usb:SERIAL, usb:VID:PID[:N], auto) resolved against a made-up
// enumeration: the right adapter, and a clear refusal when none or several match.
#include <gtest/gtest.h>

#include "link/port_list.h"

namespace qmx {
namespace {

std::vector<PortInfo> bench() {
    auto usb = [](std::string path, std::string serial, int vid, int pid) {
        PortInfo p;
        p.path = std::move(path);
        p.usbSerial = std::move(serial);
        p.usb = true;
        p.vid = vid;
        p.pid = pid;
        return p;
    };
    PortInfo builtIn;
    builtIn.path = "/dev/ttyS0";
    // Listed out of path order on purpose: N counts in path order.
    return {usb("/dev/ttyUSB2", "FT3", 0x0403, 0x6001), builtIn,
            usb("/dev/ttyUSB0", "FT1", 0x0403, 0x6001), usb("/dev/ttyACM0", "", 0x1a86, 0x7523)};
}

std::string resolved(const std::string& spec, const std::vector<PortInfo>& ports,
                     std::string* error = nullptr) {
    std::string e;
    const std::string path = resolvePort(spec, ports, e);
    if (error) *error = e;
    EXPECT_EQ(path.empty(), !e.empty()) << spec;
    return path;
}

TEST(PortByIdentity, SerialNumberVidPidAndItsIndexFindTheirAdapter) {
    const auto ports = bench();
    EXPECT_EQ(resolved("usb:FT3", ports), "/dev/ttyUSB2");
    EXPECT_EQ(resolved("usb:1A86:7523", ports), "/dev/ttyACM0");
    EXPECT_EQ(resolved("usb:0403:6001:1", ports), "/dev/ttyUSB0");
    EXPECT_EQ(resolved("usb:0403:6001:2", ports), "/dev/ttyUSB2");
    // A path is taken as it is, whether or not the enumeration knows it.
    EXPECT_EQ(resolved("/tmp/qmx-tty", ports), "/tmp/qmx-tty");
    EXPECT_FALSE(portNamedByIdentity("/dev/ttyUSB0"));
}

TEST(PortByIdentity, NoneOrSeveralMatchingIsRefusedNamingWhatWasFound) {
    const auto ports = bench();
    std::string error;
    EXPECT_EQ(resolved("usb:NOPE", ports, &error), "");
    EXPECT_NE(error.find("no serial port matches usb:NOPE"), std::string::npos) << error;
    EXPECT_EQ(resolved("usb:0403:6001", ports, &error), "");
    EXPECT_NE(error.find("/dev/ttyUSB0 (usb:FT1), /dev/ttyUSB2 (usb:FT3)"), std::string::npos)
        << error;
    EXPECT_EQ(resolved("usb:0403:6001:3", ports, &error), "");
    EXPECT_NE(error.find("only 2"), std::string::npos) << error;
    EXPECT_EQ(resolved("usb:0403:6001:0", ports, &error), "");
    EXPECT_EQ(resolved("usb:", ports, &error), "");
    // auto: several USB ports here; exactly one below; none at all.
    EXPECT_EQ(resolved("auto", ports, &error), "");
    EXPECT_NE(error.find("several"), std::string::npos) << error;
    EXPECT_EQ(resolved("auto", {ports[1], ports[3]}), "/dev/ttyACM0");
    EXPECT_EQ(resolved("auto", {ports[1]}, &error), "");
    EXPECT_NE(error.find("no serial port"), std::string::npos) << error;
}

}  // namespace
}  // namespace qmx
