// The --format json results: one object per result, one line each, built from what the core
// knows after the operation (the connection facts, the session, the code buffer).
#pragma once

#include <string>
#include <vector>

#include "core/isp_core.h"
#include "link/op_result.h"

namespace qmx::cli {

// A JSON object written field by field, in the order the fields are added.
class JsonObject {
  public:
    JsonObject& add(const std::string& key, const std::string& value);
    JsonObject& add(const std::string& key, const char* value);
    JsonObject& add(const std::string& key, long long value);
    JsonObject& add(const std::string& key, double value);
    JsonObject& add(const std::string& key, bool value);
    JsonObject& add(const std::string& key, const std::vector<std::string>& values);
    JsonObject& addNull(const std::string& key);
    std::string text() const { return "{" + body_ + "}"; }

  private:
    void key(const std::string& k);
    std::string body_;
};

// A JSON string literal, quotes included.
std::string jsonString(const std::string& text);

// "ok", "failed", "stopped", "port-lost", "no-file", "bad-input".
const char* outcomeName(Outcome outcome);

// connect and read-options: the model the chip reported, the catalogue models it fits, its
// firmware, clock, the baud rate in use and the option bytes.
std::string connectionJson(const std::string& command, const IspCore& core, Outcome outcome);

// One chip of a download: its number in the series, the result, bytes, duration, the serial
// number written into it (null without auto-increment) and the baud rate.
std::string chipJson(const IspCore& core, int chip, Outcome outcome, const std::string& serial);

// The image command: the checksum display and the extents.
std::string imageJson(const CodeBuffer& buffer);

}  // namespace qmx::cli
