// The connect step every chip operation starts with: synchronisation bytes at 1200 baud until
// the boot loader answers, the clock measured from the answer, identification, the status
// report, the model check, and the switch to the fastest workable baud rate. Also recognises
// an offline download board in the line and then reaches the chip through it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/link_context.h"
#include "link/op_result.h"

namespace qmx {

// The catalogue model that identification bytes name; empty when no row matches.
std::string identifyModel(std::uint8_t id1, std::uint8_t id2);
// The clock in Hz from a status answer (eight 16-bit counts at 4..19).
float clockFromStatusAnswer(const std::uint8_t* rx);
// An answer from the offline download board rather than a chip.
bool isOfflineBoardAnswer(const std::uint8_t* rx);

// The fields of the boot loader's first answer after the timing counts. What the answer
// carries depends on its (low) length byte: identification from 25 bytes on, the second
// identification byte from 26, the feature flags from 28.
struct HandshakeAnswer {
    int length = 0;  // the low length byte
    std::uint8_t version = 0;
    char suffix = 0;  // firmware letter
    std::uint8_t option = 0;
    std::uint8_t id1 = 0;
    std::uint8_t id2 = 0;
    std::uint8_t featureFlags = 0;
    std::array<std::uint8_t, 5> ext{};  // option bytes E0..E4 of letters D and E

    bool identifies() const { return length > 24; }
    bool namesModel() const { return length > 25; }
    bool carriesFeatureFlags() const { return length > 27 && version > 0x25; }
};
HandshakeAnswer parseHandshakeAnswer(const std::uint8_t* rx);

// "Handshake is failed. / 握手失败 (End: hh:mm:ss)".
std::string timedFailureLine();
// Local wall-clock time "hh:mm:ss".
std::string wallClockText();

// The connection hints shown 4 s after the handshake began waiting without an answer.
std::vector<std::string> connectionHintLines(bool ispDemoFraming);
// The closing line when no chip answered within the caller's wait limit.
std::string noChipAnswerText(double seconds);

// What the caller wants from the handshake.
struct HandshakeRequest {
    // Read options only: stop after the status report, no baud switch.
    bool statusOnly = false;
    // The selected-model check, run once the answer names a model; it reports itself.
    std::function<bool()> checkModel;
};

// The handshake: synchronisation at 1200 baud until the boot loader answers, then
// identification, status report, model check and the switch to the fastest workable rate
// (not when status-only or through the offline board). Every failure has been reported to the
// face when it returns; on success facts.newbaud holds the rate both sides now use (0 on the
// board path).
OpResult handshake(LinkContext& link, const HandshakeRequest& request);

}  // namespace qmx
