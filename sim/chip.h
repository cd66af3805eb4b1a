// The chip with its resident boot loader: power states, flash, option bytes and the answers to
// every command of the boot-loader protocol. Pure logic: bytes in, actions out; the line timing
// and the pseudo-terminal belong to the runner.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "faults.h"
#include "frames.h"
#include "models.h"

namespace qmxsim {

enum class Power { off, listening, bootloader, running };
const char* powerName(Power p);

struct Firmware {
    std::uint8_t version = 0x36;  // two hex digits d1 d2 read as "d1.d2"
    char letter = 'C';
};

// Parses "3.6C" (digits may be hex, the letter is optional). Nothing on bad text.
std::optional<Firmware> parseFirmware(const std::string& text, char defaultLetter);
// The firmware a chip of the family typically carries.
Firmware typicalFirmware(int family);
// Option bytes of a chip that has never been configured.
std::array<std::uint8_t, 5> erasedOptions(int family);
// Boot-loader size code the firmware reports in its feature flags (bits 1-0: 1024, 1536, 2048,
// 2560 bytes).
std::uint8_t bootAreaCode(const ChipModel& model);

struct ChipConfig {
    ChipModel model;
    double clockHz = 11059200;
    Firmware firmware;
    std::array<std::uint8_t, 5> options{0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::optional<std::uint8_t> flags;  // feature flags byte instead of the firmware's own
    bool shortStatus = false;           // old loader: 24-byte status frame without option byte
    bool shortBlockAnswers = false;     // block writes answered 68 00 06 80 S 16 (no data sum)
    std::uint64_t seed = 1;             // jitter of the timing counts
    long optionBusy = 0;                // answer 81 to the first N option commands (families 3/4)
    long optionIgnore = 0;              // acknowledge the first N option commands, keep nothing
    double maxRate = 0;                 // highest rate the UART can run at (0: no limit)
    long lateAnswer = 0;                // the answer to this block write (1, 2, ...) is late
    int lateMs = 0;                     // by this much
    long loseWrite = 0;                 // this block write (1, 2, ...) never arrives whole
};

// What the chip wants done after a byte.
struct ChipAction {
    enum class Kind { note, answer, run };
    Kind kind = Kind::note;
    std::string note;     // log text: the frame taken and what became of it
    Bytes bytes;          // the answer as it leaves the chip
    double sendRate = 0;  // the chip's UART rate for the answer
    // Baud test and switch: the answer goes out only once the host's port runs at sendRate (or
    // the chip gives up waiting), then settleMs later.
    bool awaitHostRate = false;
    int settleMs = 0;
    int workMs = 0;          // time the chip is busy before answering (erasing)
    int lateMs = 0;          // a fault holds the answer back this long, line timing or not
    double restoreRate = 0;  // after the answer, the chip's UART goes back to this rate
};

// Other personalities (the offline board) derive from Chip and replace what the power-on and
// the received bytes do; the runner only sees a Chip.
class Chip {
  public:
    explicit Chip(ChipConfig config);
    virtual ~Chip() = default;

    virtual void powerOn();
    virtual void powerOff();
    // No sync came in time after power-on: the loader hands over to the user program.
    void startUserProgram();
    Power power() const { return power_; }

    // The chip's UART rate; 0 before it has locked to a host's sync bytes.
    double uartRate() const { return uartRate_; }
    void setUartRate(double r) { uartRate_ = r; }
    // Machine clock after the 6-clock option: the rate the timer counts at.
    double machineClock() const;
    bool doubleSpeed() const { return doubleSpeed_; }

    // One byte as the chip's UART took it in; hostRate is the rate it was sent at (the chip locks
    // to it when listening for sync).
    virtual std::vector<ChipAction> receive(std::uint8_t b, double hostRate);

    // Answers go with the 46 B9 header (feature flags bit 7 of a loader that reports them).
    bool headerOnAnswers() const;
    std::uint8_t featureFlags() const;
    // The status frame a sync byte at this host rate draws.
    Bytes statusFrame(double hostRate);

    const Bytes& flash() const { return flash_; }
    Bytes& flash() { return flash_; }
    const std::array<std::uint8_t, 5>& options() const { return options_; }
    const ChipConfig& config() const { return config_; }
    std::uint32_t clockField() const { return clockField_; }
    std::uint8_t watchdogPin() const { return wdtPin_; }

  private:
    ChipAction ack(const std::string& note, std::uint8_t code = 0x80) const;
    std::vector<ChipAction> handle(const CommandFrame& f);
    // One command each; nothing when the command is not taken (a payload of the wrong form).
    std::optional<ChipAction> shortCommand(std::uint8_t code) const;
    std::optional<ChipAction> watchdogPin(const Bytes& p);
    std::optional<ChipAction> statusAnswer() const;
    std::optional<ChipAction> baudCommand(std::uint8_t code, const Bytes& p);
    std::optional<ChipAction> erase(const Bytes& p);
    std::optional<ChipAction> blockWrite(std::uint8_t code, const Bytes& p);
    std::optional<ChipAction> setOptions(const Bytes& p);
    std::optional<ChipAction> setFiveOptionBytes(const Bytes& p);
    std::optional<ChipAction> runUserProgram();
    void erasePages(unsigned pages);
    bool keepsDataFlash() const;

    ChipConfig config_;
    bool doubleSpeed_ = false;
    std::array<std::uint8_t, 5> options_;
    std::uint32_t clockField_ = 0xFFFFFFFF;
    std::uint8_t wdtPin_ = 0xFF;
    long optionBusyLeft_ = 0;
    long optionIgnoreLeft_ = 0;
    long writesSeen_ = 0;
    CommandReceiver receiver_;
    Rng jitter_;

  protected:
    // Declared after config_, which the flash size is taken from.
    Power power_ = Power::off;
    double uartRate_ = 0;
    Bytes flash_;
};

}  // namespace qmxsim
