#include "cli/download_support.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "catalogue/option_set.h"
#include "cli/stdio_file.h"
#include "image/hex_loader.h"
#include "ops/download_driver.h"
#include "ops/production_setup.h"
#include "ops/serial_number_store.h"
#include "settings/settings_keys.h"

namespace qmx::cli {

namespace fs = std::filesystem;

std::vector<std::string> paneLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (;;) {
        const std::size_t crlf = text.find("\r\n", at);
        if (crlf == std::string::npos) {
            lines.push_back(text.substr(at));
            return lines;
        }
        lines.push_back(text.substr(at, crlf - at));
        at = crlf + 2;
    }
}

void PaneEchoUi::appendMessage(const std::string& line) {
    for (const std::string& l : paneLines(line))
        lines_.push_back(l);
    inner_.appendMessage(line);
}

void PaneEchoUi::appendError(const std::string& line) {
    for (const std::string& l : paneLines(line))
        lines_.push_back(l);
    inner_.appendError(line);
}

void PaneEchoUi::clearMessages() {
    lines_.clear();
    inner_.clearMessages();
}

void PaneEchoUi::replaceMessages(const std::string& text) {
    std::vector<std::string> now = paneLines(text);
    std::size_t same = 0;
    while (same < now.size() && same < lines_.size() && now[same] == lines_[same])
        ++same;
    for (std::size_t i = same; i < now.size(); ++i)
        inner_.appendMessage(now[i]);
    lines_ = std::move(now);
}

namespace {

bool parseSerial(const std::string& text, SerialNumberSpec& spec, std::string& error) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ','))
        parts.push_back(part);
    if (parts.size() != 5) {
        error = "--serial wants ADDR,COUNT,NEXT,INCREMENT,FORMAT";
        return false;
    }
    std::string format = parts[4];
    for (char& c : format)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (format == "hex")
        spec.format = SerialFormat::Binary;
    else if (format == "bcd")
        spec.format = SerialFormat::Bcd;
    else if (format == "ascii")
        spec.format = SerialFormat::Ascii;
    else {
        error = "--serial FORMAT must be hex, bcd or ascii";
        return false;
    }
    long address = 0;
    if (!parseHexInRange("--serial ADDR", parts[0], 0, kMaxStartAddress, address)) {
        error = "--serial ADDR must be a hexadecimal address";
        return false;
    }
    spec.addressText = parts[0];
    spec.lengthText = parts[1];
    spec.nextValueText = parts[2];
    spec.incrementText = parts[3];
    serialParametersEdited(spec);
    return true;
}

Outcome firstSession(IspCore& core, const DownloadSetup& setup) {
    switch (setup.road) {
        case DownloadSetup::Road::UserCodeFirst:
            return run_user_code_download(core, setup.userEntry);
        case DownloadSetup::Road::IspDemo:
            return run_isp_demo(core, setup.userEntry, setup.series);
        case DownloadSetup::Road::BootLoader:
            break;
    }
    return run_download_session(core, setup.series ? 1 : 0).outcome;
}

}  // namespace

std::string consentReason(const LoadResult& loaded) {
    if (loaded.badRecords > 0) return "has records with a bad checksum";
    if (loaded.incompleteHex() && loaded.dataRecords == 0) return "holds no HEX data record";
    if (loaded.incompleteHex()) return "has no HEX end record (it may be cut short)";
    return "does not fit the model's memory (the part outside was dropped)";
}

