// What the stations of a gang (one core and one thread per port) share: the success counter
// and the serial-number stream, behind one mutex, saved to the one settings store.
//
// Serial numbers: a station reserves a number before its chip is programmed. When the chip
// succeeds the number is committed and the settings' next value moves past the highest number
// committed; when it fails the number is released and handed to the next chip that starts on
// any port, smallest first. So no number is ever written into two chips, a failed chip's
// number is not skipped, and a crash can at worst leave a gap, never a duplicate.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "image/serial_number.h"

namespace qmx {

class SettingsStore;

// A number handed to one chip. Commit and release go by the ticket, not the number, so a late
// second release cannot take back the same number from the chip that got it next.
struct SerialTicket {
    std::uint64_t id = 0;  // 0: no number held
    std::string value;
    bool held() const { return id != 0; }
};

class SharedProduction {
  public:
    // `store` is the settings store every station's counter and numbering belong to;
    // `okCount` the success counter as loaded; `numbering` the validated serial-number
    // parameters (its next value is the first number handed out), or disabled.
    SharedProduction(SettingsStore& store, const std::string& okCount,
                     const SerialNumberSpec& numbering);

    // The success counter plus one, saved at once; returns the new text (and the save error,
    // if any, in `error`).
    std::string countSuccess(std::string& error);
    std::string okCount() const;

    bool numbering() const { return numbering_; }
    // Whether reserveSerial would give a number now (else `error` says why).
    bool canReserve(std::string& error) const;
    // A number for the next chip, or nullopt with `error` set when the next number no longer
    // fits the serial-number cells.
    std::optional<SerialTicket> reserveSerial(std::string& error);
    // The chip holding the ticket was counted: the number is used for good. Returns the save
    // error, if any. A ticket already committed or released is ignored.
    std::string commitSerial(const SerialTicket& ticket);
    // The chip holding the ticket failed: the number goes to the next chip. A ticket already
    // committed or released is ignored.
    void releaseSerial(const SerialTicket& ticket);
    // Numbers released by failed chips and not taken again, smallest first.
    std::vector<std::string> unusedSerials() const;

  private:
    std::string saveNextAfter(std::uint64_t value);

    mutable std::mutex mutex_;
    SettingsStore& store_;
    std::uint64_t okCount_ = 0;
    bool numbering_ = false;
    SerialNumberSpec fresh_;  // nextValueText: the next number never handed out
    std::set<std::pair<std::uint64_t, std::string>> released_;
    std::map<std::uint64_t, std::string> reserved_;  // tickets out, by id
    std::uint64_t lastTicket_ = 0;
    std::optional<std::uint64_t> highestCommitted_;
};

}  // namespace qmx
