// qmx-isp ports: the serial ports the system knows, one a line: path, description and the USB
// serial number where there is one. Any other path (a pseudo-terminal, a symlink) may still
// be given to --port.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "link/port_list.h"

namespace qmx::cli {

Runner registerPorts(CLI::App& app, Context& ctx) {
    app.add_subcommand("ports",
                       "List the serial ports found: path, description, USB serial number");
    return []() -> int {
        std::vector<PortInfo> ports;
        std::string error;
        if (!listSerialPorts(ports, error)) {
            std::fprintf(stderr, "qmx-isp: the serial ports could not be listed: %s\n",
                         error.c_str());
            return kExitFailed;
        }
        for (const PortInfo& p : ports)
            std::printf("%s\t%s\t%s\n", p.path.c_str(), p.description.c_str(), p.usbSerial.c_str());
        if (ports.empty()) std::printf("No serial ports found. / 未找到串口。\n");
        return kExitOk;
    };
}

}  // namespace qmx::cli
