// What `download` and `demo` share: the download options as plain values, the face that
// prints only the new part of a rewritten message pane, and the run of one download (or a
// series, or a watch) with its exit status.
#pragma once

#include <string>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"
#include "core/session_state.h"
#include "image/hex_loader.h"
#include "link/power_switch.h"
#include "ops/user_command.h"

namespace qmx::cli {

struct DownloadSetup {
    std::string file;
    std::string port;
    const ModelEntry* model = nullptr;
    long maxBaud = 115200;
    std::string startText = "0";
    std::string fill;                  // "FF", "00" or empty (the saved choice)
    std::vector<std::string> options;  // NAME=VALUE
    std::string serial;                // ADDR,COUNT,NEXT,INCREMENT,FORMAT or empty
    bool series = false;
    int delaySeconds = 5;
    int count = 0;
    bool reload = false;
    bool watch = false;
    std::string settingsPath;  // empty: the default store
    bool assumeYes = false;
    PowerCycle powerCycle;  // hands-free boot entry before every chip
    std::string logFile;    // the production log (JSON Lines), empty: none
    // How the chip is reached: the boot loader directly, the user code first (a running
    // application jumps into its boot loader), or the loader inside the application.
    enum class Road { BootLoader, UserCodeFirst, IspDemo };
    Road road = Road::BootLoader;
    UserEntryChoices userEntry;
};

// A face over the terminal face: everything passes through, except that a rewrite of the
// whole pane prints only the lines that changed.
class PaneEchoUi : public Ui {
  public:
    explicit PaneEchoUi(Ui& inner) : inner_(inner) {}
    void appendMessage(const std::string& line) override;
    void appendError(const std::string& line) override;
    void clearMessages() override;
    void replaceMessages(const std::string& text) override;
    BoxAnswer messageBox(const MessageBoxRequest& box) override { return inner_.messageBox(box); }
    void beep(int times) override { inner_.beep(times); }
    void setButtonState(int state) override { inner_.setButtonState(state); }
    void setProgress(int value, int minimum, int maximum, bool visible) override {
        inner_.setProgress(value, minimum, maximum, visible);
    }
    void setKbyteLabel(const std::string& text) override { inner_.setKbyteLabel(text); }
    void setOptionPanel(const std::vector<PanelLabel>& labels) override {
        inner_.setOptionPanel(labels);
    }
    void bufferChanged() override { inner_.bufferChanged(); }
    void successCountChanged(const std::string& text) override { inner_.successCountChanged(text); }
    void detailMessage(const std::string& line) override { inner_.detailMessage(line); }
    void traceBytes(bool outgoing, const unsigned char* data, std::size_t count) override {
        inner_.traceBytes(outgoing, data, count);
    }
    void traceSettings(const std::string& settings) override { inner_.traceSettings(settings); }

  private:
    Ui& inner_;
    std::vector<std::string> lines_;  // the pane as the terminal has shown it
};

// Splits pane text at CR LF.
std::vector<std::string> paneLines(const std::string& text);

// Why a load needs --yes before it is programmed or saved unattended, as the words after the
// file name ("has records with a bad checksum", ...).
std::string consentReason(const LoadResult& loaded);

// Sets the core up from `setup` as every command that sends the image does: settings, model,
// options, fill byte, the file (refused when its load needs consent, unless assumeYes) and the
// serial number. Returns -1 when ready, else the exit status (the reason is on stderr).
int prepareCore(IspCore& core, const DownloadSetup& setup);

// Sets the core up from `setup` (settings, model, options, file, serial number), runs the
// download, series or watch, and returns the exit status. Messages for bad input go to stderr.
int runDownload(IspCore& core, Ui& face, const DownloadSetup& setup);

// Gang programming: the download (or series) of `setup` on every port of `ports` at once,
// one core and one thread each, sharing the counter, the serial numbers and the log. Exit 0
// only when every port succeeded.
int runGang(Context& ctx, const DownloadSetup& setup, const std::vector<std::string>& ports);

}  // namespace qmx::cli
