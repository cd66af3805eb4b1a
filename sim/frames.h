// Boot-loader framing as the chip sees it.
//
// Host to chip:  46 B9 | 6A LL LL cmd payload... sum 16
//   LL LL counts the bytes from 6A through the end byte 16; sum is the low 8 bits of the bytes
//   from 6A through the last payload byte.
// Chip to host:  [46 B9] 68 LL LL body... sum 16
//   LL LL counts from 68 through 16; sum covers 68 through the last body byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qmxsim {

using Bytes = std::vector<std::uint8_t>;

// Low 8 bits of the sum of the bytes.
std::uint8_t sum8(const std::uint8_t* data, std::size_t n);
inline std::uint8_t sum8(const Bytes& b) {
    return sum8(b.data(), b.size());
}

// A complete command frame taken off the line.
struct CommandFrame {
    std::uint8_t command = 0;
    Bytes payload;
    Bytes raw;  // 46 B9 6A ... 16 exactly as received
};

// Why a frame was thrown away.
enum class FrameFault { none, badLength, badEnd, badSum };

// Assembles command frames byte by byte: hunts for 46 B9 6A, takes the length, collects the
// rest and checks the end byte and the sum. Bytes outside a frame (sync bytes, noise) are skipped.
class CommandReceiver {
  public:
    // Longest frame accepted (from 6A through 16): a 512-byte block plus its 12 framing bytes,
    // with room to spare. Longer declared lengths are noise.
    static constexpr std::size_t kMaxLength = 1100;

    enum class Result { none, frame, rejected };

    // Feeds one byte. On Result::frame, frame() holds it; on Result::rejected, fault() says why
    // and rejectedBytes() holds what was collected.
    Result feed(std::uint8_t b);
    void reset();

    const CommandFrame& frame() const { return frame_; }
    FrameFault fault() const { return fault_; }
    const Bytes& rejectedBytes() const { return rejected_; }
    // True while the receiver is inside a frame (header seen).
    bool busy() const { return state_ != State::hunt; }

  private:
    enum class State { hunt, gotHeader1, gotHeader2, body };
    State state_ = State::hunt;
    Bytes buf_;  // from 6A on
    std::size_t length_ = 0;
    CommandFrame frame_;
    FrameFault fault_ = FrameFault::none;
    Bytes rejected_;
};

// Builds a command frame (46 B9 6A LL LL cmd payload sum 16), as a host would send it.
Bytes buildCommand(std::uint8_t command, const Bytes& payload);
// Builds an answer frame: [46 B9] 68 LL LL body sum 16.
Bytes buildAnswer(const Bytes& body, bool header);

// "46 B9 6A" style upper-case hex with spaces.
std::string hexText(const std::uint8_t* data, std::size_t n);
inline std::string hexText(const Bytes& b) {
    return hexText(b.data(), b.size());
}

}  // namespace qmxsim
