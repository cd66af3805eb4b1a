// SessionState: what one download session knows about itself. The stop flags are the only
// fields another thread (the window, a signal handler) may touch while an operation runs;
// everything else belongs to the operation's own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "link/op_result.h"

namespace qmx {

// The download choices of the window (the check boxes and lists the session driver reads).
struct DownloadChoices {
    bool reloadFile = false;         // `cekReloadFile`: reload the file before every download
    bool reloadOnChange = false;     // `cekReloadFileWhileFileChange`: the file watch
    int seriesDelayRow = 4;          // row of `comDalay_ReDownLoad` ("9" … "2"); row 4 = 5 s
    bool beepOnSuccess = true;       // `optBeepYes`
    bool reopenDebugPort = false;    // `che_AutoOpenPort`: debug port open again after a download
    std::string writeOkCount = "0";  // `txtWrite_OK_Count`, the success counter as shown
    int seriesLimit = 0;             // a series ends after this many chips (0: until stopped)
    // A reload that needs consent (bad HEX records, an incomplete HEX file, content that did
    // not fit) is not programmed.
    bool refuseBadRecords = false;

    // Seconds of the series countdown: the text of the selected delay row.
    int seriesDelaySeconds() const {
        const int row = seriesDelayRow < 0 || seriesDelayRow > 7 ? 4 : seriesDelayRow;
        return 9 - row;
    }
};

struct SessionState {
    // Set by the Stop command; every wait ends when it is true. Cleared when a session starts,
    // unless the stop is for good.
    std::atomic<bool> stop_requested{false};
    // A stop that no later session clears: the command line's Ctrl-C ends the program, so a
    // session that starts just after it (a file watch, the next chip) stops at once.
    std::atomic<bool> stop_for_good{false};
    // The Stop button of the user-command (ISP-demo) path.
    std::atomic<bool> demo_stop_requested{false};

    // The chip is identified and matches the selected model; cleared by Stop.
    bool connected = false;
    // The last programming run wrote and verified every block.
    bool program_ok = false;
    // When the last programming run began; the report's total time counts from here.
    std::chrono::system_clock::time_point program_start_time{};
    // Note appended to the success line when the image was cut by the firmware-size limit.
    std::string downloaded_only_note_cn;
    // Blocks of the last programming run that were sent more than once before the chip
    // confirmed them (a noisy line shows here even when the run succeeds).
    int blocks_retried = 0;

    // A session (download or series) is running: the file watch defers to its end. Read by
    // the window's thread while the session runs on another.
    std::atomic<bool> session_running{false};
    // Last outcome of a session, for faces that report an exit status.
    Outcome last_outcome = Outcome::Ok;
    // The ISP demo could not open its port in the present cycle (reported when it happened).
    bool demo_port_failed = false;
    // Chips counted as successful during the current session (a series counts several).
    int chips_done = 0;
    // The serial number written into the last chip counted (empty when none was).
    std::string last_serial_written;
};

// Marks a session as running for as long as it is in scope: `session_running` falls back
// however the session is left, so the file watch never waits for a session that has ended.
class RunningSession {
  public:
    explicit RunningSession(SessionState& session) : flag_(session.session_running) {
        flag_ = true;
    }
    ~RunningSession() { flag_ = false; }
    RunningSession(const RunningSession&) = delete;
    RunningSession& operator=(const RunningSession&) = delete;

  private:
    std::atomic<bool>& flag_;
};

}  // namespace qmx
