// Shared pieces of the qmx-isp command line: the face that prints to the terminal, the exit
// codes, and how each command file registers itself.
#pragma once

#include <sys/types.h>

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "core/isp_core.h"
#include "core/language.h"
#include "core/session_state.h"
#include "core/ui.h"

namespace qmx::cli {

// Exit statuses scripts rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed =
    1;  // the operation failed (no answer, wrong model, erase/program/option failure)
inline constexpr int kExitBadInput =
    2;  // bad command line or bad input (unknown model, unreadable file, ...)
inline constexpr int kExitStopped = 3;  // stopped by the user (SIGINT)
inline constexpr int kExitPort = 4;     // the port could not be opened or vanished

// The buffer start address box holds five hexadecimal digits.
inline constexpr long kMaxStartAddress = 0xFFFFF;

// How much the command line says: errors only (-q), the log (default), or the log with
// timestamps and a decoded trace of the frames (-v).
enum class Verbosity { Quiet, Normal, Verbose };

// The terminal face: message lines to stdout as they are appended (to stderr when stdout
// carries JSON results), error lines and message boxes on stderr (boxes answered by --yes or
// their default button), progress on stderr (a bar on a terminal, a line every 10 % in a log),
// and the --trace hex dump or the -v frame trace on stderr.
class CliUi : public Ui {
  public:
    bool assumeYes = false;
    bool trace = false;
    bool progressOnTerminal = false;
    Verbosity verbosity = Verbosity::Normal;
    bool json = false;
    // The language of the system's texts (--lang, or the environment).
    void setLanguage(Language language) { localizer_.setLanguage(language); }
    Language language() const { return localizer_.language(); }
    // One text on its own (a box, a warning, a progress line) in that language.
    std::string inLanguage(const std::string& text) const {
        return localize(text, language()).value_or(std::string());
    }

    void appendMessage(const std::string& line) override;
    void appendError(const std::string& line) override;
    void clearMessages() override;
    BoxAnswer messageBox(const MessageBoxRequest& box) override;
    void setProgress(int value, int minimum, int maximum, bool visible) override;
    void setKbyteLabel(const std::string& text) override { kbytes_ = text; }
    void traceBytes(bool outgoing, const unsigned char* data, std::size_t count) override;
    void detailMessage(const std::string& line) override;
    void traceSettings(const std::string& settings) override;

    // Message-box texts seen so far (the `image` command prints them, download checks them).
    int boxesShown = 0;

    // One JSON result object on stdout (--format json only).
    void result(const std::string& jsonObject);
    // Called after every chip a download programmed (the success counter moved).
    std::function<void()> onChipDone;
    void successCountChanged(const std::string&) override {
        if (onChipDone) onChipDone();
    }

  private:
    Localizer localizer_;
    void endProgressLine();
    void writeLine(std::FILE* stream, const std::string& text);
    void traceFrame(bool outgoing);
    bool progressShown_ = false;
    std::string kbytes_;  // the kilobyte label: how much of the image is written
    std::chrono::steady_clock::time_point progressStart_{};
    int lastStep_ = -1;  // the last 10 % step printed as a line
    int lastPct_ = -1;
    std::vector<unsigned char> traceIn_, traceOut_;  // bytes of the frame being decoded
    long syncBlocks_ = 0;                            // sync blocks sent since the last frame
};

// What every command gets: the global options and a lazily created core.
struct Context {
    std::string settingsPath;  // --settings FILE, empty = the default path
    bool trace = false;
    bool yes = false;
    bool quiet = false;
    bool verbose = false;
    std::string format = "text";  // text or json
    std::string lang;             // en, zh or both; empty: from the environment
    CliUi ui;
    // Creates the core on first use, opening the settings store.
    IspCore& core();
    std::unique_ptr<IspCore> corePtr;
};

// A command adds its subcommand to the app and returns the function that runs it.
using Runner = std::function<int()>;
using Registrar = std::function<Runner(CLI::App& app, Context& ctx)>;

// Each command file defines one registrar; main.cpp lists them.
Runner registerModels(CLI::App& app, Context& ctx);
Runner registerOptions(CLI::App& app, Context& ctx);
Runner registerImage(CLI::App& app, Context& ctx);
Runner registerSave(CLI::App& app, Context& ctx);
Runner registerPorts(CLI::App& app, Context& ctx);
Runner registerReadOptions(CLI::App& app, Context& ctx);
Runner registerConnect(CLI::App& app, Context& ctx);
Runner registerDownload(CLI::App& app, Context& ctx);
Runner registerDemo(CLI::App& app, Context& ctx);
Runner registerIspDemo(CLI::App& app, Context& ctx);
Runner registerOfflineBoard(CLI::App& app, Context& ctx);
Runner registerSoftIce(CLI::App& app, Context& ctx);
Runner registerDebug(CLI::App& app, Context& ctx);

// Installs the SIGINT handler: the first SIGINT sets the core's stop flag, a second one
// exits at once with status 3.
void installStopHandler(IspCore& core);
// The same for several cores at once (a gang): the first SIGINT stops them all.
void installStopHandler(const std::vector<IspCore*>& cores);
// Whether a SIGINT has come since the start (a session may clear its core's stop flag).
bool stopSignalled();
// A second SIGINT quits at once; before it does, it kills `child` (when above 0) and empties
// and removes `folder` (when not empty): the demo's simulated chip and its private folder, so
// that quitting never leaves a simulator running. clearQuitCleanup forgets both.
void setQuitCleanup(pid_t child, const std::string& folder);
void clearQuitCleanup();

// Exit status for how an operation ended.
int exitFor(Outcome outcome);
inline int exitFor(const OpResult& result) {
    return exitFor(result.outcome);
}

// Adds --timeout SECONDS (the wait for a chip to answer; 0 waits for ever) to a command.
void addTimeoutOption(CLI::App* command, double& seconds);

// The catalogue entry of a --model value; prints why on stderr and returns null when unknown.
const ModelEntry* lookupModel(const std::string& name);

// True when --max-baud names a rate of the maximum-baud list; prints the list otherwise.
bool checkMaxBaud(long baud);

// The language of the command line's own error lines (--lang), set once the arguments are
// read; printError() prints "qmx-isp: TEXT" on stderr with TEXT in that language.
void setErrorLanguage(Language language);
void printError(const std::string& text);

// Parses hexadecimal text as the window's hexadecimal boxes do; false when not hexadecimal.
bool parseHex(const std::string& text, long& value);
// parseHex for option `name` whose value must lie in min ... max; prints why on stderr and
// returns false otherwise (a box would cut a longer number to its last digits).
bool parseHexInRange(const std::string& name, const std::string& text, long min, long max,
                     long& value);

}  // namespace qmx::cli
