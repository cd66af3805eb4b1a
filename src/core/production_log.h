// The production log: one JSON line per chip (JSON Lines), appended to a file that several
// programming stations (threads or processes) may share. Each line is written with a single
// write() on a descriptor opened with O_APPEND, so lines from different writers never
// interleave and a crash leaves at worst a missing line, never half of one in another's.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qmx {

// What one chip's line records.
struct ChipRecord {
    std::string time;               // when the chip was finished, UTC "YYYY-MM-DDThh:mm:ss.mmmZ"
    std::string host;               // the computer's host name
    std::string port;               // the port as given (usb:..., a device path)
    std::string model;              // the selected model
    std::string chipModel;          // the model the chip named, with its identification bytes
    std::string chipId;             // identification bytes as hexadecimal, "F2 35"
    std::string firmware;           // boot-loader version and letter, "3.6C"
    double clockHz = 0;             // measured clock
    long baud = 0;                  // the rate the image went over
    std::string image;              // path of the image file
    std::string checksum;           // the image's checksum display
    std::string serial;             // the serial number written into this chip (empty: none)
    std::vector<unsigned> options;  // option bytes written
    std::string result;             // "ok", "failed", "stopped", "port lost"
    std::string message;            // the last line the user was shown about this chip
    long durationMs = 0;            // from the start of the connection attempt to the end
};

// The record as one JSON object on one line, ending in '\n'. Text that is not UTF-8 is kept
// readable: each stray byte becomes U+FFFD.
std::string chipRecordJson(const ChipRecord& record);

// UTC time now as used in the records.
std::string recordTimeNow();
// The host name of this computer (empty when unknown).
std::string hostName();

class ProductionLog {
  public:
    ~ProductionLog();
    // Opens (creating) the file for appending; an empty string on success, else why not.
    std::string open(const std::string& path);
    const std::string& path() const { return path_; }
    // Appends one record; an empty string on success, else the reason (disk full, ...): the
    // caller must tell the user, since a production record is missing.
    std::string append(const ChipRecord& record);

  private:
    std::mutex mutex_;
    std::string path_;
    int fd_ = -1;
};

}  // namespace qmx
