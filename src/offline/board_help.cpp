// The help button of the offline page: three pages, one message box each.
#include "core/isp_core.h"
#include "core/offline_help_text.h"
#include "offline/offline_board.h"

namespace qmx {

void show_offline_help(IspCore& core) {
    const char* pages[3][2] = {{QMX_OFFLINE_HELP_1, QMX_OFFLINE_HELP_TITLE_1},
                               {QMX_OFFLINE_HELP_2, QMX_OFFLINE_HELP_TITLE_2},
                               {QMX_OFFLINE_HELP_3, QMX_OFFLINE_HELP_TITLE_3}};
    for (const auto& page : pages) {
        MessageBoxRequest box;
        box.text = page[0];
        box.title = page[1];
        box.icon = BoxIcon::Information;
        core.ui().messageBox(box);
    }
}

}  // namespace qmx
