#include "link/port_list.h"

#include <libserialport.h>

namespace qmx {

bool listSerialPorts(std::vector<PortInfo>& ports, std::string& error) {
    ports.clear();
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK || !list) {
        char* message = sp_last_error_message();
        error = message ? message : "the serial ports could not be listed";
        if (message) sp_free_error_message(message);
        return false;
    }
    for (int i = 0; list[i]; ++i) {
        const char* name = sp_get_port_name(list[i]);
        if (!name) continue;
        PortInfo info;
        info.path = name;
        if (const char* desc = sp_get_port_description(list[i])) info.description = desc;
        if (sp_get_port_transport(list[i]) == SP_TRANSPORT_USB) {
            if (const char* serial = sp_get_port_usb_serial(list[i])) info.usbSerial = serial;
        }
        ports.push_back(std::move(info));
    }
    sp_free_port_list(list);
    return true;
}

}  // namespace qmx
