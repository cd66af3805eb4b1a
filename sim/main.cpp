// qmx-chipsim: a simulated QMX chip behind a pseudo-terminal.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include "chip.h"
#include "faults.h"
#include "models.h"
#include "offline_board.h"
#include "runner.h"

namespace {

const char* kUsage =
    "Usage: qmx-chipsim --model M --link PATH [options]\n"
    "\n"
    "Plays one chip of model M behind a pseudo-terminal whose slave is linked to PATH.\n"
    "Prints \"ready PATH\" once it listens.\n"
    "\n"
    "  --model M              catalogue name of the chip (M-001 ... M-102); --list-models shows "
    "them\n"
    "  --link PATH            symbolic link to the terminal (an old link there is replaced)\n"
    "  --clock HZ             oscillator of the chip (default 11059200)\n"
    "  --firmware V           boot-loader version and letter, e.g. 3.6C (default: typical of the\n"
    "                         family: 2.1A, 3.2B, 3.6C, 3.5D, 3.6E)\n"
    "  --options HEX[,HEX..]  present option bytes (default: those of an erased chip)\n"
    "  --power-on-delay MS    the chip is off until then (default 0)\n"
    "  --sync-window MS       after power-on the loader waits this long for sync, then runs the\n"
    "                         user program until the next power-on (default 0: waits for ever)\n"
    "  --chips N              after each run command a fresh blank chip replaces the last (after\n"
    "                         --swap-delay MS, default 1500); leave after N chips (default 1)\n"
    "  --flash-out FILE       flash (0 to the model's last address) written after each run "
    "command\n"
    "                         and at exit; numbered FILE.1, FILE.2 ... when --chips is given\n"
    "  --wire-time            bytes take their time on the line at the host's rate (default)\n"
    "  --no-wire-time         bytes pass at once\n"
    "  --no-rate-check        accept any host rate (no garbling of mismatched rates)\n"
    "  --fault SPEC           drop=P,corrupt=P,delay=MS,mute-after=N,vanish-after=N,seed=S,\n"
    "                         option-busy=N,noise=N,max-rate=BAUD,option-ignore=N,\n"
    "                         late-answer=N,late-ms=MS,lose-write=N\n"
    "  --personality P        bootloader (default), offline-board, monitor (reports from the\n"
    "                         start) or app (a running user application)\n"
    "  --board-version V      offline board: firmware version, e.g. 16 or 1.6 (default 16)\n"
    "  --board-capacity K     offline board: store in KB, 0-255 (default 64)\n"
    "  --board-extended       offline board: takes the extended second phase\n"
    "  --report-period MS     monitor: the program runs this long between report cycles "
    "(default 200)\n"
    "  --breakpoint-after N   monitor: pause after every N-th cycle until T (default 0: never)\n"
    "  --window-base HEX      monitor: base of the 512-byte window report (default 1000)\n"
    "  --user-code HEX        app: the bytes that make the application leave, e.g. \"12 34 AB\"\n"
    "  --in-app-loader        app: the application answers 5A A5 loader frames itself\n"
    "  --log FILE             one line per frame received and sent\n"
    "  --flags HEX            feature-flags byte of the status frame instead of the firmware's\n"
    "  --short-status         old loader: 24-byte status frame without identification\n"
    "  --short-block-answers  block writes answered with the 6-byte frame (no data sum)\n"
    "  --list-models          print the models and leave\n"
    "  --version              print the version and leave\n"
    "\n"
    "Control lines on stdin: power-on, power-off, dump FILE, quit.\n"
    "SIGTERM writes the flash file and exits 0.\n";

int fail(const std::string& text) {
    std::fprintf(stderr, "qmx-chipsim: %s\n", text.c_str());
    return 2;
}

bool parseLong(const std::string& s, long lo, long hi, long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(s.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0' && out >= lo && out <= hi;
}

bool parseHexByte(const std::string& s, std::uint8_t& out) {
    std::string t = s;
    if (t.size() > 2 && (t.rfind("0x", 0) == 0 || t.rfind("0X", 0) == 0)) t = t.substr(2);
    if (t.empty() || t.size() > 2) return false;
    char* end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 16);
    if (!end || *end != '\0' || v < 0 || v > 255) return false;
    out = static_cast<std::uint8_t>(v);
    return true;
}

// "12 34 AB" or "1234AB": pairs of hexadecimal digits, blanks anywhere between pairs.
bool parseHexBytes(const std::string& text, qmxsim::Bytes& out) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return true;
}

struct CommandLine {
    qmxsim::RunnerOptions opt;
    std::string model, firmware, options, personality = "bootloader", faultText;
    std::string clockText, flagsText;
    bool shortStatus = false;
    bool shortBlockAnswers = false;
    qmxsim::BoardConfig board;
};

// Where reading the command line ends: nothing to go on, or the exit code to leave with.
using Exit = std::optional<int>;

int listModels() {
    for (const auto& m : qmxsim::allModels()) {
        std::printf("%s family %d id %02X %02X last %04X\n", m.name.c_str(), m.family, m.id1, m.id2,
                    m.lastAddress());
    }
    return 0;
}

