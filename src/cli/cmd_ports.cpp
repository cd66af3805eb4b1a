// qmx-isp ports: the serial ports the system knows, one a line: path, description and the USB
// serial number where there is one. Any other path (a pseudo-terminal, a symlink) may still
// be given to --port.
#include <libserialport.h>

#include <cstdio>
#include <string>

#include "cli/cli_context.h"

namespace qmx::cli {

Runner registerPorts(CLI::App& app, Context& ctx) {
    app.add_subcommand("ports",
                       "List the serial ports found: path, description, USB serial number");
    return []() -> int {
        struct sp_port** list = nullptr;
        if (sp_list_ports(&list) != SP_OK) {
            std::fprintf(stderr, "qmx-isp: the serial ports could not be listed\n");
            return kExitFailed;
        }
        int found = 0;
        for (int i = 0; list[i]; ++i) {
            const char* name = sp_get_port_name(list[i]);
            const char* desc = sp_get_port_description(list[i]);
            std::string serial;
            if (sp_get_port_transport(list[i]) == SP_TRANSPORT_USB) {
                const char* s = sp_get_port_usb_serial(list[i]);
                if (s) serial = s;
            }
            std::printf("%s\t%s\t%s\n", name ? name : "", desc ? desc : "", serial.c_str());
            ++found;
        }
        sp_free_port_list(list);
        if (found == 0) std::printf("No serial ports found. / 未找到串口。\n");
        return kExitOk;
    };
}

}  // namespace qmx::cli
