// Feeds arbitrary bytes, in arbitrary pieces, to the monitor's report receiver and hands every
// frame it accepts to the debug views, as the debug port does. Neither may crash, an accepted
// frame respects the length limits, and the views keep their shapes whatever the reports say.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "monitor/debug_port.h"
#include "monitor/debug_views.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // First byte: the chip family of the register list; second: the split size of arrivals.
    const int family = data[0] % 6;
    const std::size_t piece = static_cast<std::size_t>(data[1] % 97) + 1;
    data += 2;
    size -= 2;

    qmx::DebugViews views;
    views.setSfrRows(qmx::sfrRowsFor(family));
    views.buildWindowLines(0);
    const std::size_t sfrCount = views.sfrLines().size();
    const std::size_t idataCount = views.idataLines().size();
    const std::size_t xdataCount = views.xdataLines().size();
    const std::size_t windowCount = views.windowLines().size();

    qmx::ReportReceiver rx;
    auto onEvent = [&](qmx::ReportReceiver::Event event, const std::vector<std::uint8_t>& f) {
        if (event == qmx::ReportReceiver::Event::Discarded) return;
        check(!f.empty() && f.size() <= qmx::kMaxReportLength);
        check(f[0] == 0xAA);
        if (event != qmx::ReportReceiver::Event::Frame) return;
        const qmx::ReportEffect effect = views.apply(f.data(), f.size());
        const auto& lines =
            views.lines(effect.view == qmx::DebugView::None ? qmx::DebugView::Sfr : effect.view);
        for (int line : effect.changedLines)
            check(line >= 0 && static_cast<std::size_t>(line) < lines.size());
    };
    for (std::size_t pos = 0; pos < size; pos += piece) {
        const std::size_t n = pos + piece <= size ? piece : size - pos;
        rx.feed(data + pos, n, onEvent);
        check(rx.collected().size() <= qmx::kMaxReportLength);
    }
    // A report changes values, never the number of lines a view shows.
    check(views.sfrLines().size() == sfrCount);
    check(views.idataLines().size() == idataCount);
    check(views.xdataLines().size() == xdataCount);
    check(views.windowLines().size() == windowCount);
    return 0;
}
