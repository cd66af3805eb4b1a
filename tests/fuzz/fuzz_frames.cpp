// Feeds arbitrary bytes to the channel's receive handler in every mode and with every receiver
// setting, in arbitrary pieces, and checks the invariants the waiting operations rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/serial_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    qmx::SerialChannel ch;
    // First byte: the receiver's settings; second: the split size of the arrivals.
    const std::uint8_t mode = data[0];
    const std::size_t piece = static_cast<std::size_t>(data[1] % 64) + 1;
    data += 2;
    size -= 2;
    ch.set_receive_armed((mode & 0x01) != 0);
    ch.set_header_expected((mode & 0x02) != 0);
    ch.set_crc_check((mode & 0x04) != 0);
    ch.set_user_command_mode((mode & 0x08) != 0);
    ch.set_debug_mode((mode & 0x10) != 0);
    std::size_t debugBytes = 0;
    ch.set_debug_sink([&debugBytes](const std::uint8_t*, std::size_t n) { debugBytes += n; });
    std::size_t fed = 0;
    for (std::size_t pos = 0; pos < size; pos += piece) {
        const std::size_t n = pos + piece <= size ? piece : size - pos;
        ch.feed(data + pos, n);
        fed += n;
        if (ch.rx_count() < 0 || ch.rx_count() > qmx::SerialChannel::kRxSize) std::abort();
        if (ch.pending() != 0) std::abort();  // the handler consumes every arrival
        if (ch.frame_ready() && !ch.user_command_mode()) {
            // A frame taken as ready starts with 68 and holds its declared length.
            const int L = ch.rx_buffer()[1] * 256 + ch.rx_buffer()[2];
            if (ch.rx_buffer()[0] != 0x68 || L < 1 || L > ch.rx_count()) std::abort();
            if (ch.rx_buffer()[static_cast<std::size_t>(L - 1)] != 0x16) std::abort();
        }
        if (ch.user_frame_ready()) {
            if (ch.rx_buffer()[0] != 0x5A || ch.rx_buffer()[1] != 0xA5) std::abort();
        }
        if ((mode & 0x20) && ch.frame_ready()) ch.flush_receive();
    }
    if (ch.debug_mode() && !ch.user_command_mode() && debugBytes != fed) std::abort();
    return 0;
}
