// Loading an offline download board over the serial port: wake the board, read its version
// and capacity, build the board image from a prepared copy of the code buffer, erase the
// board and send the image in CRC-checked data blocks (with a second phase for boards that
// take more). Also the board-command frame sender that the download session's Run command
// uses in its plain-sum form.
#pragma once

#include <cstdint>
#include <string>

#include "core/session_state.h"
#include "offline/board_image.h"

namespace qmx {

class IspCore;
class SerialChannel;

// How a wait for a board answer ended.
enum class BoardAnswer { Answer, None, Stopped, PortLost };

// One board command (code, the model's family K, parameter P): CRC'd during a board session
// (the channel checks answers with CRC), summed otherwise. Resets the receiver first.
void send_board_command(SerialChannel& channel, int family, std::uint8_t code, std::uint8_t param);
// Waits for an answer frame up to timeoutMs. An answer that stalls for 200 ms half-way, or
// fails its check, counts as none.
BoardAnswer wait_board_answer(SerialChannel& channel, int timeoutMs);

// The board's firmware version byte: two decimal digits in hexadecimal form (0x16 is 1.6).
struct BoardVersion {
    bool known = false;  // both hexadecimal digits are decimal digits
    int number = 0;      // 16 for 0x16
    std::string text;    // "1.6"; for an unknown version its two hexadecimal digits
};
BoardVersion decodeBoardVersion(std::uint8_t byte);

// What the board told about itself.
struct BoardInfo {
    BoardVersion version;
    long capacity = 0;  // bytes
    bool extended = false;
};

// The offline-board session (the download button of the offline page): reads the count
// limit, validates the serial-number parameters, connects to the board, builds the image and
// downloads it. `wakeTries` bounds the wake-up loop (one try a second).
Outcome run_offline_board_session(IspCore& core, const std::string& limitText,
                                  long wakeTries = 100000);

// The image a session would send to a board of `capacity` bytes, without a board (for
// inspection). Returns the message of a refusal, empty on success.
std::string build_board_image_for(IspCore& core, const std::string& limitText, long capacity,
                                  BoardBytes& image);

// The three help pages of the offline page, one message box each.
void show_offline_help(IspCore& core);

}  // namespace qmx
