// Feeds arbitrary status answers to the host's decoders: the clock measured from the answer,
// the offline-board test, the model named by the identification bytes, the status text and the
// option panel. None may crash, and their results keep the shapes the callers rely on.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/handshake.h"
#include "link/serial_channel.h"
#include "link/status_report.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The receive buffer as the channel leaves it: the answer, then zeros.
    std::array<std::uint8_t, qmx::SerialChannel::kRxSize> rx{};
    for (std::size_t i = 0; i < size && i < rx.size(); ++i)
        rx[i] = data[i];

    const float clock = qmx::clockFromStatusAnswer(rx.data());
    check(!std::isnan(clock));
    (void)qmx::isOfflineBoardAnswer(rx.data());

    qmx::StatusInput in;
    in.version = rx[20];
    in.suffix = std::string(1, static_cast<char>(rx[21]));
    in.option = rx[22];
    in.identifiedModel = qmx::identifyModel(rx[23], rx[24]);
    for (std::size_t i = 0; i < in.ext.size(); ++i)
        in.ext[i] = rx[25 + i];

    bool doubleSpeed = false;
    for (const std::string& line : qmx::statusReportLines(in, doubleSpeed))
        check(line.find('\0') == std::string::npos);
    check(qmx::statusPanelLabels(in).size() == static_cast<std::size_t>(qmx::kPanelLabels));
    (void)qmx::versionNumber(qmx::versionText(in.version));
    (void)qmx::clockMHzText(clock);
    return 0;
}
