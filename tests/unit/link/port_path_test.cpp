// Stable port names: a device reached through /dev/serial/by-id is stored by that link, and a
// stored link finds the device again under whatever ttyUSB number it has now.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/port_path.h"
#include "support/sim_process.h"

namespace qmx {
namespace {

namespace fs = std::filesystem;

TEST(PortPath, StableNameIsTheByIdLinkOfTheSameDevice) {
    test::TempDir dir;
    fs::create_directories(dir.file("dev/serial/by-id"));
    for (const char* tty : {"ttyUSB0", "ttyUSB1", "ttyACM0"})
        std::ofstream(dir.file(std::string("dev/") + tty)).put('x');
    const std::string byId = dir.file("dev/serial/by-id");
    // udev's links are relative; two links to one device give the first name in order.
    fs::create_symlink("../../ttyUSB1", byId + "/usb-FTDI_FT232R_A1B2-if00-port0");
    fs::create_symlink("../../ttyACM0", byId + "/usb-Maker_Board_77-if00");
    fs::create_symlink("../../ttyACM0", byId + "/usb-Maker_Board_77-if00-alias");
    const std::string ftdi = byId + "/usb-FTDI_FT232R_A1B2-if00-port0";

    EXPECT_EQ(stablePortPath(dir.file("dev/ttyUSB1"), byId), ftdi);
    EXPECT_EQ(stablePortPath(dir.file("dev/ttyACM0"), byId), byId + "/usb-Maker_Board_77-if00");
    // No link for it, already a link, gone, or no by-id folder at all: kept as given.
    EXPECT_EQ(stablePortPath(dir.file("dev/ttyUSB0"), byId), dir.file("dev/ttyUSB0"));
    EXPECT_EQ(stablePortPath(ftdi, byId), ftdi);
    EXPECT_EQ(stablePortPath(dir.file("dev/ttyUSB9"), byId), dir.file("dev/ttyUSB9"));
    EXPECT_EQ(stablePortPath(dir.file("dev/ttyUSB1"), dir.file("nowhere")),
              dir.file("dev/ttyUSB1"));
    // A typed link to a pseudo-terminal is its own stable name.
    fs::create_symlink(dir.file("dev/ttyUSB0"), dir.file("qmx-tty"));
    EXPECT_EQ(stablePortPath(dir.file("qmx-tty"), byId), dir.file("qmx-tty"));

    EXPECT_TRUE(samePortDevice(ftdi, dir.file("dev/ttyUSB1")));
    EXPECT_TRUE(samePortDevice(dir.file("qmx-tty"), dir.file("dev/ttyUSB0")));
    EXPECT_FALSE(samePortDevice(ftdi, dir.file("dev/ttyUSB0")));
    EXPECT_FALSE(samePortDevice(dir.file("dev/ttyUSB9"), dir.file("dev/ttyUSB8")));
}

}  // namespace
}  // namespace qmx
