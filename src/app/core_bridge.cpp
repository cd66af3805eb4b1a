#include "app/core_bridge.h"

#include "core/isp_core.h"
#include "link/port_list.h"
#include "link/status_report.h"
#include "ops/connect.h"

namespace qmx::gui {

std::vector<PortRow> availablePorts() {
    std::vector<PortRow> rows;
    std::vector<PortInfo> ports;
    std::string error;
    if (!listSerialPorts(ports, error)) return rows;
    for (const PortInfo& p : ports)
        rows.push_back({QString::fromStdString(p.path), QString::fromStdString(p.description)});
    return rows;
}

OpResult readChipOptions(IspCore& core) {
    return read_chip_options(core);
}

void resetStatusPanel(IspCore& core) {
    reset_status_panel(core.ui(), core.facts);
}

void prepareOperation(IspCore& core) {
    core.channel.set_port_path(core.portPath);
    core.channel.setStopFlag(&core.session.stop_requested);
}

void closePortQuietly(IspCore& core) {
    core.channel.close_port();
}

}  // namespace qmx::gui
