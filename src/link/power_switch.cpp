#include "link/power_switch.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fmt/core.h>

#include "link/serial_channel.h"

extern char** environ;

namespace qmx {

namespace {

constexpr int kCommandTimeoutMs = 10000;

ModemLine lineOf(PowerSwitchKind kind) {
    return kind == PowerSwitchKind::Rts || kind == PowerSwitchKind::RtsInverted ? ModemLine::Rts
                                                                                : ModemLine::Dtr;
}

bool runSwitchCommand(SerialChannel& channel, const std::string& command, const char* argument,
                      std::string& error) {
    const std::string line = command + " " + argument;
    const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
    if (rc != 0) {
        error = fmt::format("the power switch command \"{}\" could not be started: {}", line,
                            std::strerror(rc));
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCommandTimeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            error = fmt::format("the power switch command \"{}\" was lost: {}", line,
                                std::strerror(errno));
            return false;
        }
        if (channel.stop_requested() || std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, &status, 0);
            error = channel.stop_requested()
                        ? fmt::format("the power switch command \"{}\" was stopped", line)
                        : fmt::format("the power switch command \"{}\" did not finish within {} s",
                                      line, kCommandTimeoutMs / 1000);
            return false;
        }
        channel.wait_ms(5);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    error = WIFEXITED(status)
                ? fmt::format("the power switch command \"{}\" failed (exit status {})", line,
                              WEXITSTATUS(status))
                : fmt::format("the power switch command \"{}\" was killed by signal {}", line,
                              WTERMSIG(status));
    return false;
}

}  // namespace

std::string PowerCycle::text() const {
    switch (kind) {
        case PowerSwitchKind::None:
            return {};
        case PowerSwitchKind::Dtr:
            return "dtr";
        case PowerSwitchKind::Rts:
            return "rts";
        case PowerSwitchKind::DtrInverted:
            return "dtr-inverted";
        case PowerSwitchKind::RtsInverted:
            return "rts-inverted";
        case PowerSwitchKind::Command:
            return "cmd:" + command;
    }
    return {};
}

std::optional<PowerCycle> parsePowerCycle(const std::string& text, std::string& error) {
    PowerCycle c;
    if (text == "dtr")
        c.kind = PowerSwitchKind::Dtr;
    else if (text == "rts")
        c.kind = PowerSwitchKind::Rts;
    else if (text == "dtr-inverted")
        c.kind = PowerSwitchKind::DtrInverted;
    else if (text == "rts-inverted")
        c.kind = PowerSwitchKind::RtsInverted;
    else if (text.rfind("cmd:", 0) == 0 && text.find_first_not_of(" \t", 4) != std::string::npos) {
        c.kind = PowerSwitchKind::Command;
        c.command = text.substr(4);
    } else {
        error = "the power switch must be dtr, rts, dtr-inverted, rts-inverted or cmd:COMMAND";
        return std::nullopt;
    }
    return c;
}

bool powerOnLevel(PowerSwitchKind kind) {
    return kind == PowerSwitchKind::Dtr || kind == PowerSwitchKind::Rts;
}

bool switchPower(SerialChannel& channel, const PowerCycle& cycle, bool on, std::string& error) {
    switch (cycle.kind) {
        case PowerSwitchKind::None:
            return true;
        case PowerSwitchKind::Command:
            return runSwitchCommand(channel, cycle.command, on ? "on" : "off", error);
        default:
            break;
    }
    const ModemLine line = lineOf(cycle.kind);
    const bool level = on == powerOnLevel(cycle.kind);
    if (channel.hold_modem_line(line, level)) return true;
    error = fmt::format("the port cannot switch its {} line (it has no modem lines)",
                        line == ModemLine::Dtr ? "DTR" : "RTS");
    return false;
}

}  // namespace qmx
