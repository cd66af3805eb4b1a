// The download session driver: one complete download when Download is pressed (connect, erase,
// program and verify, options, run, report, count), or a production series of them when
// Re-Download is pressed, with a countdown between chips. Also the Stop and Run commands, the
// success counter and the file watch that downloads again when the loaded file changes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "core/session_state.h"
#include "ops/button_state.h"
#include "ops/chip_link.h"

namespace qmx {

class IspCore;
class CodeBuffer;

// The programming steps' names for the window's button states (see ops/button_state.h).
inline constexpr int kStateBusy = kButtonBusy;
inline constexpr int kStateIdle = kButtonIdle;
inline constexpr int kStateProgramming = kButtonProgramming;
inline constexpr int kStateOptionsDone = kButtonReady;
inline constexpr int kStateIdentified = kButtonIdentified;
// Every button-state change of the programming steps goes through here.
void setButtons(IspCore& core, int state);

// ---- texts ----

// Total time "MM:SS" from whole seconds (minutes and seconds each cut to two digits).
std::string totalTimeText(long seconds);
// The three report lines of a successful chip.
std::vector<std::string> successReportLines(const std::string& note, const std::string& total);
// The pane text during the series countdown: the kept text T and the seconds left.
std::string countdownPaneText(const std::string& kept, int secondsLeft);

// ---- commands ----

// Download (index 0) or Re-Download (index 1). Returns how the session ended.
SessionOutcome comDownload_Click(IspCore& core, ChipLink& link, int index);
SessionOutcome comDownload_Click(IspCore& core, int index);
// The Stop command: idle buttons, stop flag, chip told 82, port closed.
void comStop_Download_Click(IspCore& core, ChipLink& link);
void comStop_Download_Click(IspCore& core);
// The Run command: the chip leaves its boot loader and starts the user program.
void comRun_Click(IspCore& core, ChipLink& link);
void comRun_Click(IspCore& core);
// Clears the success counter after asking.
void comClear_OK_Count_Click(IspCore& core);
// Saves the success counter under "Write_OK_Count".
void saveWriteOkCount(IspCore& core);

// The file watch, ticked once a second. A change of the loaded file is noticed at once but
// acted on only when no session runs: the reload and download then follow the session's end,
// so a session never starts inside another one's waits, nor does the buffer change under it.
class FileWatch {
  public:
    // True when the caller should reload the file and start a single download now.
    bool tick(const CodeBuffer& buffer, bool enabled, bool sessionRunning);
    bool pending() const { return pending_; }

  private:
    std::string path_;
    std::string stamp_;
    bool pending_ = false;
};
// The modification time of a file as text; empty when the file cannot be read.
std::string fileStamp(const std::string& path);

// Reloads the current file and, when it loaded, runs a single download (what the file watch
// does once it fires).
SessionOutcome reloadAndDownload(IspCore& core);

}  // namespace qmx