namespace {

// Each step below prints what is wrong on stderr and returns false when the command line (or
// what it names) cannot be used.

// The settings store (the same as the window's), the model, the port and the production
// choices.
bool setUpStation(IspCore& core, const DownloadSetup& setup, StoredSettings& saved) {
    const std::filesystem::path store =
        setup.settingsPath.empty() ? SettingsStore::defaultPath() : fs::path(setup.settingsPath);
    if (!core.settings.open(store) && !core.settings.warning().empty())
        printError(core.settings.warning());
    saved = loadStoredSettings(core.settings);
    core.model = setup.model;
    core.portPath = setup.port;
    core.maxBaud = setup.maxBaud;
    core.powerCycle = setup.powerCycle;
    if (setup.logFile.empty()) return true;
    const std::string error = openProductionLog(core, setup.logFile);
    if (!error.empty()) printError(error);
    return error.empty();
}

// The stored option choices, then each --option over them.
bool setOptions(IspCore& core, const DownloadSetup& setup, const StoredSettings& saved) {
    const int family = setup.model->family;
    resetOptionPage(core.options, family);
    applyToOptionChoices(saved, core.options);
    for (const std::string& assignment : setup.options) {
        const std::string error = setOption(core.options, family, assignment);
        if (!error.empty()) {
            printError("--option " + assignment + ": " + error);
            return false;
        }
    }
    return true;
}

// --fill, or the stored fill byte.
bool setFillByte(CodeBuffer& buffer, const DownloadSetup& setup, const StoredSettings& saved) {
    std::string fill = setup.fill;
    if (fill.empty()) fill = saved.fillByteChoice == 1 ? "00" : "FF";
    for (char& c : fill)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (fill != "FF" && fill != "00") {
        std::fprintf(stderr, "qmx-isp: --fill must be FF or 00\n");
        return false;
    }
    buffer.fillByte = fill == "FF" ? 0xFF : 0x00;
    return true;
}

// The image file (standard input for "-") into a cleared buffer; a file that loaded with a
// fault is programmed only with --yes.
bool loadImage(IspCore& core, const DownloadSetup& setup) {
    CodeBuffer& buffer = core.buffer;
    buffer.startAddressText = setup.startText;
    buffer.currentPath = setup.file;
    if (isStdio(setup.file)) {
        // Standard input can be read once: no reload, no watch.
        if (setup.reload || setup.watch) {
            std::fprintf(stderr, "qmx-isp: --reload and --watch need a file, not '-'\n");
            return false;
        }
        std::string error;
        buffer.currentPath = stdinAsFile(error);
        if (buffer.currentPath.empty()) {
            std::fprintf(stderr, "qmx-isp: %s\n", error.c_str());
            return false;
        }
    }
    // One file per download: every (re)load replaces the previous contents, so bytes of an
    // older build can never be programmed along with a newer one.
    buffer.clearOnLoad = true;
    const LoadResult loaded = loadSelectedFile(buffer, *setup.model, core.serial, core.ui());
    if (!loaded.loaded() || !buffer.imageLoaded) {
        printError(setup.file + " could not be loaded");
        return false;
    }
    if (loaded.needsConsent() && !setup.assumeYes) {
        printError(setup.file + " " + consentReason(loaded) +
                   "; not programmed (use --yes to program it anyway)");
        return false;
    }
    return true;
}

// --serial: the auto-increment parameters, checked and placed into the buffer.
bool setSerialNumber(IspCore& core, const DownloadSetup& setup) {
    if (setup.serial.empty()) return true;
    std::string error;
    if (!parseSerial(setup.serial, core.serial, error)) {
        std::fprintf(stderr, "qmx-isp: %s\n", error.c_str());
        return false;
    }
    if (!serialCheckBoxChanged(core.serial, true, core.buffer, *setup.model, core.settings,
                               core.ui())) {
        printError("invalid serial-number parameters");
        return false;
    }
    return true;
}

}  // namespace

int prepareCore(IspCore& core, const DownloadSetup& setup) {
    long start = 0;
    if (!parseHexInRange("--start", setup.startText, 0, kMaxStartAddress, start))
        return kExitBadInput;
    StoredSettings saved;
    if (!setUpStation(core, setup, saved) || !setOptions(core, setup, saved) ||
        !setFillByte(core.buffer, setup, saved) || !loadImage(core, setup) ||
        !setSerialNumber(core, setup))
        return kExitBadInput;
    return -1;
}

int runDownload(IspCore& core, Ui& face, const DownloadSetup& setup) {
    PaneEchoUi echo(face);
    Ui* previous = &core.ui();
    core.setUi(&echo);
    struct Restore {
        IspCore& core;
        Ui* ui;
        ~Restore() { core.setUi(ui); }
    } restore{core, previous};

    const int prepared = prepareCore(core, setup);
    if (prepared >= 0) return prepared;
    CodeBuffer& buffer = core.buffer;
    const StoredSettings saved = loadStoredSettings(core.settings);

    DownloadChoices& choices = core.download;
    choices.reloadFile = setup.reload;
    choices.reloadOnChange = setup.watch;
    choices.seriesDelayRow = 9 - setup.delaySeconds;
    choices.seriesLimit = setup.count;
    choices.beepOnSuccess = saved.beep;
    choices.writeOkCount = saved.writeOkCount;
    choices.refuseBadRecords = !setup.assumeYes;

    installStopHandler(core);
    FileWatch watch;
    watch.tick(buffer, setup.watch, false);  // remember the file as it was loaded

    int code = exitFor(firstSession(core, setup));
    // Ctrl-C in the first session ends a watch as it does in every later one.
    if (!setup.watch || code == kExitStopped) return code;

    // Watch: download again whenever the file changes, until Ctrl-C.
    core.session.stop_requested = core.session.stop_for_good.load();
    // Each download ends with its own Stop, which sets the session's stop flag; it is cleared
    // here again. A Ctrl-C is a stop for good: no session or clear undoes it.
    while (!core.session.stop_requested && !stopSignalled()) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (core.session.stop_requested || stopSignalled()) break;
        if (watch.tick(buffer, true, core.session.session_running)) {
            code = exitFor(reloadAndDownload(core));
            if (code == kExitStopped) return code;  // Ctrl-C in a session ends the watch too
            core.session.stop_requested = core.session.stop_for_good.load();
        }
    }
    return code;
}

}  // namespace qmx::cli
