// The connect step every chip operation starts with: synchronisation bytes at 1200 baud until
// the boot loader answers, the clock measured from the answer, identification, the status
// report, the model check, and the switch to the fastest workable baud rate. Also recognises
// an offline download board in the line and then reaches the chip through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qmx {

class IspCore;

// Wires the core's channel to the core: byte trace and lost-port messages to the face, waits
// to the session's stop flag, the port path from the port choice. Cheap; every entry point
// that talks to the chip calls it.
void bind_channel(IspCore& core);

// The catalogue model that identification bytes name; empty when no row matches.
std::string identifyModel(std::uint8_t id1, std::uint8_t id2);
// The clock in Hz from a status answer (eight 16-bit counts at 4..19).
float clockFromStatusAnswer(const std::uint8_t* rx);
// An answer from the offline download board rather than a chip.
bool isOfflineBoardAnswer(const std::uint8_t* rx);

// "Handshake is failed. / 握手失败 (End: hh:mm:ss)".
std::string timedFailureLine();
// Local wall-clock time "hh:mm:ss".
std::string wallClockText();
// One beep and "Operation is stop. / 操作被停止.".
void stop_message(IspCore& core);

// The connection hints shown 4 s after the handshake began waiting without an answer.
std::vector<std::string> connectionHintLines(bool ispDemoFraming);
void Timer9_Timer(IspCore& core);

// The handshake. 0 = connected (and switched unless status-only or through the board),
// -1 = failed or stopped (already reported). `newbaud` receives the rate now in use on both
// sides (0 on the board path). `checkModel` is the selected-model check; it reports itself.
int handshake(IspCore& core, long& newbaud, bool ReadChipLock_just,
              const std::function<bool(IspCore&)>& checkModel = {});

}  // namespace qmx