// The options without a value; false when `arg` is none of them.
bool applySwitch(const std::string& arg, CommandLine& cl) {
    if (arg == "--wire-time")
        cl.opt.wireTime = true;
    else if (arg == "--no-wire-time")
        cl.opt.wireTime = false;
    else if (arg == "--no-rate-check")
        cl.opt.rateCheck = false;
    else if (arg == "--short-status")
        cl.shortStatus = true;
    else if (arg == "--in-app-loader")
        cl.opt.appConfig.inAppLoader = true;
    else if (arg == "--short-block-answers")
        cl.shortBlockAnswers = true;
    else
        return false;
    return true;
}

bool takesValue(const std::string& arg) {
    static const char* const kValued[] = {
        "--model",       "--link",       "--clock",         "--firmware",      "--options",
        "--chips",       "--swap-delay", "--flash-out",     "--fault",         "--personality",
        "--log",         "--flags",      "--sync-window",   "--report-period", "--breakpoint-after",
        "--window-base", "--user-code",  "--power-on-delay"};
    for (const char* name : kValued)
        if (arg == name) return true;
    return false;
}

// The timing and monitor options that take a number; false when `arg` is none of them, else
// `error` tells what was wrong with the value (empty when it was taken).
bool applyNumber(const std::string& arg, const std::string& v, CommandLine& cl,
                 std::string& error) {
    long n = 0;
    auto& opt = cl.opt;
    if (arg == "--power-on-delay") {
        if (!parseLong(v, 0, 86400000, n)) error = "--power-on-delay wants milliseconds";
        opt.powerOnDelayMs = static_cast<int>(n);
    } else if (arg == "--sync-window") {
        if (!parseLong(v, 0, 86400000, n)) error = "--sync-window wants milliseconds";
        opt.syncWindowMs = static_cast<int>(n);
    } else if (arg == "--report-period") {
        if (!parseLong(v, 1, 600000, n)) error = "--report-period wants milliseconds";
        opt.monitor.reportPeriodMs = static_cast<int>(n);
    } else if (arg == "--breakpoint-after") {
        if (!parseLong(v, 0, 1000000, n)) error = "--breakpoint-after wants a count";
        opt.monitor.breakpointAfter = static_cast<int>(n);
    } else if (arg == "--window-base") {
        char* end = nullptr;
        const long base = std::strtol(v.c_str(), &end, 16);
        if (v.empty() || !end || *end != '\0' || base < 0 || base > 0xFE00)
            error = "--window-base wants a hexadecimal address up to FE00";
        opt.monitor.windowBase = base & 0xFE00;
    } else if (arg == "--chips") {
        if (!parseLong(v, 1, 1000000, n)) error = "--chips wants a count of 1 or more";
        opt.chips = static_cast<int>(n);
        opt.chipsGiven = true;
    } else if (arg == "--swap-delay") {
        if (!parseLong(v, 0, 86400000, n)) error = "--swap-delay wants milliseconds";
        opt.swapDelayMs = static_cast<int>(n);
    } else {
        return false;
    }
    return true;
}

// An option with its value; the message to leave with, empty when the value was taken.
std::string applyValue(const std::string& arg, const std::string& v, CommandLine& cl) {
    std::string error;
    if (applyNumber(arg, v, cl, error)) return error;
    if (arg == "--model")
        cl.model = v;
    else if (arg == "--link")
        cl.opt.link = v;
    else if (arg == "--clock")
        cl.clockText = v;
    else if (arg == "--firmware")
        cl.firmware = v;
    else if (arg == "--options")
        cl.options = v;
    else if (arg == "--flash-out")
        cl.opt.flashOut = v;
    else if (arg == "--fault")
        cl.faultText = v;
    else if (arg == "--personality")
        cl.personality = v;
    else if (arg == "--log")
        cl.opt.logPath = v;
    else if (arg == "--user-code" && !parseHexBytes(v, cl.opt.appConfig.userCode))
        return "--user-code wants hexadecimal bytes such as \"12 34 AB\"";
    else if (arg == "--flags")
        cl.flagsText = v;
    return {};
}

Exit readArguments(int argc, char** argv, CommandLine& cl) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
        }
        auto need = [&](std::string& dst) -> bool {
            if (inlineValue) {
                dst = value;
                return true;
            }
            if (i + 1 >= argc) return false;
            dst = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("qmx-chipsim %s\n", QMX_VERSION);
            return 0;
        }
        if (arg == "--list-models") return listModels();
        if (applySwitch(arg, cl)) continue;
        if (takesValue(arg)) {
            if (!need(v)) return fail("option " + arg + " needs a value\n\n" + kUsage);
            const std::string error = applyValue(arg, v, cl);
            if (!error.empty()) return fail(error);
        } else if (arg.rfind("--board-", 0) == 0) {
            if (qmxsim::boardOptionTakesValue(arg) && !need(v))
                return fail("option " + arg + " needs a value\n\n" + kUsage);
            bool known = false;
            const std::string error = qmxsim::setBoardOption(cl.board, arg, v, known);
            if (!known) return fail("unknown argument " + arg + "\n\n" + kUsage);
            if (!error.empty()) return fail(error);
        } else {
            return fail("unknown argument " + arg + "\n\n" + kUsage);
        }
    }
    return std::nullopt;
}

