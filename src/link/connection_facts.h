// What the handshake learnt about the connected chip, read by the programming operations.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qmx {

struct ConnectionFacts {
    float clock_hz = 0;               // measured clock, Hz
    float handshake_clock_hz = 0;     // copy of clock_hz taken at the handshake
    bool double_speed = false;        // the chip runs in 6-clock mode
    bool offline_board_link = false;  // the answer came through the offline download board
    bool chip_identified = false;     // the answer carried identification bytes
    std::string chip_id1_text;        // identification byte 1, two upper-case hex digits
    std::string chip_id2_text;        // identification byte 2 (families F0..F3 only)
    std::string identified_model;     // catalogue model named by the identification bytes
    std::string firmware_version;     // version text, "3.6" (empty for version 0.0)
    std::string firmware_suffix;      // firmware letter, "A".."E"
    std::uint8_t firmware_version_byte = 0;
    std::uint8_t option_byte = 0;
    std::array<std::uint8_t, 5> ext_option_bytes{};  // letters D and E: E0..E4
    bool boot_area_from_chip = false;
    int boot_area_size = 0;  // 1024, 1536, 2048, 2560 or 0
    bool status_read_ok = false;
    // The status block has been written to the message pane during this connection; the
    // re-read that confirms the options updates the panel only, so the block appears once.
    bool status_shown = false;

    // Reload of the chip's baud generator now in use, and the one for the other speed mode.
    std::uint8_t newBaud_H = 0;
    std::uint8_t newBaud_L = 0;
    std::uint8_t altBaud_H = 0;
    std::uint8_t altBaud_L = 0;
    long newbaud = 0;  // baud rate both sides use after the switch (0 on the board path)

    // The connection-hint texts use the user-command (ISP-demo) wording while that path runs.
    bool isp_demo_framing = false;
};

}  // namespace qmx
