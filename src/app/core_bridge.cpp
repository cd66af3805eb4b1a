#include "app/core_bridge.h"

#include <libserialport.h>

#include "core/isp_core.h"
#include "link/status_report.h"
#include "ops/connect.h"

namespace qmx::gui {

std::vector<PortRow> availablePorts() {
    std::vector<PortRow> rows;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK || !list) return rows;
    for (int i = 0; list[i]; ++i) {
        const char* name = sp_get_port_name(list[i]);
        const char* desc = sp_get_port_description(list[i]);
        if (name) rows.push_back({QString::fromUtf8(name), desc ? QString::fromUtf8(desc) : ""});
    }
    sp_free_port_list(list);
    return rows;
}

void readChipOptions(IspCore& core) {
    comReadChipLock_Click(core);
}

void resetStatusPanel(IspCore& core) {
    reset_status_panel(core);
}

void prepareOperation(IspCore& core) {
    core.channel.port_path = core.portPath;
    core.channel.setStopFlag(&core.session.stop_requested);
}

void closePortQuietly(IspCore& core) {
    core.channel.close_port();
}

}  // namespace qmx::gui
