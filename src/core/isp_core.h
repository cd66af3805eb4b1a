// IspCore: the one object that owns all state of a programming station for the whole run:
// the serial channel, the code buffer with its memory map, the selected model, the option
// choices, the session state, what the handshake learnt about the connected chip, the
// serial-number parameters, the message pane and the settings store. The window and the
// command line each own one IspCore and drive it through the operations of the subsystems,
// which take it by reference. It is single-threaded: only the stop flags in SessionState may
// be touched by another thread while an operation runs. It is header-only so that every
// subsystem library can use it without a link-time cycle.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "catalogue/model_catalogue.h"
#include "catalogue/option_set.h"
#include "core/production_log.h"
#include "core/session_state.h"
#include "core/ui.h"
#include "image/code_buffer.h"
#include "image/serial_number.h"
#include "link/connection_facts.h"
#include "link/power_switch.h"
#include "link/serial_channel.h"
#include "settings/settings_store.h"

namespace qmx {

// The log text box `textMsg`: the old text, CR LF, the new line.
class MessagePane {
  public:
    const std::string& text() const { return text_; }
    void append(std::string_view line) {
        if (!text_.empty()) text_ += "\r\n";
        text_ += line;
    }
    void clear() { text_.clear(); }

  private:
    std::string text_;
};

class IspCore {
  public:
    explicit IspCore(Ui* ui = nullptr) : ui_(ui ? ui : &silentUi()) { channel.setUi(ui_); }
    IspCore(const IspCore&) = delete;
    IspCore& operator=(const IspCore&) = delete;

    // The face; never null (a silent face stands in when none is given).
    Ui& ui() { return *ui_; }
    // The channel reports through the same face, so it never keeps one that was replaced.
    void setUi(Ui* ui) {
        ui_ = ui ? ui : &silentUi();
        channel.setUi(ui_);
    }

    // Append one line to the message pane and show it.
    void message(std::string_view line) {
        pane.append(line);
        ui_->appendMessage(std::string(line));
    }
    // Append a line that reports a failure; the pane keeps it like any other line.
    void error(std::string_view line) {
        pane.append(line);
        ui_->appendError(std::string(line));
    }
    // Empty the message pane.
    void clearMessages() {
        pane.clear();
        ui_->clearMessages();
    }

    SettingsStore settings;
    SerialChannel channel;
    CodeBuffer buffer;
    const ModelEntry* model = nullptr;  // the current `ModelEntry`; set by selectModel
    OptionChoices options;
    SessionState session;
    ConnectionFacts facts;
    SerialNumberSpec serial;
    MessagePane pane;

    // --- link: port and rate choices ---
    std::string portPath;   // device path of the chosen port (the port list row)
    long maxBaud = 115200;  // the row of `cobBaudMax`
    PowerCycle powerCycle;  // hands-free boot entry: how the target's power is switched
    // How long the sync waits for a chip to answer before the operation fails; 0 waits for
    // ever, as a station does while the operator powers the next chip.
    double chipWaitSeconds = 0;

    // --- ops: download choices (the session driver adds its controls here) ---
    DownloadChoices download;  // reload, watch, series delay, beep, success counter
    // The production log, one line per chip; shared by the stations of a gang. May be null.
    std::shared_ptr<ProductionLog> productionLog;

  private:
    static Ui& silentUi() {
        static Ui silent;
        return silent;
    }
    Ui* ui_;
};

}  // namespace qmx
