// The advice for a port that would not open: the fix for each cause.
#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "link/port_advice.h"
#include "support/sim_process.h"

namespace qmx {
namespace {

bool anyLineHas(const std::vector<std::string>& lines, const std::string& needle) {
    for (const auto& l : lines)
        if (l.find(needle) != std::string::npos) return true;
    return false;
}

TEST(PortAdvice, EachCauseNamesItsFix) {
    test::TempDir dir;
    const std::string dev = dir.file("ttyFAKE");
    std::ofstream(dev) << "";

    // Permission: the device's group and how to join it, when the group is not root's.
    const struct group* dialout = ::getgrnam("dialout");
    if (dialout && ::chown(dev.c_str(), static_cast<uid_t>(-1), dialout->gr_gid) == 0) {
        EXPECT_EQ(deviceGroup(dev), "dialout");
        const auto lines = openFailureAdvice(dev, EACCES);
        EXPECT_TRUE(anyLineHas(lines, "Permission denied on " + dev +
                                          " (group dialout): add "
                                          "yourself to group dialout, then log in again"))
            << lines.front();
    }
    EXPECT_TRUE(
        anyLineHas(openFailureAdvice("/dev/null", EPERM), "Permission denied on /dev/null"));

    // Missing: the path, then the ports that exist (or that there are none).
    const auto missing = openFailureAdvice(dir.file("gone"), ENOENT);
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(missing[0].rfind("There is no serial port " + dir.file("gone") + ".", 0), 0u);
    EXPECT_TRUE(missing[1].rfind("Ports that exist: ", 0) == 0 ||
                missing[1].rfind("No serial port is plugged in.", 0) == 0)
        << missing[1];

    EXPECT_TRUE(anyLineHas(openFailureAdvice(dev, ENOTTY), dev + " is not a serial device."));

    // Busy: the holder's id and, from /proc, its name.
    std::string comm;
    std::getline(std::ifstream("/proc/self/comm"), comm);
    const std::string me = std::to_string(::getpid());
    EXPECT_EQ(
        busyPortLine(::getpid()).rfind("COM port in use by process " + me + " (" + comm + ").", 0),
        0u);
    EXPECT_EQ(busyPortLine(0).rfind("COM port in use by another program.", 0), 0u);

    // Causes with nothing more to say add nothing.
    EXPECT_TRUE(openFailureAdvice(dev, EAGAIN).empty());
}

}  // namespace
}  // namespace qmx
