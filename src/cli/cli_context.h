// Shared pieces of the qmx-isp command line: the face that prints to the terminal, the exit
// codes, and how each command file registers itself.
#pragma once

#include <sys/types.h>

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>

#include "catalogue/model_catalogue.h"
#include "core/isp_core.h"
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

// The terminal face: message lines to stdout as they are appended, message boxes marked so
// they stand out and answered by --yes or their default button, a progress bar on stderr when
// stderr is a terminal, and --trace hex dumps on stderr.
class CliUi : public Ui {
  public:
    bool assumeYes = false;
    bool trace = false;
    bool progressOnTerminal = false;

    void appendMessage(const std::string& line) override;
    void clearMessages() override;
    BoxAnswer messageBox(const MessageBoxRequest& box) override;
    void setProgress(int value, int minimum, int maximum, bool visible) override;
    void traceBytes(bool outgoing, const unsigned char* data, std::size_t count) override;

    // Message-box texts seen so far (the `image` command prints them, download checks them).
    int boxesShown = 0;

  private:
    bool progressShown_ = false;
};

// What every command gets: the global options and a lazily created core.
struct Context {
    std::string settingsPath;  // --settings FILE, empty = the default path
    bool trace = false;
    bool yes = false;
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

// The catalogue entry of a --model value; prints why on stderr and returns null when unknown.
const ModelEntry* lookupModel(const std::string& name);

// True when --max-baud names a rate of the maximum-baud list; prints the list otherwise.
bool checkMaxBaud(long baud);

// Parses hexadecimal text as the window's hexadecimal boxes do; false when not hexadecimal.
bool parseHex(const std::string& text, long& value);
// parseHex for option `name` whose value must lie in min ... max; prints why on stderr and
// returns false otherwise (a box would cut a longer number to its last digits).
bool parseHexInRange(const std::string& name, const std::string& text, long min, long max,
                     long& value);

}  // namespace qmx::cli
