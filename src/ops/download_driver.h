// The download session driver: one complete download when Download is pressed (connect, erase,
// program and verify, options, run, report, count), or a production series of them when
// Re-Download is pressed, with a countdown between chips. Also the Stop and Run commands, the
// success counter and the file watch that downloads again when the loaded file changes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "core/session_state.h"
#include "ops/chip_link.h"
#include "ops/session_control.h"

namespace qmx {

class IspCore;
class CodeBuffer;

// ---- texts ----

// Total time "MM:SS" from whole seconds (minutes and seconds each cut to two digits).
std::string totalTimeText(long seconds);
// The three report lines of a successful chip.
std::vector<std::string> successReportLines(const std::string& note, const std::string& total);
// The report line before the success lines: how many blocks needed more than one attempt.
std::string blockRetryLine(int blocksRetried);
// The pane text during the series countdown: the kept text T and the seconds left.
std::string countdownPaneText(const std::string& kept, int secondsLeft);
// The line that ends a series whose next serial number cannot be written.
std::string serialSeriesStoppedText(const std::string& nextValue);

// ---- commands ----

// Download (index 0, button `comDownload(0)`) or Re-Download (index 1, a series). Returns how
// the session ended.
OpResult run_download_session(IspCore& core, ChipLink& link, int index);
OpResult run_download_session(IspCore& core, int index);
// Clears the success counter after asking (button `comClear_OK_Count`).
void clear_success_count(IspCore& core);
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
OpResult reloadAndDownload(IspCore& core);

}  // namespace qmx