Exit choosePersonality(CommandLine& cl) {
    auto& opt = cl.opt;
    const std::string& personality = cl.personality;
    opt.monitorOnly = personality == "monitor";
    opt.app = personality == "app";
    if (!opt.app && (opt.appConfig.inAppLoader || !opt.appConfig.userCode.empty()))
        return fail("--user-code and --in-app-loader belong to --personality app");
    if (personality == "offline-board") {
        opt.makeChip =
            [board = cl.board](const qmxsim::ChipConfig& c) -> std::unique_ptr<qmxsim::Chip> {
            return std::make_unique<qmxsim::OfflineBoard>(c, board);
        };
    } else if (personality != "bootloader" && personality != "monitor" && !opt.app) {
        if (personality == "isp-demo") {
            return fail("personality " + personality +
                        " is not available in this build; bootloader, offline-board, monitor "
                        "and app are");
        }
        return fail("unknown personality " + personality +
                    " (known: bootloader, app, offline-board, monitor)");
    }
    return std::nullopt;
}

Exit readOptionBytes(const std::string& text, qmxsim::ChipConfig& c) {
    std::stringstream in(text);
    std::string item;
    std::size_t k = 0;
    while (std::getline(in, item, ',')) {
        if (k >= c.options.size()) return fail("--options takes at most five bytes");
        if (!parseHexByte(item, c.options[k]))
            return fail("--options wants hexadecimal bytes such as FD,F8, got " + item);
        ++k;
    }
    return std::nullopt;
}

// The chip of the model: clock, boot-loader firmware, option bytes and status flags.
Exit configureChip(CommandLine& cl, const qmxsim::ChipModel& m) {
    qmxsim::ChipConfig& c = cl.opt.chip;
    c.model = m;
    if (!cl.clockText.empty()) {
        char* end = nullptr;
        const double hz = std::strtod(cl.clockText.c_str(), &end);
        if (!end || *end != '\0' || !(hz >= 1000 && hz <= 200e6))
            return fail("--clock wants a frequency in Hz from 1000 to 200000000");
        c.clockHz = hz;
    }
    c.firmware = qmxsim::typicalFirmware(m.family);
    if (!cl.firmware.empty()) {
        auto fw = qmxsim::parseFirmware(cl.firmware, c.firmware.letter);
        if (!fw) return fail("--firmware wants a version such as 3.6C, got " + cl.firmware);
        c.firmware = *fw;
    }
    c.options = qmxsim::erasedOptions(m.family);
    if (!cl.options.empty())
        if (Exit end = readOptionBytes(cl.options, c)) return end;
    if (!cl.flagsText.empty()) {
        std::uint8_t f = 0;
        if (!parseHexByte(cl.flagsText, f)) return fail("--flags wants one hexadecimal byte");
        c.flags = f;
    }
    c.shortStatus = cl.shortStatus;
    c.shortBlockAnswers = cl.shortBlockAnswers;
    return std::nullopt;
}

// The faults asked for, handed to the chip and the monitor that play them.
Exit applyFaults(CommandLine& cl) {
    auto& opt = cl.opt;
    if (!cl.faultText.empty()) {
        std::string error;
        auto spec = qmxsim::parseFaultSpec(cl.faultText, error);
        if (!spec) return fail("--fault: " + error);
        opt.fault = *spec;
    }
    qmxsim::ChipConfig& c = opt.chip;
    c.seed = opt.fault.seed;
    // A monitor spoils whole frames: the corrupt chance applies to each report frame.
    opt.monitor.corruptFrames = opt.fault.corrupt;
    opt.monitor.seed = opt.fault.seed;
    c.optionBusy = opt.fault.optionBusy;
    c.optionIgnore = opt.fault.optionIgnore;
    c.lateAnswer = opt.fault.lateAnswer;
    c.lateMs = opt.fault.lateMs;
    c.loseWrite = opt.fault.loseWrite;
    c.maxRate = static_cast<double>(opt.fault.maxRate);
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine cl;
    if (Exit end = readArguments(argc, argv, cl)) return *end;
    if (Exit end = choosePersonality(cl)) return *end;
    if (cl.model.empty()) return fail("--model is required\n\n" + std::string(kUsage));
    if (cl.opt.link.empty()) return fail("--link is required\n\n" + std::string(kUsage));
    const qmxsim::ChipModel* m = qmxsim::findModel(cl.model);
    if (!m) return fail("unknown model " + cl.model + " (see --list-models)");
    if (Exit end = configureChip(cl, *m)) return *end;
    if (Exit end = applyFaults(cl)) return *end;
    return qmxsim::runSimulator(cl.opt);
}
