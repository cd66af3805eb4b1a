#include "cli/json_report.h"

#include <chrono>

#include <fmt/core.h>

#include "link/status_report.h"
#include "ops/connect.h"

namespace qmx::cli {

namespace {

std::string hex2(unsigned value) {
    return fmt::format("{:02X}", value);
}

std::string hex4(long value) {
    return value < 0 ? fmt::format("-{:04X}", -value) : fmt::format("{:04X}", value);
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20)
                    out += fmt::format("\\u{:04x}", u);
                else
                    out += c;  // UTF-8 passes through as it is
        }
    }
    return out + "\"";
}

void JsonObject::key(const std::string& k) {
    if (!body_.empty()) body_ += ",";
    body_ += jsonString(k) + ":";
}

JsonObject& JsonObject::add(const std::string& k, const std::string& value) {
    key(k);
    body_ += jsonString(value);
    return *this;
}

JsonObject& JsonObject::add(const std::string& k, const char* value) {
    return add(k, std::string(value));
}

JsonObject& JsonObject::add(const std::string& k, long long value) {
    key(k);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(const std::string& k, double value) {
    key(k);
    body_ += fmt::format("{:.3f}", value);
    return *this;
}

JsonObject& JsonObject::add(const std::string& k, bool value) {
    key(k);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add(const std::string& k, const std::vector<std::string>& values) {
    key(k);
    body_ += "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        body_ += (i ? "," : "") + jsonString(values[i]);
    body_ += "]";
    return *this;
}

JsonObject& JsonObject::addNull(const std::string& k) {
    key(k);
    body_ += "null";
    return *this;
}

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok:
            return "ok";
        case Outcome::Failed:
            return "failed";
        case Outcome::Stopped:
            return "stopped";
        case Outcome::PortLost:
            return "port-lost";
        case Outcome::NoFile:
            return "no-file";
        case Outcome::BadInput:
            return "bad-input";
    }
    return "failed";
}

std::string connectionJson(const std::string& command, const IspCore& core, Outcome outcome) {
    const ConnectionFacts& f = core.facts;
    JsonObject o;
    o.add("command", command).add("result", outcomeName(outcome));
    o.add("model_selected", core.model ? core.model->name : std::string());
    const bool answered = f.chip_identified || !f.firmware_suffix.empty();
    if (f.identified_model.empty())
        o.addNull("model_reported");
    else
        o.add("model_reported", f.identified_model);
    o.add("catalogue", answered ? modelsFittingChip(f) : std::vector<std::string>{});
    if (answered)
        o.add("firmware", versionText(f.firmware_version_byte) + f.firmware_suffix);
    else
        o.addNull("firmware");
    o.add("clock_hz", static_cast<long long>(f.clock_hz + 0.5));
    o.add("baud", static_cast<long long>(core.channel.current_baud()));
    std::vector<std::string> options;
    if (answered) {
        options.push_back(hex2(f.option_byte));
        if (f.firmware_suffix == "D" || f.firmware_suffix == "E")
            for (const std::uint8_t b : f.ext_option_bytes)
                options.push_back(hex2(b));
    }
    o.add("option_bytes", options);
    return o.text();
}

std::string chipJson(const IspCore& core, int chip, Outcome outcome, const std::string& serial) {
    const CodeBuffer& b = core.buffer;
    const auto& session = core.session;
    JsonObject o;
    o.add("command", "download").add("chip", static_cast<long long>(chip));
    o.add("result", outcomeName(outcome));
    o.add("model", core.model ? core.model->name : std::string());
    o.add("bytes",
          static_cast<long long>(b.viewEnd >= b.viewStart ? b.viewEnd - b.viewStart + 1 : 0));
    double seconds = 0;
    if (session.program_start_time.time_since_epoch().count() != 0) {
        seconds = std::chrono::duration<double>(std::chrono::system_clock::now() -
                                                session.program_start_time)
                      .count();
    }
    o.add("duration_s", seconds);
    if (serial.empty())
        o.addNull("serial");
    else
        o.add("serial", serial);
    o.add("baud", static_cast<long long>(core.facts.newbaud > 0 ? core.facts.newbaud
                                                                : core.channel.current_baud()));
    return o.text();
}

std::string imageJson(const CodeBuffer& b) {
    JsonObject o;
    o.add("command", "image").add("checksum", trimRight(b.checksumText));
    o.add("loadStart", hex4(b.loadStart)).add("loadEnd", hex4(b.loadEnd));
    o.add("viewStart", hex4(b.viewStart)).add("viewEnd", hex4(b.viewEnd));
    return o.text();
}

}  // namespace qmx::cli
